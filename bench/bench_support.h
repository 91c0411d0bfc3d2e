// Shared by the benchmark programs: scratch folders, whole-file reads and the
// data file a stream should produce.
#pragma once

#include <time.h>

#include <cstddef>
#include <string>
#include <vector>

namespace vantor::bench {

// A fresh folder for data files: under $VANTOR_BENCH_DIR, else /dev/shm (tmpfs,
// so the disk does not decide the figures), else /tmp. Removed by the caller.
std::string makeScratchDir(const std::string& tag);
void removeTree(const std::string& path);

std::string readWholeFile(const std::string& path);

// Runs `stream` through a control on the fake platform (virtual clock,
// scripted port), `readSize` bytes per receive event, into `dataFile`, and
// returns the data file's bytes. When `batchEnds` is given it receives the
// file's size after each event, i.e. where each write(2) batch ends.
std::string decodeOnFakePlatform(const std::string& stream, const std::string& dataFile,
                                 std::size_t readSize,
                                 std::vector<std::size_t>* batchEnds = nullptr);

// A clock's reading in seconds (CLOCK_MONOTONIC, CLOCK_PROCESS_CPUTIME_ID, ...).
double clockSeconds(clockid_t clock);
inline double monotonicSeconds() {
    return clockSeconds(CLOCK_MONOTONIC);
}

}  // namespace vantor::bench
