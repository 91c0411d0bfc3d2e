// The simulated meter's logged memory and the byte stream it sends when
// SEND is pressed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vantor::sim {

inline constexpr char kStx = 2;
inline constexpr char kCr = 13;
inline constexpr char kEsc = 27;
inline constexpr std::size_t kBodySize = 14;
inline constexpr std::size_t kFrameSize = kBodySize + 2;

// One logged record of the meter's memory.
struct MeterRecord {
    enum class Kind { Time, Extended, Simple } kind;
    std::string body;  // the 14 body characters b1..b14

    bool operator==(const MeterRecord&) const = default;
};

// Record builders; each throws std::invalid_argument when a field does not fit its digits.
// `stamp` is twelve digits: a six-digit date group, then hh mm ss.
MeterRecord timeRecord(const std::string& stamp);
// channel 1..15, unit 0..159, scale 0..9, value 0..99999999.
MeterRecord extendedRecord(int channel, int unit, bool negative, int scale, std::int64_t value);
// channel 1..9, unit 0..99, decimals 0..9, value 0..9999. `altKind` uses the kind digits
// 2 / 3 instead of 0 / 1.
MeterRecord simpleRecord(int channel, int unit, bool negative, int decimals, int value,
                         bool altKind = false);

// STX + body + CR; throws std::invalid_argument if body is not 14 bytes.
std::string frame(const std::string& body14);
// Two frames whose bodies are all ESC: 32 bytes.
std::string endMarker();
// A deterministic memory of n records mixing all three kinds over several channels and unit
// codes (some above 100), both signs and several scale codes. Record 0 and every eighth
// record after it are time frames.
std::vector<MeterRecord> standardMemory(int n);
// n records that look like a logging session: every minute a time frame, then one reading
// per channel, each channel in one unit following a curve with a little noise: 1 degC
// drifting up, 2 V stepping from 1.2 to 3.3 half-way, 3 pH settling towards 7, 11 kPa
// (a channel above 9) around the air's pressure, and every other minute a simple reading on
// channel 5 (unit code 12). One reading of channel 2 is an overload, which the meter sends
// without digits (written 999999). Deterministic, like standardMemory.
std::vector<MeterRecord> sessionMemory(int n);
// An extended reading whose digits are not a number (the meter's overload display).
MeterRecord overloadRecord(int channel, int unit);
// Every frame of `memory`, then the end marker.
std::string transferStream(const std::vector<MeterRecord>& memory);
// The raw bytes of a capture file, to be replayed as they are. Throws std::runtime_error
// naming the file when it cannot be read.
std::string captureFromFile(const std::string& path);
// A unit file (unit2.dat) naming every unit code the simulated meter sends (0 to 159).
std::string unitFile();

}  // namespace vantor::sim
