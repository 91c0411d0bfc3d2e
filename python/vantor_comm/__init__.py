"""Vantor Comm from Python: download the readings a hand-held meter logged.

    import vantor_comm
    records = vantor_comm.download("/dev/ttyUSB0", "d.dat")   # then press SEND

`Control` is the control itself, with the names of its interface; its
Booleans are ints, True -1 and False 0, as in the interface. Run-time errors
raise `VantorError` (`.number`, `.description`). A control lives on the
thread that created it. It runs on the C library libvantor_comm_c through
ctypes, so the package needs no compiler; set VANTOR_COMM_LIBRARY to use
another copy of the library.
"""

import ctypes
import enum
import sys
import time
from typing import Callable, List, NamedTuple, Optional

from . import _native
from ._native import lib
from .records import Record, read_records

__all__ = ["Control", "VantorError", "Outcome", "Stats", "Record", "download", "read_records",
           "__version__"]
__version__ = lib.vantor_comm_version().decode()

_ENCODING = "utf-8"


def _encode(text) -> bytes:
    return str(text).encode(_ENCODING, "surrogateescape")


def _decode(raw: bytes) -> str:
    return raw.decode(_ENCODING, "surrogateescape")


class VantorError(Exception):
    """A run-time error of the control: its number and description."""

    def __init__(self, number: int, description: str):
        super().__init__(f"error {number}: {description}")
        self.number = number
        self.description = description


class Outcome(enum.IntEnum):
    """How the last transfer ended."""
    NONE = 0         # no transfer yet, or one is running
    NOT_ARMED = 1    # the port or the data file could not be opened
    END_MARKER = 2   # the meter's end marker arrived
    TIMED_OUT = 3    # the meter stopped sending
    DEVICE_LOST = 4  # the device went away mid-transfer
    FAILED = 5       # another error ended the transfer
    ABORTED = 6      # abort() ended it


class Stats(NamedTuple):
    """Diagnostics of the running or last transfer."""
    frames_received: int
    frames_rejected: int
    bytes_skipped: int
    records_lost: int
    unnamed_units: int


def _field(name: str, doc: str):
    ctype = _native.FIELDS[name]
    getter = getattr(lib, "vantor_comm_get_" + name)
    putter = getattr(lib, "vantor_comm_put_" + name)

    def get(self):
        value = ctype()
        self._check(getter(self._handle, ctypes.byref(value)))
        return value.value

    def put(self, value):
        if isinstance(value, bool):
            value = -1 if value else 0
        self._check(putter(self._handle, int(value)))

    return property(get, put, doc=doc)


def _text(function, handle, *args) -> tuple:
    """Calls a C function that writes text into a buffer; returns (status, text)."""
    length = ctypes.c_size_t(0)
    status = function(handle, *args, None, 0, ctypes.byref(length))
    if status:
        return status, ""
    buffer = ctypes.create_string_buffer(length.value + 1)
    status = function(handle, *args, buffer, len(buffer), ctypes.byref(length))
    return status, _decode(buffer.raw[:length.value])


class Control:
    """The control on the real backends (Qt's event loop, the serial ports,
    the local date). Message boxes go to `on_message` (default: standard
    error)."""

    def __init__(self):
        handle = _native.Handle()
        status = lib.vantor_comm_create(ctypes.byref(handle))
        if status:
            raise VantorError(status, _decode(lib.vantor_comm_error_description(None)))
        self._handle = handle
        self._on_message: Optional[Callable[[str], None]] = None
        self._callback = _native.MessageFn(self._message)

    def close(self):
        """Ends a transfer still running (records kept) and frees the control."""
        if getattr(self, "_handle", None):
            lib.vantor_comm_free(self._handle)
            self._handle = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        self.close()

    def _check(self, status: int):
        if status:
            raise VantorError(status, _decode(lib.vantor_comm_error_description(self._handle)))

    def _message(self, _context, text, length):
        message = _decode(ctypes.string_at(text, length))
        try:
            self._on_message(message)
        except Exception as e:  # noqa: BLE001 - nothing may leave a C callback
            print(f"vantor_comm: on_message failed: {e!r}; the message was: {message}",
                  file=sys.stderr)

    # --- the interface, in the order of its slots ---

    @property
    def df(self) -> str:
        """The data file of the current transfer."""
        status, text = _text(lib.vantor_comm_get_df, self._handle)
        self._check(status)
        return text

    @df.setter
    def df(self, path):
        self._check(lib.vantor_comm_put_df(self._handle, _encode(path)))

    UnitIndex = _field("UnitIndex", "Unit code of the last decoded frame.")
    fgTransferOK = _field("fgTransferOK", "-1 once the end marker has been received.")
    fgComPortOpen = _field("fgComPortOpen", "-1 while a transfer is armed.")
    datano = _field("datano", "Records written in the current transfer.")
    fg_Two_Display = _field("fg_Two_Display", "Kept for the host only.")
    bReadDataOK = _field("bReadDataOK", "Kept for the host only.")

    def CheckFile(self) -> int:
        """Returns True (-1)."""
        value = ctypes.c_int16()
        self._check(lib.vantor_comm_CheckFile(self._handle, ctypes.byref(value)))
        return value.value

    def ViewData(self):
        """Reads the first datano records of df into `grid`."""
        self._check(lib.vantor_comm_ViewData(self._handle))

    def ReadDataLogger(self):
        """A whole download in one call (press SEND on the meter)."""
        self._check(lib.vantor_comm_ReadDataLogger(self._handle))

    def ReadDataLogger_2(self):
        self._check(lib.vantor_comm_ReadDataLogger_2(self._handle))

    def SCI_Init(self):
        self._check(lib.vantor_comm_SCI_Init(self._handle))

    @property
    def Settings(self) -> str:
        status, text = _text(lib.vantor_comm_get_Settings, self._handle)
        self._check(status)
        return text

    @Settings.setter
    def Settings(self, settings):
        self._check(lib.vantor_comm_put_Settings(self._handle, _encode(settings)))

    Port = _field("Port", "The serial port number of the next transfer.")
    Baudrate = _field("Baudrate", "Stored and returned only.")

    @property
    def AppPath(self):
        raise AttributeError("AppPath is write-only")

    @AppPath.setter
    def AppPath(self, folder):
        """Folder of unit2.dat and of the dated data file."""
        self._check(lib.vantor_comm_put_AppPath(self._handle, _encode(folder)))

    def Read_Status(self) -> tuple:
        """Returns (result, FrameCount): result 1 once the transfer has ended."""
        frames, result = ctypes.c_int32(), ctypes.c_int16()
        self._check(lib.vantor_comm_Read_Status(self._handle, ctypes.byref(frames),
                                                ctypes.byref(result)))
        return result.value, frames.value

    def GetParameter(self, n_or_list) -> tuple:
        """Fills elements 0..5 of a list (or of a new one of n elements);
        returns (result, list). A list passed is filled in place."""
        values = [0] * n_or_list if isinstance(n_or_list, int) else n_or_list
        array = (ctypes.c_int16 * len(values))(*values)
        result = ctypes.c_int16()
        status = lib.vantor_comm_GetParameter(self._handle, array, 0, len(values),
                                              ctypes.byref(result))
        values[:] = list(array)
        self._check(status)
        return result.value, values

    def Start(self) -> int:
        """Arms an event-driven download; returns 0. Then press SEND."""
        result = ctypes.c_int16()
        self._check(lib.vantor_comm_Start(self._handle, ctypes.byref(result)))
        return result.value

    def GetFilename(self) -> tuple:
        """Returns (idatano, filename)."""
        number = ctypes.c_int32()
        status, name = _text(lib.vantor_comm_GetFilename, self._handle, ctypes.byref(number))
        self._check(status)
        return number.value, name

    def ReadUnitFile(self):
        """Loads AppPath/unit2.dat and sets df to AppPath/yyyymmdd.dat."""
        self._check(lib.vantor_comm_ReadUnitFile(self._handle))

    # --- additions ---

    def set_device(self, port: int, path: str):
        """Port number `port` stands for the device at `path`."""
        self._check(lib.vantor_comm_set_device(self._handle, port, _encode(path)))

    @property
    def device_name(self) -> str:
        """The device the current Port stands for."""
        status, text = _text(lib.vantor_comm_device_name, self._handle)
        self._check(status)
        return text

    def process_events(self, seconds: float):
        """Runs the control's events for up to `seconds`; returns sooner once
        a transfer has ended."""
        self._check(lib.vantor_comm_process_events(self._handle, int(seconds * 1000)))

    @property
    def outcome(self) -> Outcome:
        value = ctypes.c_int()
        self._check(lib.vantor_comm_outcome(self._handle, ctypes.byref(value)))
        return Outcome(value.value)

    @property
    def stats(self) -> Stats:
        raw = _native.Stats()
        self._check(lib.vantor_comm_stats(self._handle, ctypes.byref(raw)))
        return Stats(*(getattr(raw, name) for name, _ in raw._fields_))

    @property
    def last_error(self) -> Optional[VantorError]:
        """What the last transfer or port opening showed in a message box."""
        number = ctypes.c_int32()
        status, text = _text(lib.vantor_comm_last_error, self._handle, ctypes.byref(number))
        self._check(status)
        return VantorError(number.value, text) if number.value else None

    def abort(self):
        """Ends a running transfer; every record written stays."""
        self._check(lib.vantor_comm_abort(self._handle))

    @property
    def read_timeout(self) -> float:
        """Seconds ReadDataLogger waits for the next byte (0: for ever)."""
        value = ctypes.c_int32()
        self._check(lib.vantor_comm_get_read_timeout(self._handle, ctypes.byref(value)))
        return value.value / 1000

    @read_timeout.setter
    def read_timeout(self, seconds: float):
        self._check(lib.vantor_comm_set_read_timeout(self._handle, int(seconds * 1000)))

    @property
    def grid(self) -> List[List[str]]:
        """The grid ViewData fills, as rows of cell texts (row 0: headings)."""
        rows, cols = ctypes.c_int32(), ctypes.c_int32()
        self._check(lib.vantor_comm_grid_size(self._handle, ctypes.byref(rows),
                                              ctypes.byref(cols)))
        table = []
        for r in range(rows.value):
            row = []
            for c in range(cols.value):
                status, text = _text(lib.vantor_comm_grid_cell, self._handle, r, c)
                self._check(status)
                row.append(text)
            table.append(row)
        return table

    @property
    def panel(self) -> List[str]:
        """The panel's captions: title, heading, status line, heading, record
        counter, and "Receiving Data ..."."""
        captions = []
        for index in range(6):
            buffer = ctypes.create_string_buffer(256)
            length = ctypes.c_size_t(0)
            self._check(lib.vantor_comm_panel_label(self._handle, index, buffer, len(buffer),
                                                    ctypes.byref(length), None))
            captions.append(_decode(buffer.value))
        return captions

    @property
    def on_message(self) -> Optional[Callable[[str], None]]:
        """Called with the text of every message box; None: standard error."""
        return self._on_message

    @on_message.setter
    def on_message(self, fn: Optional[Callable[[str], None]]):
        self._on_message = fn
        callback = self._callback if fn is not None else _native.MessageFn()
        self._check(lib.vantor_comm_set_message_handler(self._handle, callback, None))


def download(device: str, data_file: Optional[str] = None, *, blocking: bool = False,
             timeout: Optional[float] = None, app_path: Optional[str] = None) -> List[Record]:
    """Downloads the meter on `device` into `data_file` (default: today's
    file in app_path) and returns its records. Press SEND on the meter once
    it waits.

    app_path: the folder of unit2.dat, loaded first. timeout: give up after
    that many seconds without a byte (default: wait for ever). A transfer
    that does not end with the meter's end marker raises VantorError; the
    records received stay in the data file.
    """
    messages = []
    with Control() as control:
        control.on_message = messages.append
        if app_path is not None:
            control.AppPath = app_path
            control.ReadUnitFile()
        if data_file is not None:
            control.df = data_file
        if not control.df:
            raise VantorError(52, "Bad file name or number: give data_file or app_path")
        control.set_device(1, device)
        control.Port = 1
        control.read_timeout = timeout or 0
        if blocking:
            control.ReadDataLogger()
        else:
            _run_armed(control, timeout)
        if control.outcome != Outcome.END_MARKER:
            error = control.last_error
            if error is None and control.outcome == Outcome.ABORTED:
                error = VantorError(57, f"Device I/O error: nothing came from {device} for "
                                        f"{timeout:g} s")
            raise error or VantorError(51, f"Internal error: the transfer ended "
                                           f"({control.outcome.name}) without its end marker")
        return list(read_records(control.df))


def _run_armed(control: Control, timeout: Optional[float]):
    control.Start()
    if control.outcome == Outcome.NOT_ARMED:
        return
    progress, last_change = None, time.monotonic()
    while control.outcome == Outcome.NONE:
        control.process_events(0.1)
        stats = control.stats
        now_progress = (stats.frames_received, stats.bytes_skipped, stats.frames_rejected)
        if now_progress != progress:
            progress, last_change = now_progress, time.monotonic()
        elif timeout and time.monotonic() - last_change > timeout:
            control.abort()
