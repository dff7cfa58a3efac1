#!/usr/bin/python3
"""Drives kxsim with pyvisa-py as a generic VISA client would.

Usage: pyvisa_client.py PATH_TO_KXSIM
Starts the simulator on a free port, checks identification and an integer-mode
tune read back through the status reply, then stops it with SIGTERM.
"""
import select
import signal
import subprocess
import sys

import pyvisa


def fail(message):
    print("FAIL: " + message)
    return 1


def read_port(proc):
    ready, _, _ = select.select([proc.stdout], [], [], 30)
    if not ready:
        raise RuntimeError("kxsim printed no port within 30 s")
    line = proc.stdout.readline().strip()
    if not line.isdigit():
        raise RuntimeError("first line is not a port: %r" % line)
    return int(line)


def exercise(port):
    rm = pyvisa.ResourceManager("@py")
    inst = rm.open_resource("TCPIP::127.0.0.1::%d::SOCKET" % port)
    try:
        inst.read_termination = "\n"
        inst.write_termination = "\n"
        inst.timeout = 10000

        idn = inst.query("*IDN?").split(",")
        if len(idn) != 4 or idn[0] != "Ostrelin" or not idn[1].startswith("KX4417"):
            return fail("unexpected identification %r" % idn)

        inst.write("freq:pllm 1")
        inst.write("freq:tune 12.3456")
        fields = inst.query("syst:readstate?").split(",")
        if len(fields) != 16:
            return fail("status has %d fields" % len(fields))
        if fields[1] != "12.4000" or fields[12] != "1":
            return fail("integer-mode tune read back as %r (mode %r)" % (fields[1], fields[12]))
        print("identification and integer-mode tune OK: " + ",".join(fields))
        return 0
    finally:
        inst.close()
        rm.close()


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    proc = subprocess.Popen([sys.argv[1], "--port", "0"], stdout=subprocess.PIPE,
                            universal_newlines=True)
    try:
        result = exercise(read_port(proc))
        proc.send_signal(signal.SIGTERM)
        code = proc.wait(timeout=30)
        if code != 0:
            return fail("kxsim exited with %d after SIGTERM" % code)
        return result
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()


if __name__ == "__main__":
    sys.exit(main())
