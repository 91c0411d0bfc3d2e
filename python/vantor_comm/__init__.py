"""Vantor Comm from Python: download the readings a hand-held meter logged.

    import vantor_comm
    records = vantor_comm.download("/dev/ttyUSB0", "d.dat")   # then press SEND

`Control` is the control itself, with the names of its interface; its
Booleans are ints, True -1 and False 0, as in the interface. Run-time errors
raise `VantorError` (`.number`, `.description`); so does a number the
interface's type cannot hold (6, Overflow) and any call on a closed control
(5). Texts are str or paths (bytes too).

A control lives on the thread that created it, and is used and closed
there only: a call or close() from another thread raises VantorError 5 and
leaves the control as it is, since its port and timers run in its thread's
events, perhaps at that very moment. A control dropped on another thread
(its last reference gone, or the garbage collector running there) is handed
back to its own thread, which frees it at its next process_events(),
close() or Control(); a ResourceWarning says so. It runs on the C library
libvantor_comm_c through ctypes, so the package needs no compiler; set
VANTOR_COMM_LIBRARY to use another copy of the library.
"""

import ctypes
import enum
import math
import numbers
import operator
import os
import sys
import threading
import warnings
from collections.abc import MutableSequence
from typing import Callable, List, NamedTuple, Optional

from . import _native
from ._native import lib
from .records import Record, export, read_records

__all__ = ["Control", "VantorError", "Outcome", "Stats", "Record", "RecordWritten", "download",
           "read_records", "export", "__version__"]
__version__ = lib.vantor_comm_version().decode()

_ENCODING = "utf-8"
_CLOSED = "Invalid procedure call or argument: the control was closed"


def _encode(text: str) -> bytes:
    return text.encode(_ENCODING, "surrogateescape")


def _decode(raw: bytes) -> str:
    return raw.decode(_ENCODING, "surrogateescape")


# Controls dropped on another thread than their own, by the owner's thread
# ident, each with its callbacks, which must outlive it.
_handed_back = {}
_handed_back_lock = threading.Lock()


def _free_handed_back():
    with _handed_back_lock:
        handles = _handed_back.pop(threading.get_ident(), ())
    for handle, _callbacks in handles:
        lib.vantor_comm_free(handle)


class VantorError(Exception):
    """A run-time error of the control: its number and description."""

    def __init__(self, number: int, description: str):
        super().__init__(f"error {number}: {description}")
        self.number = number
        self.description = description


def _text_arg(value, name: str) -> bytes:
    """A text for the C API: str or a path; bytes as the file system decodes them."""
    try:
        text = os.fsdecode(value)
    except TypeError:
        raise TypeError(f"{name} must be str, bytes or os.PathLike, "
                        f"not {type(value).__name__}") from None
    # The C API takes NUL-terminated texts: a NUL would cut it short.
    if "\0" in text:
        raise ValueError(f"{name}: embedded null character")
    return _encode(text)


def _bounds(ctype) -> tuple:
    bits = 8 * ctypes.sizeof(ctype)
    if ctype(-1).value < 0:
        return -(1 << (bits - 1)), (1 << (bits - 1)) - 1
    return 0, (1 << bits) - 1


def _overflow(name: str, low, high, value, unit: str = "") -> "VantorError":
    return VantorError(6, f"Overflow: {name} must lie in {low}..{high}{unit}, not {value!r}")


def _integer(value, name: str, ctype, rounded: bool = True) -> int:
    """value as the interface assigns it to ctype: True is -1, another number
    rounds half to even (refused when not `rounded`), and one out of range
    overflows where ctypes would keep its low bits without a word."""
    if isinstance(value, bool):
        number = -1 if value else 0
    else:
        try:
            number = operator.index(value)
        except TypeError:
            if not rounded or not isinstance(value, numbers.Real):
                raise TypeError(f"{name} must be an integer, not {type(value).__name__}") from None
            try:
                number = int(round(value))
            except (OverflowError, ValueError):  # inf, nan: in no type's range
                number = None
    low, high = _bounds(ctype)
    if number is None or not low <= number <= high:
        raise _overflow(name, low, high, value)
    return number


_MS_LOW, _MS_HIGH = _bounds(ctypes.c_int32)


def _milliseconds(seconds, name: str) -> int:
    """Seconds as the C API's int32 milliseconds."""
    if not isinstance(seconds, numbers.Real):
        raise TypeError(f"{name} must be a number, not {type(seconds).__name__}")
    try:
        finite = math.isfinite(seconds)
    except OverflowError:  # an int beyond every float: finite, and out of range below
        finite = True
    if not finite:
        raise ValueError(f"{name} must be finite, not {seconds!r}")
    try:
        ms = int(round(seconds * 1000))
    except OverflowError:
        ms = None
    if ms is None or not _MS_LOW <= ms <= _MS_HIGH:
        raise _overflow(name, _MS_LOW / 1000, _MS_HIGH / 1000, seconds, " s")
    return ms


class Outcome(enum.IntEnum):
    """How the last transfer ended."""
    NONE = 0         # no transfer yet, or one is running
    NOT_ARMED = 1    # the port or the data file could not be opened
    END_MARKER = 2   # the meter's end marker arrived
    TIMED_OUT = 3    # the transfer's time-out, or the read time-out of ReadDataLogger
    DEVICE_LOST = 4  # the device went away mid-transfer
    FAILED = 5       # another error ended the transfer
    ABORTED = 6      # abort() ended it
    IDLE = 7         # the meter, having begun, was silent for the idle limit


class Stats(NamedTuple):
    """Diagnostics of the running or last transfer."""
    frames_received: int
    frames_rejected: int
    bytes_skipped: int
    records_lost: int
    unnamed_units: int


class RecordWritten(NamedTuple):
    """A record as the download wrote it to the data file: its number, a
    time stamp (stamp: its twelve digits) or a reading (value, 999999 when
    the meter sent no digits; unit_code; channel), and the line written."""
    sequence: int
    time_stamp: bool
    stamp: str
    value: float
    unit_code: int
    channel: int
    line: str


def _field(name: str, doc: str):
    ctype = _native.FIELDS[name]
    getter = getattr(lib, "vantor_comm_get_" + name)
    putter = getattr(lib, "vantor_comm_put_" + name)

    def get(self):
        value = ctype()
        self._check(getter(self._handle, ctypes.byref(value)))
        return value.value

    def put(self, value):
        self._check(putter(self._handle, _integer(value, name, ctype)))

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
    error), the records written to `on_record`."""

    _live = None  # the C handle; None once closed

    def __init__(self):
        _free_handed_back()
        handle = _native.Handle()
        status = lib.vantor_comm_create(ctypes.byref(handle))
        if status:
            raise VantorError(status, _decode(lib.vantor_comm_error_description(None)))
        self._owner = threading.get_ident()
        self._live = handle
        self._on_message: Optional[Callable[[str], None]] = None
        self._on_record: Optional[Callable[[RecordWritten], None]] = None
        self._callbacks = (_native.MessageFn(self._message), _native.RecordFn(self._record))

    def close(self):
        """Ends a transfer still running (records kept) and frees the control.
        On the thread that created it only: from another thread it raises
        VantorError 5 and the control stays open."""
        if self._live:
            status = lib.vantor_comm_free(self._live)
            if status:
                raise VantorError(status, _decode(lib.vantor_comm_error_description(self._live)))
            self._live = None
        _free_handed_back()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        if not self._live:
            return
        try:
            own = threading.get_ident() == self._owner
        except (AttributeError, TypeError):  # the interpreter is ending: the process frees it
            return
        if own:
            self.close()
            return
        with _handed_back_lock:
            _handed_back.setdefault(self._owner, []).append((self._live, self._callbacks))
        self._live = None
        warnings.warn("vantor_comm.Control dropped on another thread than the one that created "
                      "it: its own thread frees it at its next process_events(), close() or "
                      "Control()", ResourceWarning, stacklevel=2)

    @property
    def _handle(self):
        # The C API would take a freed handle as NULL: error 5 with no description.
        if not self._live:
            raise VantorError(5, _CLOSED)
        return self._live

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

    def _record(self, _context, raw):
        r = raw.contents
        record = RecordWritten(r.sequence, bool(r.is_time_stamp),
                               _decode(ctypes.string_at(r.stamp, r.stamp_length)), r.value,
                               r.unit_code, r.channel,
                               _decode(ctypes.string_at(r.line, r.line_length)))
        try:
            self._on_record(record)
        except Exception as e:  # noqa: BLE001 - nothing may leave a C callback
            print(f"vantor_comm: on_record failed: {e!r}; the record was: {record.line}",
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
        self._check(lib.vantor_comm_put_df(self._handle, _text_arg(path, "df")))

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
        self._check(lib.vantor_comm_put_Settings(self._handle, _text_arg(settings, "Settings")))

    Port = _field("Port", "The serial port number of the next transfer.")
    Baudrate = _field("Baudrate", "Stored and returned only.")

    @property
    def AppPath(self):
        raise AttributeError("AppPath is write-only")

    @AppPath.setter
    def AppPath(self, folder):
        """Folder of unit2.dat and of the dated data file."""
        self._check(lib.vantor_comm_put_AppPath(self._handle, _text_arg(folder, "AppPath")))

    def Read_Status(self) -> tuple:
        """Returns (result, FrameCount): result 1 once the transfer has ended."""
        frames, result = ctypes.c_int32(), ctypes.c_int16()
        self._check(lib.vantor_comm_Read_Status(self._handle, ctypes.byref(frames),
                                                ctypes.byref(result)))
        return result.value, frames.value

    def GetParameter(self, n_or_list) -> tuple:
        """Fills elements 0..5 of a list (or of a new one of n elements);
        returns (result, list). A list passed is filled in place."""
        handle = self._handle
        if isinstance(n_or_list, MutableSequence):
            values = n_or_list
            # An Integer array, as in the interface: no rounding into it.
            elements = [_integer(v, f"n_or_list[{i}]", ctypes.c_int16, rounded=False)
                        for i, v in enumerate(values)]
        elif isinstance(n_or_list, numbers.Integral):
            values = [0] * _integer(n_or_list, "n_or_list", ctypes.c_int32, rounded=False)
            elements = values
        else:
            raise TypeError(f"n_or_list must be an int or a list of ints, "
                            f"not {type(n_or_list).__name__}")
        array = (ctypes.c_int16 * len(elements))(*elements)
        result = ctypes.c_int16()
        status = lib.vantor_comm_GetParameter(handle, array, 0, len(elements),
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
        self._check(lib.vantor_comm_set_device(self._handle,
                                               _integer(port, "port", ctypes.c_int16),
                                               _text_arg(path, "path")))

    @property
    def device_name(self) -> str:
        """The device the current Port stands for."""
        status, text = _text(lib.vantor_comm_device_name, self._handle)
        self._check(status)
        return text

    def process_events(self, seconds: float):
        """Runs the control's events for up to `seconds`; returns sooner once
        a transfer has ended."""
        self._check(lib.vantor_comm_process_events(self._handle,
                                                   _milliseconds(seconds, "seconds")))
        _free_handed_back()

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
        self._check(lib.vantor_comm_set_read_timeout(self._handle,
                                                     _milliseconds(seconds, "read_timeout")))

    def set_transfer_limits(self, timeout: float = 0, idle: float = 0):
        """Limits on the next transfers, in seconds, as vantor-comm
        download's --timeout and --idle: the longest a transfer runs
        (Outcome.TIMED_OUT), and, once the meter has sent something, the
        longest silence (Outcome.IDLE); 0: none. Either ends the transfer
        with every record kept."""
        self._check(lib.vantor_comm_set_transfer_limits(self._handle,
                                                        _milliseconds(timeout, "timeout"),
                                                        _milliseconds(idle, "idle")))

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
        callback = self._callbacks[0] if fn is not None else _native.MessageFn()
        self._check(lib.vantor_comm_set_message_handler(self._handle, callback, None))

    @property
    def on_record(self) -> Optional[Callable[[RecordWritten], None]]:
        """Called with every record written to the data file, in order, from
        inside process_events() or ReadDataLogger(); None: not called."""
        return self._on_record

    @on_record.setter
    def on_record(self, fn: Optional[Callable[[RecordWritten], None]]):
        self._on_record = fn
        callback = self._callbacks[1] if fn is not None else _native.RecordFn()
        self._check(lib.vantor_comm_set_record_handler(self._handle, callback, None))

    def _start_download(self, keep_earlier: bool, blocking: bool) -> Optional[str]:
        """Keeps an earlier download in df as df.N (undone when the transfer
        cannot arm), then Start() or ReadDataLogger(); the copy's name."""
        # Called once: it downloads. The copy's name is df's and a number.
        buffer = ctypes.create_string_buffer(len(_encode(self.df)) + 24)
        length = ctypes.c_size_t(0)
        self._check(lib.vantor_comm_download(self._handle, -1 if keep_earlier else 0,
                                             -1 if blocking else 0, buffer, len(buffer),
                                             ctypes.byref(length)))
        return _decode(buffer.raw[:length.value]) or None


def download(device: str, data_file: Optional[str] = None, *, blocking: bool = False,
             timeout: Optional[float] = None, idle: Optional[float] = None,
             app_path: Optional[str] = None, overwrite: bool = False,
             on_record: Optional[Callable[[RecordWritten], None]] = None) -> List[Record]:
    """Downloads the meter on `device` into `data_file` (default: today's
    file in app_path) and returns its records. Press SEND on the meter once
    it waits.

    app_path: the folder of unit2.dat, loaded first. timeout: the longest
    wait, in seconds, for the end of the transfer; idle: once the meter has
    sent something, the longest silence (as vantor-comm download's --timeout
    and --idle; default: wait as long as the meter takes). An earlier
    download in data_file is kept as data_file.1 (the lowest free number),
    as vantor-comm download keeps it, unless overwrite. on_record is called
    with every record as it is written (a RecordWritten). A transfer that
    does not end with the meter's end marker, or whose records did not all
    reach the data file, raises VantorError; the records received stay in
    the data file.
    """
    return _download(device, data_file, blocking=blocking, timeout=timeout, idle=idle,
                     app_path=app_path, overwrite=overwrite, on_record=on_record)


def _download(device, data_file=None, *, blocking=False, timeout=None, idle=None,
              app_path=None, overwrite=False, on_record=None, on_armed=None,
              on_kept=None) -> List[Record]:
    # Named as the caller named them, before a control exists.
    _text_arg(device, "device")
    if data_file is not None:
        _text_arg(data_file, "data_file")
    if app_path is not None:
        _text_arg(app_path, "app_path")
    for value, name in ((timeout, "timeout"), (idle, "idle")):
        if value is not None and _milliseconds(value, name) <= 0:
            raise ValueError(f"{name} must be more than 0 s, not {value!r}")
    messages = []
    with Control() as control:
        control.on_message = messages.append
        if on_record is not None:
            control.on_record = on_record
        if app_path is not None:
            control.AppPath = app_path
            control.ReadUnitFile()
        if data_file is not None:
            control.df = data_file
        if not control.df:
            raise VantorError(52, "Bad file name or number: give data_file or app_path")
        control.set_device(1, device)
        control.Port = 1
        control.read_timeout = 0  # bounded by the limits alone
        control.set_transfer_limits(timeout or 0, idle or 0)
        kept = None
        try:
            kept = control._start_download(not overwrite, blocking)
            if control.outcome == Outcome.NONE and on_armed is not None:
                on_armed()
            while control.outcome == Outcome.NONE:
                control.process_events(1.0)
            outcome = control.outcome
        finally:
            if kept is not None and on_kept is not None:
                on_kept(kept)
        if outcome != Outcome.END_MARKER:
            error = control.last_error
            lost = control.stats.records_lost
            if error is None and lost:
                error = VantorError(51, f"Internal error: {lost} records did not reach "
                                        f"{control.df}")
            elif error is None and outcome == Outcome.TIMED_OUT and timeout:
                error = VantorError(57, f"Device I/O error: the transfer did not end within "
                                        f"{float(timeout):g} s")
            elif error is None and outcome == Outcome.IDLE and idle:
                error = VantorError(57, f"Device I/O error: {os.fsdecode(device)} was silent "
                                        f"for {float(idle):g} s before the meter's end marker")
            raise error or VantorError(51, f"Internal error: the transfer ended "
                                           f"({outcome.name}) without its end marker")
        return list(read_records(control.df))


try:  # pandas is not a dependency: the helper is there when pandas is
    import pandas as _pandas
except ImportError:
    _pandas = None

if _pandas is not None:
    def read_dataframe(path, *, layout: str = "long", date_order: str = "ymd", tz=None):
        """The readings of the data file at path as a pandas DataFrame, in
        export's columns; time as UTC datetimes (offsets differ across a
        daylight-saving change)."""
        import io
        frame = _pandas.read_csv(io.StringIO(export(path, layout=layout, date_order=date_order,
                                                    tz=tz)),
                                 dtype={"stamp": "string", "unit": "string"})
        frame["time"] = _pandas.to_datetime(frame["time"], utc=True)
        return frame

    __all__.append("read_dataframe")
