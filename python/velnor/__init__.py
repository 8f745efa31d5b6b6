"""velnor from Python: configures Spartan-II FPGAs and XCF PROMs over JTAG
through libvelnor, with ctypes.

    import velnor

    with velnor.Session("lpt") as session:
        session.config("design.bit")
        print(session.status().done)

The library is found by the path given to Session or load(), else the
VELNOR_LIBRARY environment variable, else the system's library search.
"""

from .errors import (
    BUSY,
    ERR_CRC,
    ERR_DEVICE_MISMATCH,
    ERR_DRIVER,
    ERR_FILE,
    ERR_FORMAT,
    ERR_JTAG,
    ERR_NO_TARGET,
    ERR_POWER_DOWN,
    ERR_PROBE,
    ERR_SHUTDOWN_A,
    ERR_SHUTDOWN_B,
    OK,
    VelnorError,
    result_names,
)
from .library import Library, load
from .session import (
    CABLE_AUTO,
    CABLE_PARALLEL,
    CABLE_USB,
    COUNT_BACKGROUND,
    DEFAULT_LPT_BASE,
    JMEM_READ,
    JMEM_VERIFY,
    JMEM_WRITE,
    BitFileInfo,
    ChainDevice,
    Operation,
    PromInfo,
    Session,
    Status,
    bitfile_info,
    cable_selector,
)

__all__ = [
    "BUSY",
    "BitFileInfo",
    "CABLE_AUTO",
    "CABLE_PARALLEL",
    "CABLE_USB",
    "COUNT_BACKGROUND",
    "ChainDevice",
    "DEFAULT_LPT_BASE",
    "ERR_CRC",
    "ERR_DEVICE_MISMATCH",
    "ERR_DRIVER",
    "ERR_FILE",
    "ERR_FORMAT",
    "ERR_JTAG",
    "ERR_NO_TARGET",
    "ERR_POWER_DOWN",
    "ERR_PROBE",
    "ERR_SHUTDOWN_A",
    "ERR_SHUTDOWN_B",
    "JMEM_READ",
    "JMEM_VERIFY",
    "JMEM_WRITE",
    "Library",
    "OK",
    "Operation",
    "PromInfo",
    "Session",
    "Status",
    "VelnorError",
    "bitfile_info",
    "cable_selector",
    "load",
    "result_names",
    "version",
]


def version(library=None):
    """The library's version, "MAJOR.MINOR.PATCH" (needs its velnor_version
    export; AttributeError from a library built before it)."""
    return load(library).version()
