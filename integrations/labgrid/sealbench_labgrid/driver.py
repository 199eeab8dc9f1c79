"""SealbenchDriver: the boot ROM of a Vireo board through sealbench-cli."""

import ipaddress
import logging
import os
import re
import shutil
import subprocess

import attr
from labgrid.driver.common import Driver
from labgrid.driver.exception import ExecutionError
from labgrid.factory import target_factory
from labgrid.resource import NetworkSerialPort, SerialPort
from labgrid.step import step
from labgrid.util.proxy import proxymanager

CPUS = ("VireoB", "VireoC_TO1", "VireoC_TO2")
FLASH_TYPES = ("nor", "nand", "user")
_READ_LINE = re.compile(r"^Register/Memory 0x([0-9a-fA-F]+) : 0x([0-9a-fA-F]+)$")


def _hex(value):
    """A HEX argument of sealbench-cli from an int or a text."""
    if isinstance(value, int):
        if not 0 <= value <= 0xFFFFFFFF:
            raise ValueError(f"address or value 0x{value:x} does not fit in 32 bits")
        return f"0x{value:08x}"
    return str(value)


def _url_host(host):
    """An IPv6 literal goes in brackets inside a URL."""
    try:
        if ipaddress.ip_address(host).version == 6:
            return f"[{host}]"
    except ValueError:
        pass
    return host


@target_factory.reg_driver
@attr.s(eq=False)
class SealbenchDriver(Driver):
    """Downloads, flashes and reads a Vireo board in its boot-ROM download mode.

    Binds to a local ``SerialPort`` (``RawSerialPort``, ``USBSerialPort``) or a
    ``NetworkSerialPort`` (protocol ``rfc2217`` or ``raw``), as a labgrid exporter
    publishes a board's port through ser2net.

    Args:
        cpu (str): VireoB | VireoC_TO1 | VireoC_TO2
        executable (str): the sealbench-cli to run (found on PATH by default)
        memory_init (str): memory initialisation before download and flash:
            ddr | sdram | none | a memory-init script
        timeout (float): seconds one command may take before it is ended
    """

    bindings = {"port": {"SerialPort", "NetworkSerialPort"}}

    cpu = attr.ib(validator=attr.validators.in_(CPUS))
    executable = attr.ib(default="sealbench-cli", validator=attr.validators.instance_of(str))
    memory_init = attr.ib(default="ddr", validator=attr.validators.instance_of(str))
    timeout = attr.ib(default=900.0, converter=float)

    def __attrs_post_init__(self):
        super().__attrs_post_init__()
        self.logger = logging.getLogger(f"{self}({self.target})")
        self._program = None

    def on_activate(self):
        program = self.executable
        if os.sep not in program:
            program = shutil.which(program)
        if not program or not os.access(program, os.X_OK):
            raise ExecutionError(f"sealbench-cli not found ({self.executable}); install Sealbench or set 'executable'")
        self._program = program

    def on_deactivate(self):
        self._program = None

    def port_name(self):
        """What sealbench-cli takes as --port for the bound resource."""
        if isinstance(self.port, NetworkSerialPort):
            host, port = proxymanager.get_host_and_port(self.port)
            schemes = {"rfc2217": "rfc2217", "raw": "socket"}
            if self.port.protocol not in schemes:
                raise ExecutionError(f"NetworkSerialPort protocol '{self.port.protocol}' is neither rfc2217 nor raw")
            return f"{schemes[self.port.protocol]}://{_url_host(host)}:{port}"
        if isinstance(self.port, SerialPort) and self.port.port:
            return self.port.port
        raise ExecutionError(f"{self.port} names no serial device")

    def _run(self, command, args, mem_init=None, files=()):
        # Values and files are joined to their options or follow "--": a path that
        # starts with "-" is a file, never an option.
        cmd = [self._program, command, *args, "--cpu", self.cpu, f"--port={self.port_name()}", "--progress", "none"]
        if mem_init is not None:
            cmd.append(f"--mem-init={os.fspath(mem_init)}")
        if files:
            cmd += ["--", *(os.fspath(f) for f in files)]
        self.logger.debug("running %s", " ".join(cmd))
        try:
            done = subprocess.run(cmd, capture_output=True, text=True, timeout=self.timeout, check=False)
        except subprocess.TimeoutExpired as e:
            raise ExecutionError(f"sealbench-cli {command} did not end within {self.timeout:g} s") from e
        out = done.stdout.splitlines()
        err = done.stderr.splitlines()
        if done.returncode != 0:
            raise ExecutionError(_failure_text(command, done.returncode, out, err), stdout=out, stderr=err)
        for line in err:
            self.logger.info("%s", line)
        return out

    @Driver.check_active
    @step(args=["image", "address"])
    def download(self, image, address=None, secure=False):
        """Loads `image` into RAM and starts it (at `address`, else the default
        address of the processor); with `secure`, `image` is a combined image."""
        args = []
        if address is not None:
            args += ["--address", _hex(address)]
        if secure:
            args.append("--secure")
        return self._run("download", args, self.memory_init, files=[image])

    @Driver.check_active
    @step(args=["image", "flash_type"])
    def flash(self, image, flash_type="nor", flash_lib=None, address=None, partition_size=None, secure=False):
        """Programs the board's flash with `image` through a flash library
        (built in, or `flash_lib` with flash_type "user")."""
        if flash_type not in FLASH_TYPES:
            raise ValueError(f"flash_type must be one of {', '.join(FLASH_TYPES)}")
        args = ["--flash-type", flash_type]
        if flash_lib is not None:
            args.append(f"--flash-lib={os.fspath(flash_lib)}")
        if address is not None:
            args += ["--address", _hex(address)]
        if partition_size is not None:
            args += ["--partition-size", _hex(partition_size)]
        if secure:
            args.append("--secure")
        return self._run("flash", args, self.memory_init, files=[image])

    @Driver.check_active
    @step(args=["mode"])
    def mem_init(self, mode=None):
        """Runs the memory initialisation alone (`mode` as memory_init; that one when None)."""
        return self._run("mem-init", [], mode if mode is not None else self.memory_init)

    @Driver.check_active
    @step(args=["address"], result=True)
    def read(self, address):
        """One 32-bit word of target memory, as an int."""
        for line in self._run("read", [_hex(address)]):
            match = _READ_LINE.match(line)
            if match:
                return int(match.group(2), 16)
        raise ExecutionError(f"sealbench-cli read printed no value for {_hex(address)}")

    @Driver.check_active
    @step(args=["address", "value"])
    def write_reg(self, address, value, width=32):
        """One register write of `width` bits (8, 16 or 32)."""
        return self._run("write-reg", [_hex(address), _hex(value), "--width", str(width)])


def _failure_text(command, status, out, err):
    """The lines that say what went wrong: the status-log errors first, then stderr."""
    reasons = [line for line in out if line.startswith("Error")]
    reasons += [line for line in err if line.strip()]
    if not reasons and out:
        reasons = out[-1:]
    text = "; ".join(reasons) if reasons else "no message"
    return f"sealbench-cli {command} failed (exit {status}): {text}"
