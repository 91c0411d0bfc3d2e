// Writes the raw capture of a meter sending N records of the standard memory
// (then its end marker), for replay with `vantor-comm decode`.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "sim/meter_memory.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s RECORDS FILE\n", argv[0]);
        return 2;
    }
    char* end = nullptr;
    const long records = std::strtol(argv[1], &end, 10);
    if (*end != '\0' || records < 0 || records > 100'000'000) {
        std::fprintf(stderr, "%s: RECORDS must be 0 to 100000000\n", argv[0]);
        return 2;
    }
    const std::string bytes =
        vantor::sim::transferStream(vantor::sim::standardMemory(static_cast<int>(records)));
    std::FILE* out = std::fopen(argv[2], "wb");
    if (out == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size() ||
        std::fclose(out) != 0) {
        std::perror(argv[2]);
        return 1;
    }
    return 0;
}
