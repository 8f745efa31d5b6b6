"""Finding libvelnor and declaring its functions for ctypes."""

import ctypes
import ctypes.util
import os
from ctypes import POINTER, c_char, c_char_p, c_int32, c_uint8, c_uint32, c_void_p


class ChainDeviceRecord(ctypes.Structure):
    """VelnorChainDevice."""

    _fields_ = [
        ("name", c_char * 16),
        ("idcode", c_uint32),
        ("ir_length", c_int32),
        ("ir_capture", c_uint32),
    ]


class BitFileInfoRecord(ctypes.Structure):
    """VelnorBitFileInfo."""

    _fields_ = [
        ("design_name", c_char * 64),
        ("part_name", c_char * 64),
        ("date", c_char * 64),
        ("time", c_char * 64),
        ("length", c_uint32),
    ]


# VelnorMessageCallback: the text and the context given with it. Keep the
# object alive while the library holds it.
MESSAGE_CALLBACK = ctypes.CFUNCTYPE(None, c_char_p, c_void_p)

_BYTES = POINTER(c_uint8)
_WORD = POINTER(c_uint32)
_COUNT = POINTER(c_int32)

# Every export of velnor.h: name -> (restype, argtypes).
PROTOTYPES = {
    "velnor_init": (c_uint32, [c_uint32]),
    "velnor_free": (c_uint32, []),
    "velnor_check_daisychain": (c_uint32, []),
    "velnor_get_status": (c_uint32, [_WORD, _WORD, _WORD]),
    "velnor_shutdown": (c_uint32, []),
    # The source is a file name or bitstream bytes.
    "velnor_config": (c_uint32, [c_void_p, _COUNT]),
    "velnor_spi_xfer": (c_uint32, [c_uint8, _BYTES, _BYTES, _COUNT]),
    "jmem_access": (c_uint32, [c_uint8, c_uint32, _BYTES, c_uint32]),
    "velnor_cfgrom_read": (c_uint32, [_BYTES, c_uint32, c_uint32]),
    "velnor_cfgrom_program": (c_uint32, [_BYTES, c_uint32, c_uint32]),
    "velnor_cfgrom_erase": (c_uint32, []),
    "velnor_scan_chain": (c_uint32, [_COUNT]),
    "velnor_chain_device": (c_uint32, [c_int32, POINTER(ChainDeviceRecord)]),
    "velnor_cfgrom_info": (c_uint32, [_WORD, _WORD]),
    "velnor_bitfile_info": (c_uint32, [c_char_p, POINTER(BitFileInfoRecord)]),
    "velnor_version": (c_char_p, []),
    "velnor_add_part": (c_uint32, [c_char_p, c_uint32, c_int32]),
    "velnor_set_message_callback": (None, [MESSAGE_CALLBACK, c_void_p]),
}

# Exports that libraries built before them lack.
OPTIONAL = frozenset({"velnor_version"})


# An installed tree holds this package in LIBDIR/velnor/python/velnor, three
# folders below the library.
INSTALLED_LIBRARY = os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "libvelnor.so.1")


def candidates(path=None):
    """Where the library is looked for, in order: the path given, else the
    VELNOR_LIBRARY environment variable, else the library installed with
    this package (when there is one), else the system's library search
    (ctypes.util, then libvelnor.so.1 and libvelnor.so by name)."""
    if path is not None:
        return [os.fspath(path)]
    if os.environ.get("VELNOR_LIBRARY"):
        return [os.environ["VELNOR_LIBRARY"]]
    names = []
    if os.path.exists(INSTALLED_LIBRARY):
        names.append(os.path.normpath(INSTALLED_LIBRARY))
    found = ctypes.util.find_library("velnor")
    if found:
        names.append(found)
    names += [name for name in ("libvelnor.so.1", "libvelnor.so") if name not in names]
    return names


class Library:
    """libvelnor, loaded, with every export declared as an attribute of the
    same name (``lib.velnor_init(0x00020000)`` calls it directly)."""

    def __init__(self, path=None):
        failures = []
        for name in candidates(path):
            try:
                self.cdll = ctypes.CDLL(name)
                self.path = name
                break
            except OSError as error:
                failures.append(str(error))
        else:
            raise OSError("cannot load libvelnor: " + "; ".join(failures))
        for name, (restype, argtypes) in PROTOTYPES.items():
            try:
                function = getattr(self.cdll, name)
            except AttributeError:
                if name in OPTIONAL:
                    continue
                raise OSError(f"{self.path} has no {name}") from None
            function.restype = restype
            function.argtypes = argtypes
            setattr(self, name, function)

    def version(self):
        """The library's version, "MAJOR.MINOR.PATCH". Libraries built before
        the velnor_version export have none: AttributeError."""
        if not hasattr(self, "velnor_version"):
            raise AttributeError(f"{self.path} has no velnor_version")
        return self.velnor_version().decode("ascii")


_loaded = {}


def load(path=None):
    """The Library at path (see candidates); loaded once per path."""
    key = None if path is None else os.fspath(path)
    if key not in _loaded:
        _loaded[key] = Library(path)
    return _loaded[key]
