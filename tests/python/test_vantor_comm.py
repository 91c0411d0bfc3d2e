"""The Python package on a pseudo-terminal meter: both modes, and the errors
a script meets first."""

import math
import os
import pathlib
import subprocess
import time

import pytest

import vantor_comm

VANTOR_COMM = os.environ.get("VANTOR_COMM_BIN", "vantor-comm")


@pytest.fixture
def meter(tmp_path):
    """A simulated meter with 40 records that presses SEND at once; its
    bytes wait on the line until a download reads them."""
    link = tmp_path / "meter"
    # A sanitizer's runtime preloaded for Python is not the program's.
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    sim = subprocess.Popen([VANTOR_COMM, "simulate", "--send-after", "0", "--records", "40",
                            "--link", str(link)],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
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
    records = vantor_comm.download(meter, str(data), blocking=blocking, timeout=30)
    assert len(records) == 40
    assert records[0].kind == "time" and records[0].unit == "Time"
    assert [r.sequence for r in records] == list(range(40))
    assert list(vantor_comm.read_records(data)) == records
    assert data.read_bytes().count(b"\r\n") == 40
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


def _put_get(name, value):
    def call(c):
        setattr(c, name, value)
        return getattr(c, name)
    return call


def _after_close(c):
    c.close()
    return c.Port


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
