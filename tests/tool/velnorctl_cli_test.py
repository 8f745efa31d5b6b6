"""velnorctl as scripts meet it: numbers, --json read back, -q, -v,
--version and the reasons given for refused files. Run by CTest with the
built programs in VELNORCTL and VELNOR_BITGEN."""

import json
import os
import re
import subprocess

import pytest

VELNORCTL = os.environ["VELNORCTL"]


def without_board_line(text):
    """The library announces the virtual board on stderr; the rest is velnorctl's."""
    return re.sub(r"virtual board: [^\r\n]*\r?\n", "", text, count=1)


def velnorctl(board, *arguments, **options):
    environment = dict(os.environ, VELNOR_BENCH=board)
    run = subprocess.run([VELNORCTL, *arguments], env=environment, capture_output=True,
                         text=True, timeout=120, **options)
    run.stderr = without_board_line(run.stderr)
    return run


@pytest.fixture(scope="module")
def bitstream(tmp_path_factory):
    path = tmp_path_factory.mktemp("velnorctl") / "design.bit"
    subprocess.run([os.environ["VELNOR_BITGEN"], "xc2s200", str(path)], check=True,
                   stdout=subprocess.DEVNULL)
    return str(path)


def test_numbers_are_decimal_or_hexadecimal_never_octal(bitstream):
    run = velnorctl("default", "--cable", "lpt", "config", bitstream,
                    "mem", "write", "10", "AB", "mem", "write", "8", "CD",
                    "mem", "read", "010", "1", "mem", "read", "08", "1",
                    "mem", "read", "0xA", "1", "mem", "read", "0X8", "1")
    assert run.returncode == 0, run.stderr
    assert run.stdout.splitlines()[-4:] == [
        "0x0000000A: AB", "0x00000008: CD", "0x0000000A: AB", "0x00000008: CD"]


@pytest.mark.parametrize("address", ["", "0x", "-1", "+1", " 1", "1e3", "0x1g", "0b1"])
def test_what_is_not_a_number_is_refused(address):
    run = velnorctl("default", "mem", "read", address, "1")
    assert run.returncode == 2
    assert run.stderr.startswith(f"velnorctl: bad address '{address}'\n")


def test_json_objects_read_back(bitstream):
    # Through the USB cable, whose firmware boot the library reports as it
    # goes: the report and config's text leave stdout to the objects.
    run = velnorctl("mode=jtag", "--cable", "usb", "--json",
                    "scan", "config", bitstream, "status", "prom", "info")
    assert run.returncode == 0, run.stderr
    scan, status, prom = [json.loads(line) for line in run.stdout.splitlines()]
    assert scan == {"command": "scan", "result": 0, "errors": [], "devices": [
        {"index": 0, "name": "xcf02s", "idcode": 0x05045093, "ir_length": 8, "ir_capture": 0x01},
        {"index": 1, "name": "v200", "idcode": 0x0061C093, "ir_length": 5, "ir_capture": 0x19}]}
    assert status == {"command": "status", "result": 0, "errors": [], "idcode": 0x0061C093,
                      "status": 0x7700, "done": True, "init": True, "crc_error": False,
                      "mode": 0b101, "usercode": 0xFFFFFFFF}
    assert prom == {"command": "prom info", "result": 0, "errors": [], "part": "xcf02s",
                    "idcode": 0x05045093, "size_bytes": 262144}
    assert "Setup EZ-USB Firmware" in run.stderr and "configured\n" in run.stderr


def test_json_of_a_failure_names_its_bits():
    run = velnorctl("chain=xc2s50,other:0x12345093:6", "--cable", "lpt", "--json", "scan",
                    "status")
    assert run.returncode == 1
    [scan] = [json.loads(line) for line in run.stdout.splitlines()]
    assert scan["result"] == 0x00800000 and scan["errors"] == ["VELNOR_ERR_NO_TARGET"]
    assert [device["name"] for device in scan["devices"]] == ["2s50", None]


def stderr_on_a_terminal(board, *arguments):
    """What velnorctl writes to its stderr when that is a terminal."""
    main, terminal = os.openpty()
    with os.fdopen(main, "rb", buffering=0) as reader:
        subprocess.run([VELNORCTL, *arguments], env=dict(os.environ, VELNOR_BENCH=board),
                       stdout=subprocess.DEVNULL, stderr=terminal, timeout=120)
        os.close(terminal)
        written = b""
        try:
            while chunk := reader.read(4096):
                written += chunk
        except OSError:  # EIO: drained, and the terminal's other side is closed
            pass
    return without_board_line(written.decode())


def test_quiet_prints_errors_only(bitstream):
    assert "[####" in stderr_on_a_terminal("default", "--cable", "lpt", "config", bitstream)
    assert stderr_on_a_terminal("default", "-q", "--cable", "lpt", "config", bitstream) == ""
    # The library's firmware-boot report is not an error either.
    run = velnorctl("default", "-q", "--cable", "usb", "config", bitstream, "status")
    assert (run.returncode, run.stdout, run.stderr) == (0, "", "")
    run = velnorctl("power=off", "-q", "--cable", "lpt", "status")
    assert (run.returncode, run.stdout, run.stderr) == (
        1, "", "velnorctl: status failed: 0x00400000 (VELNOR_ERR_POWER_DOWN)\n")


def test_verbose_tells_the_cable_and_each_command():
    run = velnorctl("default", "-v", "--cable", "lpt", "status")
    assert run.returncode == 0
    assert re.fullmatch(r"velnorctl: opening cable lpt \(selector 0x00020000\)\n"
                        r"velnorctl: status\nvelnorctl: status: done in \d+ ms\n", run.stderr)


def test_version_is_the_project_version():
    run = velnorctl("default", "--version")
    assert (run.returncode, run.stdout) == (0, f"velnorctl {os.environ['VELNOR_VERSION']}\n")


def test_a_refused_file_is_refused_with_the_reason(tmp_path):
    text = tmp_path / "notes.bit"
    text.write_text("hello\n")
    run = velnorctl("default", "--cable", "lpt", "config", str(text))
    assert (run.returncode, run.stderr) == (1, f"velnorctl: {text}: not a .bit file\n")
    run = velnorctl("default", "--cable", "lpt", "config", str(tmp_path))
    assert (run.returncode, run.stderr) == (1, f"velnorctl: {tmp_path}: Is a directory\n")
