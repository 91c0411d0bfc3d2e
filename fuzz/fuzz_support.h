// A control on the fake platform for the fuzz targets, and the checks they share.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "kit/fake_control.h"

namespace vantor::fuzz {

// A scratch folder for the whole run (on tmpfs when there is one).
const std::string& scratch();

// Armed on port 1, writing into the scratch folder.
struct Control : testing::FakeControl {
    Control();
};

void writeWhole(const std::string& path, const uint8_t* data, size_t size);

// Every record counted is one whole line in the data file, and nothing else is there.
void checkDataFile(const Vantor_Comm& comm);

#define FUZZ_CHECK(cond)                                                                   \
    do {                                                                                   \
        if (!(cond)) {                                                                     \
            std::fprintf(stderr, "check failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
            std::abort();                                                                  \
        }                                                                                  \
    } while (0)

}  // namespace vantor::fuzz
