"""An open cable, with bytes in and out, and operations on the library's
worker thread."""

import ctypes
import os
import time
from ctypes import byref, c_int32, c_uint8, c_uint32
from dataclasses import dataclass

from .errors import BUSY, VelnorError, check
from .library import BitFileInfoRecord, ChainDeviceRecord, Library, load

CABLE_AUTO = 0x00000000
CABLE_USB = 0x00010000
CABLE_PARALLEL = 0x00020000
DEFAULT_LPT_BASE = 0x0378
COUNT_BACKGROUND = 0x80000000
JMEM_WRITE = 0
JMEM_READ = 1
JMEM_VERIFY = 3

_MAX_COUNT = 0x7FFFFFFF


def _number(text):
    """Decimal, or hexadecimal after 0x; None for anything else."""
    hexadecimal = text[:2] in ("0x", "0X")
    digits = text[2:] if hexadecimal else text
    allowed = "0123456789abcdefABCDEF" if hexadecimal else "0123456789"
    if not digits or any(c not in allowed for c in digits):
        return None
    return int(digits, 16 if hexadecimal else 10)


def cable_selector(cable):
    """The velnor_init selector for cable: a number is taken as it is; text
    is read as velnorctl's --cable: "auto", "usb", "usb:N", "lpt",
    "lpt:BASE"."""
    if isinstance(cable, int):
        return cable
    kind, colon, unit = cable.partition(":")
    kinds = {"usb": CABLE_USB, "lpt": CABLE_PARALLEL}
    number = _number(unit) if colon else 0
    if cable == "auto":
        return CABLE_AUTO
    if kind not in kinds or number is None or number > 0xFFFF:
        raise ValueError(f"bad cable {cable!r}")
    return kinds[kind] | number


def _text(field):
    return field.decode("latin-1")


@dataclass(frozen=True)
class Status:
    """What velnor_get_status reads from the FPGA."""

    idcode: int
    status: int
    usercode: int

    @property
    def done(self):
        return bool(self.status >> 14 & 1)

    @property
    def init(self):
        return bool(self.status >> 13 & 1)

    @property
    def crc_error(self):
        return bool(self.status & 1)

    @property
    def mode(self):
        """The mode pins M2 M1 M0 as a number."""
        return self.status >> 10 & 7


@dataclass(frozen=True)
class ChainDevice:
    """One device of a chain scan; index 0 is nearest TDO. name is None for
    a part the library does not know."""

    index: int
    name: "str | None"
    idcode: int
    ir_length: int
    ir_capture: int


@dataclass(frozen=True)
class PromInfo:
    idcode: int
    size_bytes: int


@dataclass(frozen=True)
class BitFileInfo:
    design_name: str
    part_name: str
    date: str
    time: str
    length: int


def bitfile_info(path, library=None):
    """The header of a .bit file; touches no cable."""
    lib = library if isinstance(library, Library) else load(library)
    record = BitFileInfoRecord()
    check(lib.velnor_bitfile_info(os.fsencode(path), byref(record)), "velnor_bitfile_info")
    return BitFileInfo(
        _text(record.design_name),
        _text(record.part_name),
        _text(record.date),
        _text(record.time),
        record.length,
    )


def _in_bytes(data):
    data = bytes(data)
    return (c_uint8 * len(data)).from_buffer_copy(data)


def _count_word(count, background):
    if count > _MAX_COUNT:
        raise ValueError(f"{count} bytes do not fit a count word")
    return c_int32(count | COUNT_BACKGROUND if background else count)


class Operation:
    """A configuration or a transfer running on the library's worker thread.

    As the bytes go, the library lowers the count word to the bytes still to
    go (``remaining``). The operation's result word is handed to the first
    gated call after it ends; ``poll`` makes that call, a configuration
    request with no source, which only reports the worker's state."""

    def __init__(self, session, function, count, total, buffers, value):
        self._session = session
        self._function = function
        self._count = count
        self._buffers = buffers  # the worker uses them until the result is collected
        self._value = value
        self._word = None
        self.total = total

    @property
    def remaining(self):
        return self._count.value

    @property
    def done(self):
        return self._word is not None

    def _end(self, word):
        self._word = word
        self._session._running = None

    def poll(self):
        """True once the operation has ended and its result is collected."""
        if self._word is None:
            # Each background operation is polled through its own export.
            library = self._session.library
            if self._function == "velnor_spi_xfer":
                word = library.velnor_spi_xfer(0, None, None, None)
            else:
                word = library.velnor_config(None, None)
            if word != BUSY:
                self._end(word)
        return self._word is not None

    def wait(self, progress=None, interval=0.005):
        """Waits for the end; while waiting calls progress(done_bytes, total)
        whenever the count word has moved, and once at the end. Returns the
        bytes received for a transfer, None for a configuration; raises
        VelnorError with the operation's result word."""
        shown = None
        while True:
            ended = self.poll()
            sent = self.total - self.remaining
            if progress is not None and sent != shown:
                progress(sent, self.total)
                shown = sent
            if ended:
                break
            time.sleep(interval)
        check(self._word, self._function)
        return self._value()


class Session:
    """A cable opened with velnor_init and closed with velnor_free, also as
    a context manager. The library has one state for the whole process, so
    one session is open at a time.

    cable: a selector number or velnorctl's --cable text ("usb:0", "lpt").
    library: a Library, or the path to load it from (see library.candidates).

    Every call raises VelnorError for a nonzero result word. A call made while
    an operation runs on the worker thread first waits for that operation
    (and raises its error, if it failed)."""

    def __init__(self, cable=CABLE_AUTO, library=None):
        self.library = library if isinstance(library, Library) else load(library)
        self.selector = cable_selector(cable)
        self._running = None

    def open(self):
        check(self.library.velnor_init(self.selector), "velnor_init")
        return self

    def close(self):
        """Collects a running operation's result (``wait`` still reports it),
        then closes the cable."""
        while self._running is not None:
            if not self._running.poll():
                time.sleep(0.005)
        self.library.velnor_free()

    def __enter__(self):
        return self.open()

    def __exit__(self, *exception):
        self.close()

    def _call(self, name, *arguments):
        if self._running is not None:
            self._running.wait()
        check(getattr(self.library, name)(*arguments), name)

    # --- Chain and FPGA ------------------------------------------------------

    def scan_chain(self):
        """Scans the chain afresh; a list of ChainDevice, nearest TDO first."""
        count = c_int32()
        self._call("velnor_scan_chain", byref(count))
        devices = []
        record = ChainDeviceRecord()
        for index in range(count.value):
            if not self.library.velnor_chain_device(index, byref(record)):
                break
            name = _text(record.name) or None
            devices.append(
                ChainDevice(index, name, record.idcode, record.ir_length, record.ir_capture)
            )
        return devices

    def add_part(self, name, idcode, ir_length):
        """Adds a part the chain scan does not know (velnor_add_part): a name
        of up to 15 characters, its IDCODE (the version nibble is ignored)
        and its instruction register's length."""
        check(self.library.velnor_add_part(name.encode(), idcode, ir_length), "velnor_add_part")

    def check_daisychain(self):
        """True when the last chain scan found exactly two devices."""
        return self.library.velnor_check_daisychain() == 1

    def status(self):
        idcode, status, usercode = c_uint32(), c_uint32(), c_uint32()
        self._call("velnor_get_status", byref(idcode), byref(status), byref(usercode))
        return Status(idcode.value, status.value, usercode.value)

    def shutdown(self):
        self._call("velnor_shutdown")

    def config(self, source, progress=None):
        """Configures the FPGA from source: a .bit file's path, or raw
        bitstream bytes (they begin with 0xFF). With progress, the work runs
        on the worker thread and progress(done_bytes, total) follows it."""
        if progress is None:
            buffer, count = self._config_source(source, background=False)
            self._call("velnor_config", buffer, byref(count))
            return None
        return self.start_config(source).wait(progress)

    def start_config(self, source):
        """Starts the configuration on the worker thread; an Operation."""
        buffer, count = self._config_source(source, background=True)
        if isinstance(source, (bytes, bytearray)):
            total = len(source)
        else:
            total = bitfile_info(source, self.library).length
        return self._start("velnor_config", count, total, [buffer], lambda: None,
                           lambda: self.library.velnor_config(buffer, byref(count)))

    def _config_source(self, source, background):
        if self._running is not None:
            self._running.wait()
        if isinstance(source, (bytes, bytearray)):
            if not source or source[0] != 0xFF:
                raise ValueError("bitstream bytes begin with 0xFF; give a .bit file by its path")
            return ctypes.create_string_buffer(bytes(source), len(source)), _count_word(
                len(source), background)
        return ctypes.create_string_buffer(os.fsencode(source)), _count_word(0, background)

    def _start(self, function, count, total, buffers, value, call):
        operation = Operation(self, function, count, total, buffers, value)
        word = call()
        if word == BUSY:
            self._running = operation
        else:
            operation._word = word
        return operation

    # --- User channels and the design's memory -------------------------------

    def spi_xfer(self, channel, data):
        """Sends data on user channel 1 or 2; the bytes received, as many."""
        transmit, receive = _in_bytes(data), (c_uint8 * len(data))()
        self._call("velnor_spi_xfer", channel, transmit, receive,
                   byref(_count_word(len(data), False)))
        return bytes(receive)

    def start_spi_xfer(self, channel, data):
        """spi_xfer on the worker thread; an Operation whose wait() returns
        the bytes received."""
        if self._running is not None:
            self._running.wait()
        transmit, receive = _in_bytes(data), (c_uint8 * len(data))()
        count = _count_word(len(data), True)
        return self._start("velnor_spi_xfer", count, len(data), [transmit, receive],
                           lambda: bytes(receive),
                           lambda: self.library.velnor_spi_xfer(channel, transmit, receive,
                                                                byref(count)))

    def select_channel(self, channel):
        """Selects user channel 1 or 2 without sending; 0 closes the open
        channel (its frame ends)."""
        self._call("velnor_spi_xfer", channel, None, None, None)

    def _jmem(self, mode, address, buffer):
        if self._running is not None:
            self._running.wait()
        return self.library.jmem_access(mode, address, buffer, len(buffer))

    def mem_write(self, address, data):
        check(self._jmem(JMEM_WRITE, address, _in_bytes(data)), "jmem_access")

    def mem_read(self, address, length):
        buffer = (c_uint8 * length)()
        check(self._jmem(JMEM_READ, address, buffer), "jmem_access")
        return bytes(buffer)

    def mem_verify(self, address, data):
        """True when the memory holds data; False at a difference (the
        library prints its address)."""
        word = self._jmem(JMEM_VERIFY, address, _in_bytes(data))
        if word not in (0, 1):
            raise VelnorError(word, "jmem_access")
        return word == 0

    # --- Configuration PROM ----------------------------------------------------

    def prom_info(self):
        idcode, size = c_uint32(), c_uint32()
        self._call("velnor_cfgrom_info", byref(idcode), byref(size))
        return PromInfo(idcode.value, size.value)

    def prom_read(self, address=0, length=None):
        """length bytes from address (to the end of the part by default)."""
        if length is None:
            length = self.prom_info().size_bytes - address
        buffer = (c_uint8 * length)()
        self._call("velnor_cfgrom_read", buffer, address, length)
        return bytes(buffer)

    def prom_program(self, data, address=0):
        """Programs whole 512-byte blocks; erase first."""
        self._call("velnor_cfgrom_program", _in_bytes(data), address, len(data))

    def prom_erase(self):
        self._call("velnor_cfgrom_erase")
