"""The Python binding on virtual boards. The bench builds its board once per
process, so each session runs in a fresh process of its own (on_board).
Run by CTest with the built library in VELNOR_LIBRARY and velnor-bitgen in
VELNOR_BITGEN."""

import concurrent.futures
import multiprocessing
import os
import re
import subprocess
from pathlib import Path

import pytest

import velnor
from velnor.library import OPTIONAL, PROTOTYPES, candidates

HEADER = Path(__file__).resolve().parents[2] / "include" / "velnor.h"


def _select_board(board):
    os.environ["VELNOR_BENCH"] = board


def on_board(board, function, *arguments):
    """function(*arguments) in a fresh process on the board described."""
    context = multiprocessing.get_context("spawn")
    with concurrent.futures.ProcessPoolExecutor(
            1, mp_context=context, initializer=_select_board, initargs=(board,)) as pool:
        return pool.submit(function, *arguments).result(timeout=120)


@pytest.fixture(scope="module")
def bitstream(tmp_path_factory):
    path = tmp_path_factory.mktemp("velnor") / "design.bit"
    subprocess.run([os.environ["VELNOR_BITGEN"], "xc2s200", str(path)], check=True,
                   stdout=subprocess.DEVNULL)
    return str(path)


def test_every_export_of_the_header_is_declared():
    exports = {name: parameters for name, parameters in
               re.findall(r"VELNOR_CALL\s+(\w+)\s*\(([^)]*)\)", HEADER.read_text())}
    assert set(exports) <= set(PROTOTYPES)
    assert set(PROTOTYPES) - OPTIONAL <= set(exports)
    library = velnor.load()
    for name, parameters in exports.items():
        count = 0 if parameters.strip() in ("", "void") else parameters.count(",") + 1
        restype, argtypes = PROTOTYPES[name]
        function = getattr(library, name)
        assert (function.restype, function.argtypes) == (restype, argtypes), name
        assert len(argtypes) == count, name


def test_the_library_is_found_by_path_then_environment_then_by_name(monkeypatch):
    monkeypatch.setenv("VELNOR_LIBRARY", "/opt/velnor/libvelnor.so")
    assert candidates("/given/libvelnor.so") == ["/given/libvelnor.so"]
    assert candidates() == ["/opt/velnor/libvelnor.so"]
    monkeypatch.delenv("VELNOR_LIBRARY")
    assert candidates()[-2:] == ["libvelnor.so.1", "libvelnor.so"]
    with pytest.raises(OSError, match="cannot load libvelnor"):
        velnor.Library("/nonexistent/libvelnor.so")


def test_version_once_the_library_exports_it():
    if hasattr(velnor.load().cdll, "velnor_version"):
        assert velnor.version() == os.environ["VELNOR_VERSION"]
    else:
        with pytest.raises(AttributeError):
            velnor.version()


def loopback_session(bitstream):
    with velnor.Session("lpt") as session:
        chain = session.scan_chain()
        session.config(bitstream)
        status = session.status()
        received = session.spi_xfer(1, b"\x01\x02")
        in_background = session.start_spi_xfer(2, b"\x77\x66").wait()
        return chain, status, received, in_background, session.prom_info()


def test_a_session_on_the_loopback_design(bitstream):
    chain, status, received, in_background, prom = on_board(
        "design=loopback", loopback_session, bitstream)
    assert [(device.name, device.idcode) for device in chain] == [
        ("xcf02s", 0x05045093), ("v200", 0x0061C093)]
    assert status.done and status.init and not status.crc_error
    assert received == b"\xA5\x01"
    assert in_background == b"\x5A\x77"
    assert prom == velnor.PromInfo(0x05045093, 262144)


def memory_session(bitstream):
    data = bytes(range(256)) * 3
    with velnor.Session("lpt") as session:
        session.config(bitstream)
        session.mem_write(0x12340, data)
        read = session.mem_read(0x12340, len(data))
        matches = session.mem_verify(0x12340, data), session.mem_verify(0x12340, b"\x00\x02")
        session.prom_erase()
        session.prom_program(data[:512] * 2, address=512)
        return data, read, matches, session.prom_read(0, 1536)


def test_memory_and_prom_take_and_give_bytes(bitstream):
    data, read, matches, prom = on_board("design=memory", memory_session, bitstream)
    assert read == data
    assert matches == (True, False)
    assert prom == b"\xFF" * 512 + data[:512] * 2


def open_without_a_cable():
    try:
        velnor.Session("lpt").open()
    except velnor.VelnorError as error:
        return error
    return None


def test_an_error_carries_its_word_and_names_its_bits():
    error = on_board("lpt=0x378:none", open_without_a_cable)
    assert (error.word, error.function, error.names) == (
        velnor.ERR_PROBE, "velnor_init", ("VELNOR_ERR_PROBE",))
    assert str(error) == "velnor_init failed: 0x40000000 (VELNOR_ERR_PROBE)"
    several = velnor.VelnorError(velnor.ERR_POWER_DOWN | velnor.ERR_CRC | 0x100, "velnor_config")
    assert several.names == ("VELNOR_ERR_POWER_DOWN", "VELNOR_ERR_CRC", "0x00000100")


def background_configurations(bitstream):
    steps = []
    with velnor.Session("usb") as session:
        session.config(bitstream, progress=lambda done, total: steps.append((done, total)))
        configured = session.status().done
        # Cut short, it fails; the failure comes from a later call.
        data = Path(bitstream).read_bytes()[-velnor.bitfile_info(bitstream).length:-100]
        operation = session.start_config(data)
        ended_at_start = operation.done
        try:
            operation.wait()
            failure = None
        except velnor.VelnorError as error:
            failure = error
        return steps, configured, ended_at_start, failure


def test_background_configuration_reports_progress(bitstream):
    steps, configured, ended_at_start, failure = on_board(
        "default", background_configurations, bitstream)
    total = 166980
    assert configured
    assert len(steps) >= 3
    assert {step_total for _, step_total in steps} == {total}
    done = [sent for sent, _ in steps]
    assert done == sorted(done) and done[-1] == total
    assert all(sent % 4096 == 0 for sent in done[:-1])
    assert not ended_at_start
    assert (failure.word, failure.function) == (velnor.ERR_CRC, "velnor_config")
