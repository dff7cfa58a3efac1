# pyvisa-py as a VXI-11 client of `rfctl serve`, for tst_vxi11. Prints what
# each step saw, one line per step.
import sys
import threading

import pyvisa
from pyvisa_py.protocols.vxi11 import ErrorCodes

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


def holding(a):
    # The lock, until standard input closes.
    a.lock_excl()
    print("locked", flush=True)
    sys.stdin.read()


def core(device):
    """The device's VXI-11 client and link id, for calls pyvisa does not make."""
    session = device.visalib.sessions[device.session]
    return session.interface, session.link


def writes(a):
    # Each further argument one write; what it and a read after it got.
    for data in sys.argv[3:]:
        print(outcome(lambda: a.write_raw(data.encode())), outcome(a.read))


def leaking(a):
    # The reply to a query in the middle of a write is for its own link only.
    b = link()
    seen = set()
    for _ in range(10):
        a.write_raw(b"syst:sernum?\nsyst:time 1\n")
        seen.add(b.query("syst:boardid?").strip() + " " + outcome(a.read))
    print(sorted(seen))


def hoarding(a):
    # Links one connection gets, and whether another client still gets one.
    client, _ = core(a)
    made = next(n for n in range(1, 300) if client.create_link(0, 0, 0, "inst0")[0])
    print(made, outcome(lambda: link().query("*IDN?")))


def waiting(a):
    # A lock wait "for ever", while another link holds the lock for a moment.
    b = link()
    client, id = core(b)
    a.lock_excl()
    threading.Timer(0.5, a.unlock).start()
    print(ErrorCodes(client.device_lock(id, 1, 2**32 - 1)).name)


steps = [basics, locking, interleaving, commanding, held, holding, writes, leaking, hoarding,
         waiting]
{step.__name__: step for step in steps}[sys.argv[2]](link())
