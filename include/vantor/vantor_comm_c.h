/* Vantor Comm from C, and from any language that can call a C library
 * (Python's ctypes, LabVIEW's library calls, ...). Library vantor_comm_c:
 * CMake target VantorComm::c, pkg-config vantor-comm-c.
 *
 * A control is an opaque handle on the real backends: Qt's event loop,
 * QSerialPort, the local date, and message boxes handed to a callback
 * (standard error until one is set).
 *
 * Threads. Every call for a handle is made on the thread that created it.
 * When the process has no QCoreApplication, the first vantor_comm_create
 * makes one on its thread, and every control of the process then lives on
 * that thread; a host with its own QCoreApplication creates its controls on
 * the application's thread. A call from another thread fails with error 5
 * (VANTOR_INVALID_CALL), and so does vantor_comm_free, which then frees
 * nothing: the control's port and timers run in its thread's event loop,
 * perhaps at that very moment. A host done with a control on another thread
 * hands it back to the control's thread to free it there. On the calling
 * thread, vantor_comm_error_description gives the refusal's text.
 *
 * Events. Receive events and the panel's blink timer run while the control
 * waits in Qt's event loop: inside vantor_comm_process_events, inside
 * ReadDataLogger, or in the host's own Qt event loop. A host without one
 * calls vantor_comm_process_events while an armed transfer runs.
 *
 * Errors. Every function returns a status: VANTOR_OK (0), or the run-time
 * error number (53 File not found, 8002 Invalid port number, ...).
 * vantor_comm_error_description gives its text. Operations that show their
 * own errors in a message box (ReadDataLogger, ReadDataLogger_2, SCI_Init,
 * Start) return VANTOR_OK; vantor_comm_last_error gives what they showed.
 * No C++ exception leaves this library.
 *
 * Values keep the control's types: Integer int16_t, Long int32_t, Boolean
 * int16_t (False 0, True -1). Texts go in as NUL-terminated bytes (UTF-8 or
 * the data's own bytes) and come out through a buffer: the text is copied
 * up to size - 1 bytes and NUL-terminated, and *length (when not NULL)
 * receives its whole length, which may exceed what fitted and may include
 * NUL bytes (a unit without a name is ten of them). */
#ifndef VANTOR_COMM_C_H
#define VANTOR_COMM_C_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct vantor_comm vantor_comm;
typedef int32_t vantor_status;
typedef int16_t vantor_boolean;

#define VANTOR_FALSE 0
#define VANTOR_TRUE (-1)

/* Statuses: VANTOR_OK, or the run-time error number. */
#define VANTOR_OK 0
#define VANTOR_INVALID_CALL 5 /* a NULL argument, the wrong thread, a closed control */
#define VANTOR_OVERFLOW 6     /* a number outside its type's range */
#define VANTOR_OUT_OF_MEMORY 7
#define VANTOR_SUBSCRIPT 9      /* datano below 1, an index outside its array */
#define VANTOR_TYPE_MISMATCH 13 /* an item that is no number */
#define VANTOR_INTERNAL_ERROR 51
#define VANTOR_BAD_FILE_NAME 52
#define VANTOR_FILE_NOT_FOUND 53
#define VANTOR_FILE_ALREADY_OPEN 55
#define VANTOR_DEVICE_IO 57 /* the meter stopped sending */
#define VANTOR_DISK_FULL 61
#define VANTOR_INPUT_PAST_END 62 /* a file ends before what was asked of it */
#define VANTOR_PERMISSION_DENIED 70
#define VANTOR_PATH_FILE_ACCESS 75 /* a folder, device or pipe where a file belongs */
#define VANTOR_PATH_NOT_FOUND 76
#define VANTOR_PORT_INVALID 8002 /* no such serial device, or port number below 1 */
#define VANTOR_PORT_ALREADY_OPEN 8005
#define VANTOR_COMM_READ 8020 /* the device was lost */

/* How the last transfer ended. */
typedef enum vantor_outcome {
    VANTOR_OUTCOME_NONE = 0,        /* no transfer yet, or one is running */
    VANTOR_OUTCOME_NOT_ARMED = 1,   /* the port or the data file could not be opened */
    VANTOR_OUTCOME_END_MARKER = 2,  /* the meter's end marker arrived */
    VANTOR_OUTCOME_TIMED_OUT = 3,   /* ReadDataLogger's read time-out (error 57 shown), or
                                       the transfer time-out of the limits */
    VANTOR_OUTCOME_DEVICE_LOST = 4, /* the device went away mid-transfer */
    VANTOR_OUTCOME_FAILED = 5,      /* another error ended the transfer, or records were
                                       lost although the end marker came */
    VANTOR_OUTCOME_ABORTED = 6,     /* vantor_comm_abort ended it */
    VANTOR_OUTCOME_IDLE = 7         /* the meter, having begun, was silent for the idle limit */
} vantor_outcome;

/* Diagnostics of the running or last transfer. */
typedef struct vantor_stats {
    int64_t frames_received; /* complete frames taken from the line */
    int64_t frames_rejected; /* frames dropped for a bad terminator */
    int64_t bytes_skipped;   /* bytes between frames */
    int64_t records_lost;    /* records the data file refused (disk full, ...) */
    int64_t unnamed_units;   /* readings written with a unit no unit file named */
} vantor_stats;

/* A message box: its text, with its length. */
typedef void (*vantor_message_fn)(void* context, const char* text, size_t length);

/* The library's version, "1.0.0". */
const char* vantor_comm_version(void);

/* Creates a control in *control (NULL on failure). */
vantor_status vantor_comm_create(vantor_comm** control);
/* Ends a transfer still running (records kept), then frees the control;
 * on the control's thread only: from another thread it returns
 * VANTOR_INVALID_CALL and frees nothing. NULL is allowed (VANTOR_OK). */
vantor_status vantor_comm_free(vantor_comm* control);

/* The description of the last status other than VANTOR_OK that a call for
 * this control returned (for a failed vantor_comm_create: pass NULL). Valid
 * until the next call for the control. */
const char* vantor_comm_error_description(const vantor_comm* control);

/* --- The interface, in the order of its slots --- */

vantor_status vantor_comm_get_df(vantor_comm* c, char* buffer, size_t size, size_t* length);
vantor_status vantor_comm_put_df(vantor_comm* c, const char* df);
vantor_status vantor_comm_get_UnitIndex(vantor_comm* c, int16_t* value);
vantor_status vantor_comm_put_UnitIndex(vantor_comm* c, int16_t value);
vantor_status vantor_comm_get_fgTransferOK(vantor_comm* c, vantor_boolean* value);
vantor_status vantor_comm_put_fgTransferOK(vantor_comm* c, vantor_boolean value);
vantor_status vantor_comm_get_fgComPortOpen(vantor_comm* c, vantor_boolean* value);
vantor_status vantor_comm_put_fgComPortOpen(vantor_comm* c, vantor_boolean value);
vantor_status vantor_comm_get_datano(vantor_comm* c, int32_t* value);
vantor_status vantor_comm_put_datano(vantor_comm* c, int32_t value);
vantor_status vantor_comm_get_fg_Two_Display(vantor_comm* c, vantor_boolean* value);
vantor_status vantor_comm_put_fg_Two_Display(vantor_comm* c, vantor_boolean value);
vantor_status vantor_comm_get_bReadDataOK(vantor_comm* c, vantor_boolean* value);
vantor_status vantor_comm_put_bReadDataOK(vantor_comm* c, vantor_boolean value);
/* Sets *YesNo to True. */
vantor_status vantor_comm_CheckFile(vantor_comm* c, vantor_boolean* YesNo);
/* Fails with 9, 53, 62, 75, 76, 13 or 6 (see <vantor/vantor_comm.h>). */
vantor_status vantor_comm_ViewData(vantor_comm* c);
/* A whole download in one call; returns when it has ended. */
vantor_status vantor_comm_ReadDataLogger(vantor_comm* c);
vantor_status vantor_comm_ReadDataLogger_2(vantor_comm* c);
vantor_status vantor_comm_SCI_Init(vantor_comm* c);
vantor_status vantor_comm_put_Settings(vantor_comm* c, const char* sSettings);
vantor_status vantor_comm_get_Settings(vantor_comm* c, char* buffer, size_t size, size_t* length);
vantor_status vantor_comm_put_Port(vantor_comm* c, int16_t iPort);
vantor_status vantor_comm_get_Port(vantor_comm* c, int16_t* iPort);
vantor_status vantor_comm_put_Baudrate(vantor_comm* c, int16_t iBaudRate);
vantor_status vantor_comm_get_Baudrate(vantor_comm* c, int16_t* iBaudRate);
vantor_status vantor_comm_put_AppPath(vantor_comm* c, const char* unitfilepath);
/* *result: 1 once the transfer has ended, else 0. */
vantor_status vantor_comm_Read_Status(vantor_comm* c, int32_t* FrameCount, int16_t* result);
/* iParameter holds `count` elements with the indices lower .. lower + count
 * - 1; 0..5 are filled. Fails with 9 when one of 0..5 is missing. */
vantor_status vantor_comm_GetParameter(vantor_comm* c, int16_t* iParameter, int32_t lower,
                                       int32_t count, int16_t* result);
/* Arms an event-driven download; *result is 0. */
vantor_status vantor_comm_Start(vantor_comm* c, int16_t* result);
vantor_status vantor_comm_GetFilename(vantor_comm* c, int32_t* idatano, char* filename, size_t size,
                                      size_t* length);
/* Fails with 53 or 76 (df is set all the same), 9 or 62. */
vantor_status vantor_comm_ReadUnitFile(vantor_comm* c);

/* --- Additions for hosts on this platform --- */

/* Runs the control's events (receive events, timers) for up to
 * `milliseconds`; returns sooner once a transfer has ended. */
vantor_status vantor_comm_process_events(vantor_comm* c, int32_t milliseconds);
/* Ends a running transfer, keeping every record (as a transfer without its
 * end marker). */
vantor_status vantor_comm_abort(vantor_comm* c);
/* Port number `port` stands for `device` (a path, or a name in /dev). */
vantor_status vantor_comm_set_device(vantor_comm* c, int16_t port, const char* device);
/* The device the current Port stands for. */
vantor_status vantor_comm_device_name(vantor_comm* c, char* buffer, size_t size, size_t* length);
vantor_status vantor_comm_outcome(vantor_comm* c, vantor_outcome* outcome);
vantor_status vantor_comm_stats(vantor_comm* c, vantor_stats* stats);
/* The error the last transfer or port opening showed in a message box:
 * *number is 0 when it showed none. */
vantor_status vantor_comm_last_error(vantor_comm* c, int32_t* number, char* buffer, size_t size,
                                     size_t* length);
/* How long ReadDataLogger waits for the next byte (0: for ever; default
 * 60000). */
vantor_status vantor_comm_set_read_timeout(vantor_comm* c, int32_t milliseconds);
vantor_status vantor_comm_get_read_timeout(vantor_comm* c, int32_t* milliseconds);
/* Limits on a transfer, as vantor-comm download's --timeout and --idle:
 * the longest a transfer runs (VANTOR_OUTCOME_TIMED_OUT) and, once the meter
 * has sent something, the longest silence (VANTOR_OUTCOME_IDLE); 0: none,
 * both 0 by default. Either ends the transfer with every record kept and no
 * message box; they count from Start, ReadDataLogger_2 or ReadDataLogger on
 * (set the read time-out to 0 for a blocking download bounded by these
 * alone). */
vantor_status vantor_comm_set_transfer_limits(vantor_comm* c, int32_t timeout_ms, int32_t idle_ms);
vantor_status vantor_comm_get_transfer_limits(vantor_comm* c, int32_t* timeout_ms,
                                              int32_t* idle_ms);
/* The grid ViewData fills: row 0 holds the headings. */
vantor_status vantor_comm_grid_size(vantor_comm* c, int32_t* rows, int32_t* cols);
vantor_status vantor_comm_grid_cell(vantor_comm* c, int32_t row, int32_t col, char* buffer,
                                    size_t size, size_t* length);
/* The panel's labels: 0 title, 1 and 3 headings, 2 status line, 4 record
 * counter, 5 "Receiving Data ...". */
vantor_status vantor_comm_panel_label(vantor_comm* c, int index, char* buffer, size_t size,
                                      size_t* length, vantor_boolean* visible);
/* The indicator: shown, blinking, and its colour as 0xBBGGRR. */
vantor_status vantor_comm_panel_indicator(vantor_comm* c, vantor_boolean* visible,
                                          vantor_boolean* blinking, uint32_t* colour);
/* One record as it was written to the data file; its texts are valid
 * during the call only, and are not NUL-terminated. */
typedef struct vantor_record_written {
    int32_t sequence; /* the record's number, its first item in the file */
    vantor_boolean is_time_stamp;
    double value; /* 999999 when the meter sent no digits */
    int16_t unit_code;
    int16_t channel;   /* 0 for a time stamp */
    const char* stamp; /* a time stamp's twelve digits, as sent */
    size_t stamp_length;
    const char* line; /* the line written, without its line end */
    size_t line_length;
} vantor_record_written;

typedef void (*vantor_record_fn)(void* context, const vantor_record_written* record);

/* Every record written goes to `fn`, in order (NULL: nowhere), on the
 * control's thread, from inside the event or ReadDataLogger's wait. */
vantor_status vantor_comm_set_record_handler(vantor_comm* c, vantor_record_fn fn, void* context);
/* A download as vantor-comm download runs it: with keep_earlier, an earlier
 * download in df is first copied to df.N (the lowest free N), and the copy
 * is removed again when the transfer cannot arm; then Start (or, blocking,
 * ReadDataLogger, which returns at the end). `kept` receives the copy's name,
 * an empty text when none stays (a buffer of strlen(df) + 24 bytes always
 * holds it). A copy that fails is its error, with nothing armed. */
vantor_status vantor_comm_download(vantor_comm* c, vantor_boolean keep_earlier,
                                   vantor_boolean blocking, char* kept, size_t size,
                                   size_t* length);
/* Message boxes go to `fn` (NULL: back to standard error). The callback
 * runs on the control's thread, from inside the operation or event. */
vantor_status vantor_comm_set_message_handler(vantor_comm* c, vantor_message_fn fn, void* context);

/* --- Reading a data file back, record by record, in flat memory --- */

typedef struct vantor_records vantor_records;

/* One record; its texts stay valid until the next vantor_records_next or
 * vantor_records_free. */
typedef struct vantor_record {
    const char* sequence; /* item 1 as written */
    size_t sequence_length;
    const char* value; /* item 2: the value as written, or a time stamp's twelve digits */
    size_t value_length;
    const char* unit; /* item 3: "Time", a unit name (10 characters, maybe NULs) or a code */
    size_t unit_length;
    vantor_boolean unit_quoted; /* item 3 stood in quotes: a name, or "Time" */
    int16_t channel;            /* item 4 */
    /* The meter's clock at this record: the time of the last time stamp up
     * to it (see vantor_records_set_clock); has_time FALSE before the first
     * stamp, or when that stamp is not a date and a time. */
    vantor_boolean has_time;
    int64_t epoch_seconds;  /* seconds since 1970-01-01T00:00:00Z */
    int32_t offset_seconds; /* the zone's offset from UTC then */
} vantor_record;

/* The order of a time stamp's six-digit date group. */
typedef enum vantor_date_order {
    VANTOR_DATE_YMD = 0,
    VANTOR_DATE_DMY = 1,
    VANTOR_DATE_MDY = 2
} vantor_date_order;

/* Opens the data file at `path` (53, 76, 75, 70 as ViewData). Any thread. */
vantor_status vantor_records_open(const char* path, vantor_records** records);
/* The next record into *record and *more TRUE, or *more FALSE at the end
 * (nothing but line ends left). Fails with 62 for a record cut short, 13 or
 * 6 for a channel that is no Integer. */
vantor_status vantor_records_next(vantor_records* records, vantor_record* record,
                                  vantor_boolean* more);
/* How time stamps are read: the date group's order, and the zone the
 * meter's clock keeps (an IANA name of the time-zone database, "UTC", or
 * NULL or "" for the machine's; 5 for any other, such as "CEST", or for an
 * order none of vantor_date_order). Default: VANTOR_DATE_YMD, the machine's. */
vantor_status vantor_records_set_clock(vantor_records* records, vantor_date_order order,
                                       const char* zone);
/* The description of the last status other than VANTOR_OK for `records`
 * (NULL: of a failed vantor_records_open, vantor_export or
 * vantor_keep_earlier_download on this thread). */
const char* vantor_records_error_description(const vantor_records* records);
/* NULL is allowed. */
void vantor_records_free(vantor_records* records);

/* --- Export: a data file's readings as CSV, TSV or JSON Lines --- */

typedef enum vantor_export_format {
    VANTOR_EXPORT_CSV = 0,  /* RFC 4180, a header row */
    VANTOR_EXPORT_TSV = 1,  /* the same with tabs */
    VANTOR_EXPORT_JSONL = 2 /* an object per row */
} vantor_export_format;

typedef enum vantor_export_layout {
    VANTOR_LAYOUT_LONG = 0, /* a row per reading */
    VANTOR_LAYOUT_WIDE = 1  /* a row per time stamp, a column per channel and unit */
} vantor_export_layout;

/* Writes the readings of `data_file` into the file `out` as vantor-comm
 * export does; an earlier `out` is kept as out.N, an `out` that is no
 * regular file (a device, a FIFO) is written to as it is, and one that is
 * `data_file` itself is error 5. `zone` as
 * vantor_records_set_clock takes it. *rows and *bad_stamps (each may be
 * NULL) receive the rows written and the time stamps that are no time.
 * Fails with 5 for a format, layout or order that is none of its
 * enumeration's. Any thread. */
vantor_status vantor_export(const char* data_file, const char* out, vantor_export_format format,
                            vantor_export_layout layout, vantor_date_order order, const char* zone,
                            int64_t* rows, int64_t* bad_stamps);

/* A download never replaces an earlier one without being asked (as
 * vantor-comm download without --overwrite): when `path` is a regular file
 * that is not empty, copies it to path.N (the lowest N whose name is free)
 * and gives the copy's name; an empty text when nothing needed keeping.
 * Each call keeps another copy: give a buffer of strlen(path) + 24 bytes,
 * which always holds the name. The original stays in place: remove the copy
 * when the download then cannot arm (vantor_comm_download does both). Any
 * thread. */
vantor_status vantor_keep_earlier_download(const char* path, char* buffer, size_t size,
                                           size_t* length);

#ifdef __cplusplus
}
#endif

#endif /* VANTOR_COMM_C_H */
