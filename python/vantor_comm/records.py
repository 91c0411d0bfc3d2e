"""Reading a data file: one record per line."""

import re
from typing import Iterator, NamedTuple, Union


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


# sequence, value, unit, channel; text items are quoted as they are, with
# nothing escaped, so a unit name may hold commas.
_LINE = re.compile(r'(-?\d+),("[^"]*"|[^,"]*),("[^"]*"|[^,"]*),(-?\d+)\r?\n?')


def _record(line, path, line_number):
    match = _LINE.fullmatch(line)
    if match is None:
        raise ValueError(f"{path}:{line_number}: not a record: {line.rstrip()!r}")
    sequence, value, unit, channel = match.groups()
    if unit == '"Time"':
        return Record(int(sequence), value.strip('"'), "Time", int(channel), "time")
    unit_value = unit[1:-1].rstrip(" \0") if unit.startswith('"') else int(unit)
    return Record(int(sequence), float(value), unit_value, int(channel), "reading")


def read_records(path) -> Iterator[Record]:
    """Yields the records of the data file at path, in order."""
    # The file holds the meter's bytes: undecodable ones come through unchanged.
    with open(path, newline="", encoding="utf-8", errors="surrogateescape") as f:
        for number, line in enumerate(f, start=1):
            yield _record(line, path, number)
