# pyvisa-py as a VXI-11 client of `rfctl serve`, for tst_vxi11. Prints what
# each step saw, one line per step.
import sys
import threading

import pyvisa

manager = pyvisa.ResourceManager("@py")


def link():
    device = manager.open_resource(f"TCPIP::{sys.argv[1]}::INSTR")
    device.timeout = 3000
    return device


def outcome(step):
    """What the step returned, or the VISA error it raised."""
    try:
        return str(step()).strip()
    except pyvisa.VisaIOError as e:
        return e.abbreviation


def basics(a):
    a.chunk_size = 4  # replies come in parts, each a device_read of its own
    print(a.query("*IDN?").strip())
    a.write("ENET:PORT?")
    print("stb", a.read_stb())
    a.clear()
    print("stb", a.read_stb())
    print(a.query("*IDN?").strip())


def locking(a):
    b = link()
    a.lock_excl()
    print(outcome(b.lock_excl), outcome(lambda: b.query("*IDN?")))
    a.unlock()
    print(b.query("*IDN?").strip())


def interleaving(_):
    # Each thread its own link and query; every answer it gets must be the same.
    queries = ("*IDN?", "ENET:IP?", "ENET:PORT?")
    answers = {q: set() for q in queries}

    def ask(query):
        device = link()
        answers[query].update(device.query(query) for _ in range(20))

    threads = [threading.Thread(target=ask, args=(q,)) for q in queries]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    print([len(a) for a in answers.values()], len(set.union(*answers.values())))


def commanding(a):
    print(outcome(lambda: a.write("ENET:PORT 5025")), outcome(lambda: a.query("*IDN?")))


def held(a):
    a.lock_excl()
    a.query("ENET:PORT?")


steps = [basics, locking, interleaving, commanding, held]
{step.__name__: step for step in steps}[sys.argv[2]](link())
