"""A lab on this machine for the driver's tests: vireo-sim boards, each
exported by its own ser2net on an ephemeral loopback port, as a labgrid
exporter would export a real board."""

import os
import re
import select
import shutil
import signal
import subprocess
import tempfile
import time


def ser2net_executable():
    return shutil.which("ser2net") or next(
        (p for p in ("/usr/sbin/ser2net", "/usr/local/sbin/ser2net") if os.access(p, os.X_OK)), None)


def _listening_port(pid):
    """The TCP port the process listens on (ser2net binds port 0, so the kernel picks a free one)."""
    inodes = set()
    fd_dir = f"/proc/{pid}/fd"
    for fd in os.listdir(fd_dir):
        try:
            match = re.match(r"socket:\[(\d+)\]", os.readlink(os.path.join(fd_dir, fd)))
        except OSError:
            continue
        if match:
            inodes.add(match.group(1))
    for table in ("tcp", "tcp6"):
        with open(f"/proc/{pid}/net/{table}", encoding="ascii") as rows:
            next(rows)
            for row in rows:
                fields = row.split()
                if fields[3] == "0A" and fields[9] in inodes:
                    return int(fields[1].rsplit(":", 1)[1], 16)
    return 0


class LocalBoard:
    """One vireo-sim and, when `exported`, the ser2net in front of it."""

    def __init__(self, sim, cpu, workdir, extra=(), exported=True):
        self.dir = tempfile.mkdtemp(prefix="board-", dir=workdir)
        self.dump = os.path.join(self.dir, "flash.out")
        self.ser2net = None
        self.port = 0
        self.sim = subprocess.Popen([sim, "--cpu", cpu, "--dump-flash", self.dump, *extra],
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        # The board's first line names its pty; a board that does not say it within 20 s is broken.
        ready, _, _ = select.select([self.sim.stdout], [], [], 20)
        line = self.sim.stdout.readline().strip() if ready else ""
        if not line.startswith("serial: "):
            self.stop()
            raise RuntimeError(f"vireo-sim did not announce its pty: {line!r}")
        self.pty = line[len("serial: "):]
        if exported:
            self._export()

    def _export(self):
        config = os.path.join(self.dir, "ser2net.yaml")
        with open(config, "w", encoding="ascii") as out:
            out.write("connection: &board\n"
                      "  accepter: telnet(rfc2217),tcp,127.0.0.1,0\n"
                      f"  connector: serialdev,{self.pty},115200n81,local\n")
        self.log = os.path.join(self.dir, "ser2net.log")
        with open(self.log, "w", encoding="ascii") as log:
            self.ser2net = subprocess.Popen(
                [ser2net_executable(), "-n", "-u", "-c", config, "-P", os.path.join(self.dir, "pid")],
                stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 20
        while not self.port and time.monotonic() < deadline:
            if self.ser2net.poll() is not None:
                break
            self.port = _listening_port(self.ser2net.pid)
            time.sleep(0.02)
        if not self.port:
            self.stop()
            with open(self.log, encoding="utf-8", errors="replace") as log:
                raise RuntimeError(f"ser2net did not listen: {log.read()}")

    def stop_board(self):
        """Ends vireo-sim, which writes its flash to self.dump; returns its exit status."""
        if self.sim.poll() is None:
            self.sim.send_signal(signal.SIGTERM)
            try:
                self.sim.wait(30)
            except subprocess.TimeoutExpired:
                self.sim.kill()
                self.sim.wait()
        return self.sim.returncode

    def stop(self):
        if self.ser2net is not None and self.ser2net.poll() is None:
            self.ser2net.terminate()
            try:
                self.ser2net.wait(10)
            except subprocess.TimeoutExpired:
                self.ser2net.kill()
                self.ser2net.wait()
        self.stop_board()
        self.sim.stdout.close()
