/* Where c_api_test's meters and files are: on Linux it starts the simulator
 * itself on a pseudo-terminal; under Wine a script has started them and made
 * them COM ports, which it names on the command line. */
#pragma once

#include <stdbool.h>

/* Reads the command line; false when it is not what the test takes. */
bool prepareMeters(int argc, char** argv);
/* A meter that has pressed SEND, for download `index` (0, 1): its device. */
const char* startMeter(int index);
/* Whether that meter ended well, once its records have been read. */
bool meterEndedWell(int index);
/* A device that is not there. */
const char* missingDevice(void);
/* A folder of the test's own, and its removal. */
const char* scratchFolder(void);
void removeScratchFolder(void);
