/* The C API from C: downloads from the meter simulator through a
 * pseudo-terminal in both modes, and the errors a script meets first.
 * Where the meters come from: meters.h. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vantor/vantor_comm_c.h>

#include "meters.h"

static int failures = 0;
#define CHECK(cond)                                                            \
    do {                                                                       \
        if (!(cond)) {                                                         \
            fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #cond); \
            ++failures;                                                        \
        }                                                                      \
    } while (0)

static char messages[4096];

static void onMessage(void* context, const char* text, size_t length) {
    (void)context;
    strncat(messages, text, sizeof messages - strlen(messages) - 2);
    strcat(messages, "\n");
    (void)length;
}

static int32_t written = 0;
static int inOrder = 1;

static void onRecord(void* context, const vantor_record_written* r) {
    (void)context;
    inOrder = inOrder && r->sequence == written && r->line_length > 0 &&
              (r->sequence > 0 || (r->is_time_stamp && r->stamp_length == 12));
    ++written;
}

static long linesIn(const char* path) {
    FILE* f = fopen(path, "rb");
    if (f == NULL) return -1;
    long lines = 0;
    for (int ch; (ch = fgetc(f)) != EOF;) lines += ch == '\n';
    fclose(f);
    return lines;
}

static void download(vantor_comm* c, int blocking) {
    char data[600];
    snprintf(data, sizeof data, "%s/data-%d.dat", scratchFolder(), blocking);
    /* The folder may hold an earlier run's files: nothing is there to keep. */
    remove(data);
    const char* device = startMeter(blocking);
    CHECK(device != NULL);
    CHECK(vantor_comm_set_device(c, 1, device) == VANTOR_OK);
    CHECK(vantor_comm_put_Port(c, 1) == VANTOR_OK);
    CHECK(vantor_comm_put_df(c, data) == VANTOR_OK);
    vantor_outcome outcome = VANTOR_OUTCOME_NONE;
    written = 0;
    if (blocking) {
        CHECK(vantor_comm_ReadDataLogger(c) == VANTOR_OK);
    } else {
        char kept[700] = "x";
        CHECK(vantor_comm_download(c, VANTOR_TRUE, VANTOR_FALSE, kept, sizeof kept, NULL) ==
                  VANTOR_OK &&
              kept[0] == '\0');
        /* Bounded only so that a broken download ends the test. */
        for (int i = 0; i < 300 && outcome == VANTOR_OUTCOME_NONE; ++i) {
            CHECK(vantor_comm_process_events(c, 100) == VANTOR_OK);
            vantor_comm_outcome(c, &outcome);
        }
    }
    vantor_comm_outcome(c, &outcome);
    CHECK(outcome == VANTOR_OUTCOME_END_MARKER);
    vantor_boolean ok = 0;
    int32_t records = 0;
    CHECK(vantor_comm_get_fgTransferOK(c, &ok) == VANTOR_OK && ok == VANTOR_TRUE);
    CHECK(vantor_comm_get_datano(c, &records) == VANTOR_OK && records == 40);
    CHECK(linesIn(data) == 40);
    CHECK(written == 40 && inOrder);
    char counter[16];
    CHECK(vantor_comm_panel_label(c, 4, counter, sizeof counter, NULL, NULL) == VANTOR_OK);
    CHECK(strcmp(counter, "40") == 0);
    CHECK(meterEndedWell(blocking));
}

int main(int argc, char** argv) {
    if (!prepareMeters(argc, argv)) return 2;
    vantor_comm* c = NULL;
    CHECK(vantor_comm_create(&c) == VANTOR_OK && c != NULL);
    if (c == NULL) return 1;
    CHECK(vantor_comm_set_message_handler(c, onMessage, NULL) == VANTOR_OK);
    CHECK(vantor_comm_set_record_handler(c, onRecord, NULL) == VANTOR_OK);

    download(c, 0);
    download(c, 1);
    CHECK(strstr(messages, "Data Received O.K!") != NULL); /* the blocking download's */

    /* The data view of the last download, through the grid. */
    CHECK(vantor_comm_put_datano(c, 2) == VANTOR_OK);
    CHECK(vantor_comm_ViewData(c) == VANTOR_OK);
    int32_t rows = 0, cols = 0;
    char cell[32];
    size_t length = 0;
    CHECK(vantor_comm_grid_size(c, &rows, &cols) == VANTOR_OK && rows == 3 && cols == 4);
    CHECK(vantor_comm_grid_cell(c, 1, 3, cell, sizeof cell, &length) == VANTOR_OK);
    CHECK(strcmp(cell, "Time") == 0 && length == 4);

    char missing[700];
    /* A device that is not there: shown, kept as the last error, nothing armed,
     * and the earlier download's copy undone. */
    messages[0] = '\0';
    CHECK(vantor_comm_set_device(c, 1, missingDevice()) == VANTOR_OK);
    char kept[700] = "x";
    snprintf(missing, sizeof missing, "%s/data-1.dat.1", scratchFolder());
    remove(missing);
    CHECK(vantor_comm_download(c, VANTOR_TRUE, VANTOR_TRUE, kept, sizeof kept, NULL) == VANTOR_OK);
    CHECK(kept[0] == '\0' && linesIn(missing) == -1);
    int32_t number = 0;
    char text[256];
    CHECK(vantor_comm_last_error(c, &number, text, sizeof text, NULL) == VANTOR_OK);
    CHECK(number == 8002 && strstr(messages, text) != NULL);
    vantor_outcome outcome = VANTOR_OUTCOME_NONE;
    vantor_comm_outcome(c, &outcome);
    CHECK(outcome == VANTOR_OUTCOME_NOT_ARMED);

    /* Operations that throw return their error number and description. */
    snprintf(missing, sizeof missing, "%s/nonexistent/meter", scratchFolder());
    CHECK(vantor_comm_put_AppPath(c, missing) == VANTOR_OK);
    vantor_status s = vantor_comm_ReadUnitFile(c);
    CHECK(s == 76);
    CHECK(strstr(vantor_comm_error_description(c), "nonexistent") != NULL);
    CHECK(vantor_comm_put_datano(c, 0) == VANTOR_OK);
    CHECK(vantor_comm_ViewData(c) == 9);
    CHECK(vantor_comm_get_datano(c, NULL) == 5);

    vantor_comm_free(c);
    if (failures == 0) removeScratchFolder();
    printf("%s\n", failures == 0 ? "c_api_test: passed" : "c_api_test: FAILED");
    return failures == 0 ? 0 : 1;
}
