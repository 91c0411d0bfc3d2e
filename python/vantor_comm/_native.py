"""The C library under the package, loaded with ctypes."""

import ctypes
import ctypes.util
import os
from pathlib import Path

Status = ctypes.c_int32
Handle = ctypes.c_void_p
MessageFn = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.POINTER(ctypes.c_char), ctypes.c_size_t)


class Stats(ctypes.Structure):
    _fields_ = [
        ("frames_received", ctypes.c_int64),
        ("frames_rejected", ctypes.c_int64),
        ("bytes_skipped", ctypes.c_int64),
        ("records_lost", ctypes.c_int64),
        ("unnamed_units", ctypes.c_int64),
    ]


class RecordC(ctypes.Structure):
    _fields_ = [
        ("sequence", ctypes.POINTER(ctypes.c_char)),
        ("sequence_length", ctypes.c_size_t),
        ("value", ctypes.POINTER(ctypes.c_char)),
        ("value_length", ctypes.c_size_t),
        ("unit", ctypes.POINTER(ctypes.c_char)),
        ("unit_length", ctypes.c_size_t),
        ("unit_quoted", ctypes.c_int16),
        ("channel", ctypes.c_int16),
        ("has_time", ctypes.c_int16),
        ("epoch_seconds", ctypes.c_int64),
        ("offset_seconds", ctypes.c_int32),
    ]


class WrittenC(ctypes.Structure):
    _fields_ = [
        ("sequence", ctypes.c_int32),
        ("is_time_stamp", ctypes.c_int16),
        ("value", ctypes.c_double),
        ("unit_code", ctypes.c_int16),
        ("channel", ctypes.c_int16),
        ("stamp", ctypes.POINTER(ctypes.c_char)),
        ("stamp_length", ctypes.c_size_t),
        ("line", ctypes.POINTER(ctypes.c_char)),
        ("line_length", ctypes.c_size_t),
    ]


RecordFn = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.POINTER(WrittenC))

DLL_NAME = "vantor_comm_c.dll"


def _candidates(system=os.name, environ=os.environ, here=Path(__file__).parent):
    """The paths tried for the C library, in order."""
    named = environ.get("VANTOR_COMM_LIBRARY")
    if named:
        return [named]
    found = []
    try:
        from . import _location  # written by the build and by the install
        found.append(str((here / _location.LIBRARY).resolve()))
    except ImportError:
        pass
    if system == "nt":
        # Beside the package, then on PATH, as Windows programs find a DLL.
        found.append(str(here / DLL_NAME))
        folders = [f for f in environ.get("PATH", "").split(";") if f]
        found += [folder.rstrip("\\/") + "\\" + DLL_NAME for folder in folders]
    else:
        found.append(ctypes.util.find_library("vantor_comm_c") or "libvantor_comm_c.so.1")
    return found


def _folder(path):
    cut = max(path.rfind("/"), path.rfind("\\"))
    return path[:cut] if cut > 0 else None


def _load(candidates=None, system=os.name, open_library=ctypes.CDLL,
          add_dll_directory=getattr(os, "add_dll_directory", None)):
    errors = []
    for path in candidates if candidates is not None else _candidates():
        folder = _folder(path)
        # Windows looks for a DLL's own imports only where it is told to.
        keep = add_dll_directory(folder) if system == "nt" and folder and os.path.isdir(folder) \
            else None
        try:
            library = open_library(path)
            library._vantor_dll_directory = keep
            return library
        except OSError as e:
            if keep is not None:
                keep.close()
            errors.append(str(e))
    raise ImportError(
        "vantor_comm: cannot load the Vantor Comm C library (libvantor_comm_c, or "
        + DLL_NAME + " on Windows); build it (tools/setup.sh, tools/windows.sh) or set "
        "VANTOR_COMM_LIBRARY to its path: " + "; ".join(errors))


lib = _load()

_i16 = ctypes.c_int16
_i32 = ctypes.c_int32
_p = ctypes.POINTER
_text_out = [ctypes.c_char_p, ctypes.c_size_t, _p(ctypes.c_size_t)]

_signatures = {
    "vantor_comm_create": [_p(Handle)],
    "vantor_comm_get_df": [Handle] + _text_out,
    "vantor_comm_put_df": [Handle, ctypes.c_char_p],
    "vantor_comm_CheckFile": [Handle, _p(_i16)],
    "vantor_comm_ViewData": [Handle],
    "vantor_comm_ReadDataLogger": [Handle],
    "vantor_comm_ReadDataLogger_2": [Handle],
    "vantor_comm_SCI_Init": [Handle],
    "vantor_comm_put_Settings": [Handle, ctypes.c_char_p],
    "vantor_comm_get_Settings": [Handle] + _text_out,
    "vantor_comm_put_AppPath": [Handle, ctypes.c_char_p],
    "vantor_comm_Read_Status": [Handle, _p(_i32), _p(_i16)],
    "vantor_comm_GetParameter": [Handle, _p(_i16), _i32, _i32, _p(_i16)],
    "vantor_comm_Start": [Handle, _p(_i16)],
    "vantor_comm_GetFilename": [Handle, _p(_i32)] + _text_out,
    "vantor_comm_ReadUnitFile": [Handle],
    "vantor_comm_process_events": [Handle, _i32],
    "vantor_comm_abort": [Handle],
    "vantor_comm_set_device": [Handle, _i16, ctypes.c_char_p],
    "vantor_comm_device_name": [Handle] + _text_out,
    "vantor_comm_outcome": [Handle, _p(ctypes.c_int)],
    "vantor_comm_stats": [Handle, _p(Stats)],
    "vantor_comm_last_error": [Handle, _p(_i32)] + _text_out,
    "vantor_comm_set_read_timeout": [Handle, _i32],
    "vantor_comm_get_read_timeout": [Handle, _p(_i32)],
    "vantor_comm_set_transfer_limits": [Handle, _i32, _i32],
    "vantor_comm_get_transfer_limits": [Handle, _p(_i32), _p(_i32)],
    "vantor_comm_grid_size": [Handle, _p(_i32), _p(_i32)],
    "vantor_comm_grid_cell": [Handle, _i32, _i32] + _text_out,
    "vantor_comm_panel_label": [Handle, ctypes.c_int] + _text_out + [_p(_i16)],
    "vantor_comm_panel_indicator": [Handle, _p(_i16), _p(_i16), _p(ctypes.c_uint32)],
    "vantor_comm_set_message_handler": [Handle, MessageFn, ctypes.c_void_p],
    "vantor_comm_set_record_handler": [Handle, RecordFn, ctypes.c_void_p],
    "vantor_comm_download": [Handle, _i16, _i16] + _text_out,
}
# The fields: get and put of each, with its type.
FIELDS = {"UnitIndex": _i16, "fgTransferOK": _i16, "fgComPortOpen": _i16, "datano": _i32,
          "fg_Two_Display": _i16, "bReadDataOK": _i16, "Port": _i16, "Baudrate": _i16}
for _name, _type in FIELDS.items():
    _signatures["vantor_comm_get_" + _name] = [Handle, _p(_type)]
    _signatures["vantor_comm_put_" + _name] = [Handle, _type]

for _name, _args in _signatures.items():
    _f = getattr(lib, _name)
    _f.argtypes = _args
    _f.restype = Status
lib.vantor_comm_free.argtypes = [Handle]
lib.vantor_comm_free.restype = Status
lib.vantor_comm_error_description.argtypes = [Handle]
lib.vantor_comm_error_description.restype = ctypes.c_char_p
lib.vantor_records_open.argtypes = [ctypes.c_char_p, _p(Handle)]
lib.vantor_records_open.restype = Status
lib.vantor_records_next.argtypes = [Handle, _p(RecordC), _p(_i16)]
lib.vantor_records_next.restype = Status
lib.vantor_records_error_description.argtypes = [Handle]
lib.vantor_records_error_description.restype = ctypes.c_char_p
lib.vantor_records_set_clock.argtypes = [Handle, ctypes.c_int, ctypes.c_char_p]
lib.vantor_records_set_clock.restype = Status
lib.vantor_export.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int, ctypes.c_int,
                              ctypes.c_int, ctypes.c_char_p, _p(ctypes.c_int64),
                              _p(ctypes.c_int64)]
lib.vantor_export.restype = Status
lib.vantor_keep_earlier_download.argtypes = [ctypes.c_char_p] + _text_out
lib.vantor_keep_earlier_download.restype = Status
lib.vantor_records_free.argtypes = [Handle]
lib.vantor_records_free.restype = None
lib.vantor_comm_version.argtypes = []
lib.vantor_comm_version.restype = ctypes.c_char_p
