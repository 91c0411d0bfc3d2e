"""The Python package on a pseudo-terminal meter: both modes, and the errors
a script meets first."""

import ctypes
import gc
import math
import os
import pathlib
import pty
import subprocess
import sys
import threading
import time
import tty
import warnings

import pytest

import vantor_comm
from vantor_comm import _native

VANTOR_COMM = os.environ.get("VANTOR_COMM_BIN", "vantor-comm")
# A sanitizer's runtime preloaded for Python is not the program's.
PROGRAM_ENV = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}


@pytest.fixture
def meter(tmp_path):
    """A simulated meter with 40 records that presses SEND at once; its
    bytes wait on the line until a download reads them."""
    link = tmp_path / "meter"
    sim = subprocess.Popen([VANTOR_COMM, "simulate", "--send-after", "0", "--records", "40",
                            "--link", str(link)],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=PROGRAM_ENV)
    for _ in range(500):
        if link.is_symlink():
            break
        time.sleep(0.01)
    yield str(link)
    sim.terminate()
    sim.wait()


@pytest.mark.parametrize("blocking", [False, True], ids=["events", "blocking"])
def test_download_writes_and_returns_every_record(meter, tmp_path, blocking):
    data = tmp_path / "d.dat"
    written = []
    records = vantor_comm.download(meter, str(data), blocking=blocking, timeout=30,
                                   on_record=written.append)
    assert records[0].kind == "time" and records[0].unit == "Time"
    assert [r.sequence for r in records] == list(range(40))
    assert list(vantor_comm.read_records(data)) == records
    # Every record was told of, in order, as the line the file holds.
    assert "".join(w.line + "\r\n" for w in written).encode() == data.read_bytes()
    # The meter's clock on every reading, and its overload without digits.
    berlin = list(vantor_comm.read_records(data, tz="Europe/Berlin"))
    assert berlin[1].time.isoformat() == "2012-06-04T15:48:15+02:00"
    assert [r.value for r in berlin if r.overload] == [999999.0]
    wide = vantor_comm.export(data, layout="wide", tz="UTC").splitlines()
    assert wide[0] == "time,stamp,1,2,3,11,5 12"  # no unit file: no names
    assert wide[1].startswith("2012-06-04T15:48:15+00:00,120604154815,")


def test_control_keeps_the_interface_names(meter, tmp_path):
    messages = []
    with vantor_comm.Control() as c:
        c.on_message = messages.append
        c.set_device(1, meter)
        c.Port = 1
        c.df = str(tmp_path / "e.dat")
        assert c.CheckFile() == -1
        assert c.Start() == 0
        assert c.fgComPortOpen == -1
        while c.outcome == vantor_comm.Outcome.NONE:
            c.process_events(0.1)
        assert c.outcome == vantor_comm.Outcome.END_MARKER
        assert (c.fgTransferOK, c.fgComPortOpen, c.datano) == (-1, 0, 40)
        assert c.Read_Status() == (1, 40)
        assert c.GetFilename() == (40, str(tmp_path / "e.dat"))
        assert c.GetParameter(6) == (0, [0] * 6)
        assert c.panel[2] == "Data Transfer OK" and c.panel[4] == "40"
        assert (c.stats.frames_rejected, c.stats.records_lost) == (0, 0)
        c.datano = 2
        c.ViewData()
        assert c.grid[0] == ["No.", "Channel", "Value", "Unit"]
        assert c.grid[1][3] == "Time"
        with pytest.raises(AttributeError):
            c.AppPath  # noqa: B018 - write-only, as in the interface
        assert messages == []


@pytest.mark.parametrize("blocking", [False, True], ids=["events", "blocking"])
def test_a_missing_device_raises_its_error_number(tmp_path, blocking):
    with pytest.raises(vantor_comm.VantorError) as e:
        vantor_comm.download(str(tmp_path / "no-tty"), str(tmp_path / "d.dat"), blocking=blocking)
    assert e.value.number == 8002
    assert str(tmp_path / "no-tty") in e.value.description
    assert not (tmp_path / "d.dat").exists()


def test_a_missing_unit_file_raises_before_anything_is_opened(tmp_path):
    with pytest.raises(vantor_comm.VantorError) as e:
        vantor_comm.download("/dev/null", app_path=str(tmp_path))
    assert e.value.number == 53
    assert "unit2.dat" in e.value.description


def test_records_the_data_file_refused_fail_the_download(meter):
    # /dev/full opens but keeps no record; the end marker still comes.
    with pytest.raises(vantor_comm.VantorError) as e:
        vantor_comm.download(meter, "/dev/full", timeout=30)
    assert e.value.number == 61


@pytest.mark.parametrize("overwrite", [False, True], ids=["kept", "overwrite"])
def test_the_shell_download_keeps_an_earlier_data_file(meter, tmp_path, overwrite):
    data = tmp_path / "d.dat"
    data.write_bytes(b"0,1,2,3\r\n")
    run = subprocess.run([sys.executable, "-m", "vantor_comm", "download", "--device", meter,
                          "--data-file", str(data), *(["--overwrite"] if overwrite else [])],
                         capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr
    assert data.read_bytes().count(b"\r\n") == 40
    kept = tmp_path / "d.dat.1"
    assert kept.exists() != overwrite
    if not overwrite:
        assert kept.read_bytes() == b"0,1,2,3\r\n"
        assert f"earlier download kept as: {kept}" in run.stderr


@pytest.mark.parametrize("blocking", [False, True], ids=["events", "blocking"])
@pytest.mark.parametrize("limit, ended", [
    (["--timeout", "2"], "the transfer did not end within 2 s"),  # the whole wait
    (["--idle", "0.5"], "was silent for 0.5 s before the meter's end marker"),
], ids=["timeout", "idle"])
def test_the_shell_download_limits_are_the_programs(meter, tmp_path, blocking, limit, ended):
    capture = tmp_path / "capture.bin"
    subprocess.run([VANTOR_COMM, "download", "--device", meter, "--data-file",
                    str(tmp_path / "a.dat"), "--raw", str(capture)],
                   capture_output=True, env=PROGRAM_ENV, check=True)
    frames = capture.read_bytes()
    frames = frames[:frames.index(b"\x02\x1b")]  # all but the end marker
    line, device = pty.openpty()
    tty.setraw(device)
    data = tmp_path / "d.dat"
    try:
        run = subprocess.Popen([sys.executable, "-m", "vantor_comm", "download", "--device",
                                os.ttyname(device), "--data-file", str(data), *limit,
                                *(["--blocking"] if blocking else [])],
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        time.sleep(1)  # silence before the meter begins is no idle
        os.write(line, frames)
        err = run.communicate(timeout=120)[1]
    finally:
        os.close(line)
        os.close(device)
    assert run.returncode == 1, err
    assert "error 57: Device I/O error: " in err and ended in err
    assert data.read_bytes().count(b"\r\n") == 40


def test_a_control_is_freed_only_on_its_own_thread(meter):
    # Another thread acts while the owner is inside process_events: a
    # message box (the full disk's) calls back from there.
    seen = []
    with vantor_comm.Control() as c:
        dropped = [vantor_comm.Control()]

        def other():
            try:
                c.close()
            except vantor_comm.VantorError as e:
                seen.append(e)
            with warnings.catch_warnings(record=True) as caught:
                warnings.simplefilter("always")
                dropped.clear()
                gc.collect()
            seen.extend(w.category for w in caught)

        def in_events(_text):
            if not seen:
                t = threading.Thread(target=other)
                t.start()
                t.join()

        c.on_message = in_events
        c.set_device(1, meter)
        c.Port = 1
        c.df = "/dev/full"
        c.Start()
        while c.outcome == vantor_comm.Outcome.NONE:
            c.process_events(1)
        assert c.stats.records_lost == 40
        c.process_events(0)  # frees the control handed back
    assert seen[0].number == 5 and "only on the thread that created it" in seen[0].description
    assert ResourceWarning in seen[1:]


def test_records_are_read_as_view_and_export_read_them(tmp_path):
    records = [  # the line, then its sequence, value and unit as read back
        (b'0,"120604154815","Time",0', 0, "120604154815", "Time"),
        (b'1,abc,"mg/L      ",1', 1, "abc", "mg/L"),
        (b"2,1.5,degC,2", 2, 1.5, "degC"),
        (b"x,2.5,12,3", "x", 2.5, 12),
        (b"4,,,4", 4, "", ""),
        (b'5,3,"' + b"\0" * 10 + b'",5', 5, 3.0, ""),
        (b"6,+1,12,6", 6, "+1", 12),
        (b"7,1e999,12,7", 7, "1e999", 12),
    ]
    data = tmp_path / "odd.dat"
    # The last record is cut short, as a download that was killed leaves it.
    data.write_bytes(b"".join(line + b"\r\n" for line, *_ in records) + b"8,1.0\r\n")
    read = list(vantor_comm.read_records(data))
    assert [(r.sequence, r.value, r.unit) for r in read] == [tuple(e[1:]) for e in records]
    # What is no number here is no number to export either.
    rows = vantor_comm.export(data, tz="UTC").splitlines()[1:]
    assert [row.split(",")[4] == "" for row in rows] == [
        isinstance(r.value, str) for r in read if r.kind == "reading"]


def _put_get(name, value):
    def call(c):
        setattr(c, name, value)
        return getattr(c, name)
    return call


def _after_close(c):
    c.close()
    return c.Port


def _clock(order):
    def call(_c):
        handle = _native.Handle()
        assert _native.lib.vantor_records_open(os.fsencode(__file__), ctypes.byref(handle)) == 0
        try:
            return _native.lib.vantor_records_set_clock(handle, order, None)
        finally:
            _native.lib.vantor_records_free(handle)
    return call


def _export(fmt, layout, order):
    return lambda _c: _native.lib.vantor_export(b"/nonexistent.dat", b"/nonexistent.csv", fmt,
                                                layout, order, None, None, None)


@pytest.mark.parametrize("call, expected", [
    pytest.param(_put_get("df", b"/d/\xff.dat"), "/d/\udcff.dat", id="bytes path"),
    pytest.param(_put_get("df", pathlib.Path("/d/e.dat")), "/d/e.dat", id="PathLike path"),
    pytest.param(_put_get("df", None), TypeError("df must be"), id="None text"),
    pytest.param(_put_get("AppPath", "/d\0/e"), ValueError("embedded null character"), id="NUL"),
    pytest.param(_put_get("Port", 65539),
                 vantor_comm.VantorError(6, "Overflow: Port must lie in -32768..32767, not 65539"),
                 id="Integer overflow"),
    pytest.param(_put_get("datano", 2**32 + 5), vantor_comm.VantorError(6, "Overflow: datano"),
                 id="Long overflow"),
    pytest.param(_put_get("read_timeout", math.inf), ValueError("read_timeout must be finite"),
                 id="infinite time"),
    pytest.param(lambda c: c.process_events(math.nan), ValueError("seconds must be finite"),
                 id="NaN time"),
    pytest.param(_put_get("Port", "abc"), TypeError("Port must be an integer"), id="str number"),
    pytest.param(lambda c: c.GetParameter(["a"] * 6), TypeError("n_or_list[0] must be"),
                 id="GetParameter element"),
    pytest.param(lambda c: next(vantor_comm.read_records(__file__, tz="CEST")),
                 ValueError("tz: 'CEST' is not a zone of the time-zone database"),
                 id="zone not in the database"),
    pytest.param(lambda c: vantor_comm.export(__file__, tz="Berlin"),
                 ValueError("tz: 'Berlin' is not a zone"), id="export's zone"),
    pytest.param(_export(7, 0, 0), 5, id="export format out of range"),
    pytest.param(_export(0, -1, 0), 5, id="export layout out of range"),
    pytest.param(_export(0, 0, 3), 5, id="export date order out of range"),
    pytest.param(_clock(1 << 20), 5, id="clock date order out of range"),
    pytest.param(_after_close,
                 vantor_comm.VantorError(5, "Invalid procedure call or argument: the control "
                                            "was closed"),
                 id="closed control"),
])
def test_arguments_are_converted_or_refused(call, expected):
    with vantor_comm.Control() as c:
        if not isinstance(expected, Exception):
            assert call(c) == expected
            return
        with pytest.raises(type(expected)) as e:
            call(c)
        assert str(expected) in str(e.value)


def test_on_windows_the_dll_is_found_beside_the_package_or_on_path_with_its_folder_added(tmp_path):
    dll = _native.DLL_NAME
    found = _native._candidates("nt", {"PATH": "C:\\Tools;;D:\\bin\\"}, tmp_path)
    assert found[-3:] == [str(tmp_path / dll), "C:\\Tools\\" + dll, "D:\\bin\\" + dll]
    assert _native._candidates("nt", {"VANTOR_COMM_LIBRARY": "E:\\x.dll"}, tmp_path) == ["E:\\x.dll"]

    calls = []

    class Added:
        def close(self):
            calls.append("released")

    def add_dll_directory(folder):
        calls.append(("added", folder))
        return Added()

    def open_library(path):
        calls.append(("opened", path))
        if "missing" in path:
            raise OSError("not there")
        return type("Library", (), {})()

    for name in ("missing", "here"):
        (tmp_path / name).mkdir()
    first, second = str(tmp_path / "missing" / dll), str(tmp_path / "here" / dll)
    library = _native._load([first, second], "nt", open_library, add_dll_directory)
    assert calls == [("added", str(tmp_path / "missing")), ("opened", first), "released",
                     ("added", str(tmp_path / "here")), ("opened", second)]
    assert library._vantor_dll_directory is not None
