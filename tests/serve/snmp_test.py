#!/usr/bin/python3
"""rfctl serve --snmp between kxsim and a station's real snmpd, snmptrapd and
net-snmp tools, all in the test's own folder.

usage: snmp_test.py RFCTL KXSIM [unittest arguments]"""
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from snmpstation import MIB_PATH, SOURCE, Station, wait_for  # noqa: E402

RFCTL, KXSIM = sys.argv[1:3]
MIB = os.path.join(SOURCE, "packaging", "snmp", "RFCONVERTER-MIB.txt")
SERIAL = "STRING: SN000123"


class Served(unittest.TestCase):
    config = None

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="rfctl-snmp-")
        self.addCleanup(shutil.rmtree, self.folder, True)
        self.station = Station(self.folder, self.config)
        self.addCleanup(self.station.stop)
        self.station.start_snmpd()
        self.kxsim = self.start_kxsim()
        self.log_path = os.path.join(self.folder, "serve.log")
        with open(self.log_path, "w") as log:
            self.serve = subprocess.Popen(
                [RFCTL, "--tcp", f"127.0.0.1:{self.kx_port}", "serve", "--raw-port", "0",
                 "--agentx-socket", self.station.socket], stdout=subprocess.DEVNULL, stderr=log)
        self.addCleanup(self.stop_serve)
        self.assertTrue(wait_for(lambda: SERIAL in self.get("rfConvSerialNumber.0")), self.log())

    def stop_serve(self):
        self.serve.send_signal(signal.SIGTERM)
        self.assertEqual(self.serve.wait(5), 0, self.log())

    def start_kxsim(self, port=0):
        kxsim = subprocess.Popen([KXSIM, "--faults", "--port", str(port)],
                                 stdout=subprocess.PIPE, text=True)
        self.addCleanup(lambda: (kxsim.kill(), kxsim.wait(), kxsim.stdout.close()))
        self.kx_port = int(kxsim.stdout.readline())
        return kxsim

    def fault(self, command):
        with socket.create_connection(("127.0.0.1", self.kx_port), timeout=5) as s:
            s.sendall(command.encode() + b"\n")

    def get(self, name):
        return self.station.tool("snmpget", "RFCONVERTER-MIB::" + name)

    def walk(self):
        return self.station.tool("snmpwalk", "RFCONVERTER-MIB::rfConverterMIB")

    def log(self):
        """What the server logged so far."""
        with open(self.log_path) as f:
            return f.read()


class SnmpTest(Served):
    def test_walk_reads_the_simulator_by_name(self):
        walk = self.walk()
        for line in ["rfConvModel.0 = STRING: KX4417-UDC",
                     "rfConvTemperature.0 = INTEGER: 352 0.1 degrees Celsius",
                     "rfConvCurrent.0 = INTEGER: 1250 mA",
                     "rfConvTuneFrequency.0 = INTEGER: 10000000 kHz",
                     "rfConvReferenceFrequency.0 = INTEGER: 100000 kHz",
                     "rfConvLo3Lock.0 = INTEGER: locked(1)",
                     "rfConvReferenceSource.0 = INTEGER: external(2)",
                     "rfConvFilterState.0 = INTEGER: state1(2)",
                     "rfConvIfFrequency.0 = INTEGER: if300MHz(2)",
                     "rfConvLinkUp.0 = INTEGER: true(1)",
                     "rfConvLinkTarget.0 = STRING: 127.0.0.1:%d" % self.kx_port]:
            with self.subTest(line=line):
                self.assertIn("RFCONVERTER-MIB::" + line + "\n", walk)
        # The walk ends at the module's end, and past it nothing of ours answers.
        self.assertIn("rfConvStatusReadErrors.0 = Counter32: 0\n", walk.splitlines(True)[-1])
        self.assertNotIn("RFCONVERTER", self.station.tool(
            "snmpgetnext", "RFCONVERTER-MIB::rfConvStatusReadErrors.0"))

    def test_each_change_is_notified_once(self):
        # (fault, notification it calls for or None, what that must carry)
        rows = [("fault:unlock 2", "rfConvLoUnlocked", "rfConvNotifiedLo.0 = INTEGER: 2"),
                ("fault:unlock 2", None, None),
                ("fault:lock 2", "rfConvLoLocked", "rfConvNotifiedLo.0 = INTEGER: 2"),
                ("fault:temperature 61.5", "rfConvTemperatureHigh", "INTEGER: 615 0.1"),
                ("fault:temperature 59.5", None, None),
                ("fault:temperature 58.5", "rfConvTemperatureNormal", "INTEGER: 585 0.1")]
        told = {}
        for command, name, carried in rows:
            with self.subTest(fault=command):
                self.fault(command)
                if name:
                    told[name] = told.get(name, 0) + 1
                    self.assertTrue(wait_for(lambda: len(self.station.traps(name)) >= told[name]))
                    trap = self.station.traps(name)[-1]
                    self.assertIn(SERIAL, trap)
                    self.assertIn(carried, trap)
                wait_for(lambda: False, 2.5)  # more reads, each showing the same change
                for each, count in told.items():
                    self.assertEqual(len(self.station.traps(each)), count, each)

    def test_instrument_lost_and_back(self):
        # A hung instrument holds up no GET: each is answered from the last read.
        self.kxsim.send_signal(signal.SIGSTOP)
        self.assertIn(SERIAL, self.get("rfConvSerialNumber.0"))
        self.kxsim.kill()
        self.kxsim.wait()
        self.assertTrue(wait_for(lambda: self.station.traps("rfConvInstrumentLost")))
        self.assertIn(SERIAL, self.station.traps("rfConvInstrumentLost")[0])
        walk = self.walk()
        self.assertIn("rfConvLinkUp.0 = INTEGER: false(2)", walk)
        self.assertNotIn("rfConvTemperature.0", walk)
        self.kxsim = self.start_kxsim(self.kx_port)
        self.assertTrue(wait_for(lambda: self.station.traps("rfConvInstrumentBack"), 15))
        self.assertEqual(len(self.station.traps("rfConvInstrumentLost")), 1)

    def test_master_restart(self):
        self.station.stop_snmpd()
        wait_for(lambda: False, 11)  # two attempts to reconnect
        self.assertEqual(self.log().count("trying again"), 1, self.log())
        self.station.start_snmpd()
        self.assertTrue(wait_for(lambda: SERIAL in self.get("rfConvSerialNumber.0"), 15))
        self.fault("fault:unlock 1")
        self.assertTrue(wait_for(lambda: self.station.traps("rfConvLoUnlocked")))


class ReadmeTest(Served):
    """The README's snmpd.conf lines and snmpwalk, at this folder's addresses."""
    section = open(os.path.join(SOURCE, "README.md")).read().split(
        "## Station monitoring over SNMP")[1].split("\n## ")[0]
    config = re.search(r"```conf\n(.*?)```", section, re.S).group(1).splitlines()

    def test_readme(self):
        shell = re.search(r"```sh\n\$ (.*?)\n(.*?)```", self.section, re.S)
        args = [f"127.0.0.1:{self.station.port}" if a == "192.0.2.10" else a
                for a in shell.group(1).split()]
        run = subprocess.run([args[0], "-M", "+" + MIB_PATH] + args[1:], capture_output=True,
                             text=True, timeout=30, env=self.station.env)
        for line in shell.group(2).splitlines():
            with self.subTest(line=line):
                self.assertIn(line + "\n", run.stdout)
        # The trap destination of those lines gets the notifications.
        self.fault("fault:unlock 2")
        self.assertTrue(wait_for(lambda: self.station.traps("rfConvLoUnlocked")))


class MibTest(unittest.TestCase):
    def test_smilint_level_3(self):
        lint = subprocess.run(["smilint", "-l", "3", MIB], capture_output=True, text=True,
                              env=dict(os.environ, SMIPATH=MIB_PATH + ":/usr/share/snmp/mibs"))
        self.assertEqual(lint.stdout + lint.stderr, "")


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:])
