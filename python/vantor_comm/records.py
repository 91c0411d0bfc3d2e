"""Reading a data file back, record by record, with the library's own reader."""

import ctypes
import os
from typing import Iterator, NamedTuple, Union

from ._native import Handle, RecordC, lib


class Record(NamedTuple):
    """One line of a data file.

    kind is "time" for a time stamp (value: its twelve digits, yymmddhhmmss
    as the meter sent them) and "reading" otherwise (value: a float). unit
    is the unit's name without its padding ("" for a unit the unit file did
    not name) or, where the file holds the bare unit code, that int.
    """

    sequence: int
    value: Union[float, str]
    unit: Union[str, int]
    channel: int
    kind: str


def _text(pointer, length) -> str:
    # The file holds the meter's bytes: undecodable ones come through unchanged.
    return ctypes.string_at(pointer, length).decode("utf-8", "surrogateescape")


def read_records(path) -> Iterator[Record]:
    """Yields the records of the data file at path, in order, holding one at
    a time. Raises VantorError as the control's data view does: 53 or 76 for
    a missing file, 75 for a folder or device, 62 for a record cut short, 13
    or 6 for a channel that is no Integer."""
    from . import VantorError, _text_arg

    handle = Handle()
    status = lib.vantor_records_open(_text_arg(path, "path"), ctypes.byref(handle))
    if status != 0:
        raise VantorError(status, lib.vantor_records_error_description(None).decode(
            "utf-8", "surrogateescape"))
    try:
        record = RecordC()
        more = ctypes.c_int16()
        number = 0
        while True:
            status = lib.vantor_records_next(handle, ctypes.byref(record), ctypes.byref(more))
            if status != 0:
                description = lib.vantor_records_error_description(handle).decode(
                    "utf-8", "surrogateescape")
                raise VantorError(status, f"{description}: {os.fsdecode(path)}, "
                                          f"record {number + 1}")
            if not more.value:
                return
            number += 1
            sequence = int(_text(record.sequence, record.sequence_length))
            value = _text(record.value, record.value_length)
            unit = _text(record.unit, record.unit_length)
            if unit == "Time":
                yield Record(sequence, value, unit, record.channel, "time")
            elif record.unit_quoted:
                yield Record(sequence, float(value), unit.rstrip(" \0"), record.channel, "reading")
            else:
                yield Record(sequence, float(value), int(unit), record.channel, "reading")
    finally:
        lib.vantor_records_free(handle)
