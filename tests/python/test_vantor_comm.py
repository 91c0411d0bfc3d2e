"""The Python package on a pseudo-terminal meter: both modes, and the errors
a script meets first."""

import os
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
