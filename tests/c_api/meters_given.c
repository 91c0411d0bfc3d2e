/* c_api_test.exe PORT PORT: two meters a script has started, as COM ports
 * (tests/win32/with_meters.sh). */
#include <stdio.h>

#include "meters.h"

static const char* ports[2];

bool prepareMeters(int argc, char** argv) {
    if (argc != 3) return false;
    ports[0] = argv[1];
    ports[1] = argv[2];
    return true;
}

const char* startMeter(int index) {
    return ports[index];
}

/* The script waits for them. */
bool meterEndedWell(int index) {
    return ports[index] != NULL;
}

const char* missingDevice(void) {
    return "COM250";
}

/* The test's working folder, which the build gives it. */
const char* scratchFolder(void) {
    return ".";
}

void removeScratchFolder(void) {}
