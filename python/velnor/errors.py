"""Result words as exceptions."""

OK = 0x00000000
ERR_DRIVER = 0x80000000
ERR_PROBE = 0x40000000
ERR_JTAG = 0x20000000
ERR_FILE = 0x10000000
BUSY = 0x08000000
ERR_NO_TARGET = 0x00800000
ERR_POWER_DOWN = 0x00400000
ERR_FORMAT = 0x00008000
ERR_DEVICE_MISMATCH = 0x00000008
ERR_SHUTDOWN_A = 0x00000004
ERR_SHUTDOWN_B = 0x00000002
ERR_CRC = 0x00000001

_BIT_NAMES = (
    (ERR_DRIVER, "VELNOR_ERR_DRIVER"),
    (ERR_PROBE, "VELNOR_ERR_PROBE"),
    (ERR_JTAG, "VELNOR_ERR_JTAG"),
    (ERR_FILE, "VELNOR_ERR_FILE"),
    (BUSY, "VELNOR_BUSY"),
    (ERR_NO_TARGET, "VELNOR_ERR_NO_TARGET"),
    (ERR_POWER_DOWN, "VELNOR_ERR_POWER_DOWN"),
    (ERR_FORMAT, "VELNOR_ERR_FORMAT"),
    (ERR_DEVICE_MISMATCH, "VELNOR_ERR_DEVICE_MISMATCH"),
    (ERR_SHUTDOWN_A, "VELNOR_ERR_SHUTDOWN_A"),
    (ERR_SHUTDOWN_B, "VELNOR_ERR_SHUTDOWN_B"),
    (ERR_CRC, "VELNOR_ERR_CRC"),
)


def result_names(word):
    """The set bits of a result word by name, highest first; a bit outside
    the library's vocabulary appears as its hexadecimal value."""
    names = []
    rest = word
    for bit, name in _BIT_NAMES:
        if word & bit:
            names.append(name)
            rest &= ~bit
    for shift in range(31, -1, -1):
        if rest & (1 << shift):
            names.append(f"0x{1 << shift:08X}")
    return tuple(names)


class VelnorError(Exception):
    """A call returned a nonzero result word.

    ``word`` is the result word, ``names`` its set bits by name and
    ``function`` the library function that returned it.
    """

    def __init__(self, word, function):
        super().__init__(word, function)
        self.word = word
        self.function = function
        self.names = result_names(word)

    def __str__(self):
        return f"{self.function} failed: 0x{self.word:08X} ({' | '.join(self.names)})"


def check(word, function):
    """Raises VelnorError for a nonzero result word."""
    if word != OK:
        raise VelnorError(word, function)
