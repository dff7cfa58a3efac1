"""A station's SNMP side in a test's own folder: the real snmpd as AgentX
master on a free loopback UDP port, with its AgentX socket in the folder,
and the real snmptrapd it sends notifications to, logging to a file."""
import glob
import os
import re
import socket
import subprocess
import time

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
# The shipped MIB, and the SMIv2 base modules it imports (erlang-snmp).
MIB_PATH = ":".join(glob.glob("/usr/lib/erlang/lib/snmp-*/mibs") +
                    [os.path.join(SOURCE, "packaging", "snmp")])


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(check, seconds=10.0):
    """check()'s first true result within `seconds`, else its last one."""
    deadline = time.monotonic() + seconds
    while True:
        result = check()
        if result or time.monotonic() > deadline:
            return result
        time.sleep(0.2)


class Station:
    def __init__(self, folder, config=None):
        self.folder = folder
        self.port, self.trap_port = free_udp_port(), free_udp_port()
        self.socket = os.path.join(folder, "agentx")
        self.trap_log = os.path.join(folder, "traps.log")
        config = config or ["master agentx", "rocommunity public 127.0.0.1",
                            "trap2sink 127.0.0.1 public"]
        self.community = next(re.finditer(r"^rocommunity (\S+)", "\n".join(config), re.M))[1]
        self.write("snmpd.conf", [f"agentXSocket {self.socket}",
                                  f"agentaddress udp:127.0.0.1:{self.port}"] +
                   [self.local(line) for line in config])
        self.write("snmptrapd.conf", [f"authCommunity log {self.community}"])
        self.env = dict(os.environ, SNMP_PERSISTENT_DIR=os.path.join(folder, "persist"),
                        MIBS="")
        self.snmpd = None
        self.trapd = self.daemon("snmptrapd", "-c", "snmptrapd.conf", "-M", "+" + MIB_PATH,
                                 "-m", "RFCONVERTER-MIB", "-F", "TRAP %v\n", "-Lf",
                                 self.trap_log, f"udp:127.0.0.1:{self.trap_port}")

    def local(self, line):
        """A snmpd.conf line for a station's network, turned to this folder's."""
        line = re.sub(r"\b192\.0\.2\.0/24\b", "127.0.0.1", line)
        return re.sub(r"^(trap2sink) \S+", rf"\1 127.0.0.1:{self.trap_port}", line)

    def write(self, name, lines):
        with open(os.path.join(self.folder, name), "w") as f:
            f.write("\n".join(lines) + "\n")

    def daemon(self, program, *args):
        return subprocess.Popen([program, "-f", "-C", *args], cwd=self.folder, env=self.env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def start_snmpd(self):
        self.snmpd = self.daemon("snmpd", "-c", "snmpd.conf", "-Lf", "snmpd.log")
        wait_for(lambda: os.path.exists(self.socket))

    def stop_snmpd(self):
        self.snmpd.terminate()
        self.snmpd.wait(5)

    def stop(self):
        for p in (self.snmpd, self.trapd):
            if p:
                p.kill()
                p.wait(5)

    def tool(self, program, *args):
        """stdout of one of net-snmp's tools run against snmpd, with the MIB loaded."""
        run = subprocess.run([program, "-v2c", "-c", self.community,
                              "-M", "+" + MIB_PATH, "-m", "+RFCONVERTER-MIB", "-t", "2",
                              f"127.0.0.1:{self.port}", *args], capture_output=True,
                             text=True, timeout=30, env=self.env)
        return run.stdout

    def traps(self, name):
        """The notifications named `name` snmptrapd logged so far."""
        try:
            with open(self.trap_log) as f:
                return [l for l in f if l.startswith("TRAP ") and f"RFCONVERTER-MIB::{name}\t" in l]
        except FileNotFoundError:
            return []
