"""Reading a data file back, record by record, with the library's own reader,
and writing its readings out as CSV, TSV or JSON Lines."""

import ctypes
import datetime
import math
import os
import re
import tempfile
from typing import Iterator, NamedTuple, Optional, Union

from ._native import Handle, RecordC, lib

_DATE_ORDERS = {"ymd": 0, "dmy": 1, "mdy": 2}
_FORMATS = {"csv": 0, "tsv": 1, "jsonl": 2}
_LAYOUTS = {"long": 0, "wide": 1}
_OVERLOAD = 999999.0
_INPUT_PAST_END = 62
# What the library's export reads as a number (std::from_chars): no sign but
# a minus, no spaces, no digit separators; and as an integer.
_NUMBER = re.compile(r"-?(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?", re.ASCII)
_INTEGER = re.compile(r"-?\d+", re.ASCII)


def _number(text: str) -> Union[float, str]:
    """A value as export reads it: a finite number, or else the text as written."""
    if _NUMBER.fullmatch(text):
        value = float(text)
        if math.isfinite(value):
            return value
    return text


def _integer(text: str) -> Union[int, str]:
    return int(text) if _INTEGER.fullmatch(text) else text


class _Fields(NamedTuple):
    sequence: Union[int, str]
    value: Union[float, str]
    unit: Union[str, int]
    channel: int
    kind: str


class Record(_Fields):
    """One line of a data file.

    kind is "time" for a time stamp (value: its twelve digits, yymmddhhmmss
    as the meter sent them) and "reading" otherwise (value: a float). unit
    is the unit's name without its padding ("" for a unit the unit file did
    not name) or, where the file holds the bare unit code, that int.

    Items another program wrote come through as view and export read them:
    a sequence number or bare unit code that is no integer, and a value
    that is no finite number (export's status invalid), as the text written.

    time is the meter's clock at the record, an aware datetime (the last
    time stamp up to it; None before the first, or when that stamp is not a
    date and a time); overload is True for a reading the meter sent without
    digits (its value is 999999).
    """

    time: Optional[datetime.datetime]
    overload: bool


def _text(pointer, length) -> str:
    # The file holds the meter's bytes: undecodable ones come through unchanged.
    return ctypes.string_at(pointer, length).decode("utf-8", "surrogateescape")


def _choice(value, name, choices):
    if value not in choices:
        raise ValueError(f"{name} must be one of {', '.join(choices)}, not {value!r}")
    return choices[value]


def _zone(tz, name="tz"):
    from . import _text_arg
    if tz is None:
        return b""
    zone = _text_arg(tz, name)
    if not zone:
        raise ValueError(f"{name}: give a zone such as 'Europe/Berlin', or 'UTC' (or None for "
                         "this machine's)")
    return zone


def _zone_error(tz, description):
    """The ValueError for a zone the time-zone database does not know, or None."""
    if tz is None or "unknown time zone" not in description:
        return None
    return ValueError(f"tz: {tz!r} is not a zone of the time-zone database (give an IANA "
                      "name such as 'Europe/Berlin', or 'UTC')")


def read_records(path, *, date_order: str = "ymd", tz=None) -> Iterator[Record]:
    """Yields the records of the data file at path, in order, holding one at
    a time. Time stamps are read with their date group in date_order (ymd,
    dmy, mdy) as local time in tz (an IANA name such as "Europe/Berlin",
    "UTC", or None for the machine's zone). Raises VantorError as the
    control's data view does: 53 or 76 for a missing file, 75 for a folder
    or device, 13 or 6 for a channel that is no Integer. A record cut short
    at the end (a download that was killed can leave one) is not a record,
    as for view and export. Raises ValueError for a tz the time-zone
    database does not know ("Berlin", "CEST")."""
    from . import VantorError, _text_arg

    order = _choice(date_order, "date_order", _DATE_ORDERS)
    zone = _zone(tz)
    handle = Handle()
    status = lib.vantor_records_open(_text_arg(path, "path"), ctypes.byref(handle))
    if status != 0:
        raise VantorError(status, lib.vantor_records_error_description(None).decode(
            "utf-8", "surrogateescape"))

    def failed(status, where=""):
        description = lib.vantor_records_error_description(handle).decode(
            "utf-8", "surrogateescape")
        return VantorError(status, description + where)

    try:
        status = lib.vantor_records_set_clock(handle, order, zone)
        if status != 0:
            error = failed(status)
            raise _zone_error(tz, error.description) or error
        record = RecordC()
        more = ctypes.c_int16()
        number = 0
        zones = {}
        while True:
            status = lib.vantor_records_next(handle, ctypes.byref(record), ctypes.byref(more))
            if status == _INPUT_PAST_END:
                return
            if status != 0:
                raise failed(status, f": {os.fsdecode(path)}, record {number + 1}")
            if not more.value:
                return
            number += 1
            sequence = _integer(_text(record.sequence, record.sequence_length))
            value = _text(record.value, record.value_length)
            unit = _text(record.unit, record.unit_length)
            if unit == "Time":
                r = Record(sequence, value, unit, record.channel, "time")
                r.overload = False
            else:
                unit = unit.rstrip(" \0") if record.unit_quoted else _integer(unit)
                r = Record(sequence, _number(value), unit, record.channel, "reading")
                r.overload = r.value == _OVERLOAD
            r.time = None
            if record.has_time:
                offset = record.offset_seconds
                zone_of = zones.get(offset)
                if zone_of is None:
                    zone_of = zones[offset] = datetime.timezone(datetime.timedelta(seconds=offset))
                r.time = datetime.datetime.fromtimestamp(record.epoch_seconds, zone_of)
            yield r
    finally:
        lib.vantor_records_free(handle)


def export(path, out=None, *, format: str = "csv", layout: str = "long",
           date_order: str = "ymd", tz=None):
    """Writes the readings of the data file at path as vantor-comm export
    does: format csv, tsv or jsonl; layout long (a row per reading) or wide
    (a row per time stamp); the meter's clock read as read_records reads it.
    With out (a path; an earlier file there is kept as out.N) returns the
    number of rows written; without it, returns the text."""
    from . import VantorError, _text_arg

    fmt = _choice(format, "format", _FORMATS)
    lay = _choice(layout, "layout", _LAYOUTS)
    order = _choice(date_order, "date_order", _DATE_ORDERS)
    target = out
    spare = None
    if out is None:
        spare = tempfile.mkdtemp(prefix="vantor-export-")
        target = os.path.join(spare, "export")
    try:
        rows = ctypes.c_int64()
        status = lib.vantor_export(_text_arg(path, "path"), _text_arg(target, "out"), fmt, lay,
                                   order, _zone(tz), ctypes.byref(rows), None)
        if status != 0:
            description = lib.vantor_records_error_description(None).decode(
                "utf-8", "surrogateescape")
            raise _zone_error(tz, description) or VantorError(status, description)
        if out is not None:
            return rows.value
        with open(target, newline="", encoding="utf-8", errors="surrogateescape") as f:
            return f.read()
    finally:
        if spare is not None:
            for name in os.listdir(spare):
                os.unlink(os.path.join(spare, name))
            os.rmdir(spare)
