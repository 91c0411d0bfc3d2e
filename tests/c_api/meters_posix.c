/* c_api_test VANTOR_COMM_BIN: a simulated meter per download, started here. */
#define _DEFAULT_SOURCE /* mkdtemp, usleep */
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "meters.h"

extern char** environ;

static char dir[] = "/tmp/vantor-c-XXXXXX";
static const char* program;
static pid_t meters[2];
static char links[2][128];

bool prepareMeters(int argc, char** argv) {
    program = argc == 2 ? argv[1] : NULL;
    return program != NULL && mkdtemp(dir) != NULL;
}

/* It presses SEND at once; its bytes wait on the line. */
const char* startMeter(int index) {
    char* link = links[index];
    snprintf(link, sizeof links[index], "%s/meter-%d", dir, index);
    char* argv[] = {(char*)program, "simulate", "--send-after", "0", "--records",
                    "40",           "--link",   link,           NULL};
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    const int spawned = posix_spawn(&meters[index], program, &quiet, NULL, argv, environ);
    posix_spawn_file_actions_destroy(&quiet);
    if (spawned != 0) return NULL;
    struct stat st;
    for (int i = 0; i < 500 && lstat(link, &st) != 0; ++i) usleep(10000);
    return link;
}

bool meterEndedWell(int index) {
    int status = 0;
    return waitpid(meters[index], &status, 0) == meters[index] && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

const char* missingDevice(void) {
    return "/dev/vantor-no-such-tty";
}

const char* scratchFolder(void) {
    return dir;
}

void removeScratchFolder(void) {
    char command[128];
    snprintf(command, sizeof command, "rm -rf %s", dir);
    if (system(command) != 0) fprintf(stderr, "cannot remove %s\n", dir);
}
