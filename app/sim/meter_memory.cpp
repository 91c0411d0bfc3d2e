#include "sim/meter_memory.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace vantor::sim {
namespace {

void require(bool ok, const char* what) {
    if (!ok) throw std::invalid_argument(what);
}

char digit(int d) {
    return static_cast<char>('0' + d);
}

// 0..15 as the meter writes a channel or the tens of a unit code.
char hexDigit(int d) {
    return d < 10 ? digit(d) : static_cast<char>('A' + d - 10);
}

std::string zeroPadded(std::int64_t value, int width) {
    std::string out(static_cast<std::size_t>(width), '0');
    for (int i = width - 1; i >= 0 && value > 0; --i, value /= 10) {
        out[static_cast<std::size_t>(i)] = digit(static_cast<int>(value % 10));
    }
    return out;
}

// Fixed mixing so the memory is the same on every platform (the standard distributions
// are not).
std::uint64_t mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

template <typename T, std::size_t N>
const T& cycle(const T (&table)[N], int k) {
    return table[static_cast<std::size_t>(k) % N];
}

// Unit codes of the simulated unit file.
constexpr int kUnitVolt = 0;
constexpr int kUnitDegC = 9;
constexpr int kUnitPh = 14;
constexpr int kUnitKpa = 20;

std::string stampFor(int t, int secondsApart = 437) {
    // Starts 2012-06-04 15:48:15.
    constexpr int kStart = 15 * 3600 + 48 * 60 + 15;
    const long total = kStart + static_cast<long>(secondsApart) * t;
    const int day = 1 + static_cast<int>((3 + total / 86400) % 28);
    const int secs = static_cast<int>(total % 86400);
    return "1206" + zeroPadded(day, 2) + zeroPadded(secs / 3600, 2) +
           zeroPadded(secs / 60 % 60, 2) + zeroPadded(secs % 60, 2);
}

}  // namespace

MeterRecord timeRecord(const std::string& stamp) {
    require(stamp.size() == 12, "time stamp must have 12 digits");
    for (char c : stamp) require(c >= '0' && c <= '9', "time stamp must be digits");
    return {MeterRecord::Kind::Time, "40" + stamp};
}

MeterRecord extendedRecord(int channel, int unit, bool negative, int scale, std::int64_t value) {
    require(channel >= 1 && channel <= 15, "extended channel must be 1..15");
    require(unit >= 0 && unit <= 159, "extended unit code must be 0..159");
    require(scale >= 0 && scale <= 9, "scale code must be 0..9");
    require(value >= 0 && value <= 99999999, "extended value must have at most 8 digits");
    std::string body = "4";
    body += hexDigit(channel);
    body += hexDigit(unit / 10);
    body += digit(unit % 10);
    body += negative ? '1' : '0';
    body += digit(scale);
    body += zeroPadded(value, 8);
    return {MeterRecord::Kind::Extended, body};
}

MeterRecord simpleRecord(int channel, int unit, bool negative, int decimals, int value,
                         bool altKind) {
    require(channel >= 1 && channel <= 9, "simple channel must be 1..9");
    require(unit >= 0 && unit <= 99, "simple unit code must be 0..99");
    require(decimals >= 0 && decimals <= 9, "decimal places must be 0..9");
    require(value >= 0 && value <= 9999, "simple value must have at most 4 digits");
    std::string body;
    body += digit((altKind ? 2 : 0) + (negative ? 1 : 0));
    body += digit(channel);
    body += digit(unit / 10);
    body += digit(unit % 10);
    body += '0';
    body += digit(decimals);
    body += "0000";
    body += zeroPadded(value, 4);
    return {MeterRecord::Kind::Simple, body};
}

std::string frame(const std::string& body14) {
    if (body14.size() != kBodySize) {
        throw std::invalid_argument("frame body must be 14 bytes, got " +
                                    std::to_string(body14.size()));
    }
    std::string out;
    out.reserve(kFrameSize);
    out += kStx;
    out += body14;
    out += kCr;
    return out;
}

std::string endMarker() {
    const std::string escFrame = frame(std::string(kBodySize, kEsc));
    return escFrame + escFrame;
}

std::vector<MeterRecord> standardMemory(int n) {
    static const int kExtChannels[] = {1, 2, 3, 10, 4, 15, 7, 12};
    static const int kExtUnits[] = {1, 105, 2, 12, 150, 3, 159, 44, 100};
    static const int kExtScales[] = {2, 0, 1, 3, 8, 4, 7, 5, 9, 6};
    static const int kSimpleChannels[] = {2, 1, 3, 5, 9, 6};
    static const int kSimpleUnits[] = {12, 7, 45, 99, 0, 23, 60};
    static const int kSimpleDecimals[] = {1, 0, 2, 3, 1};

    std::vector<MeterRecord> memory;
    if (n <= 0) return memory;
    memory.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        if (i % 8 == 0) {
            memory.push_back(timeRecord(stampFor(i / 8)));
            continue;
        }
        const int r = i - i / 8 - 1;  // index among the readings
        const int k = r / 2;
        const std::uint64_t h = mix(static_cast<std::uint64_t>(i));
        if (r % 2 == 0) {
            std::int64_t limit = 1000;
            for (int d = static_cast<int>(h % 6); d > 0; --d) limit *= 10;
            // Never zero, so a negative reading never reads back as -0.
            const auto value = 1 + static_cast<std::int64_t>((h >> 8) % (limit - 1));
            memory.push_back(extendedRecord(cycle(kExtChannels, k), cycle(kExtUnits, k), k % 3 == 2,
                                            cycle(kExtScales, k), value));
        } else {
            const int value = 1 + static_cast<int>((h >> 8) % 9999);
            memory.push_back(simpleRecord(cycle(kSimpleChannels, k), cycle(kSimpleUnits, k),
                                          k % 2 == 1, cycle(kSimpleDecimals, k), value,
                                          k / 2 % 2 == 1));
        }
    }
    return memory;
}

MeterRecord overloadRecord(int channel, int unit) {
    MeterRecord r = extendedRecord(channel, unit, false, 0, 0);
    r.body.replace(8, 4, "0.L ");  // digits 9..12 as the display shows "0.L"
    return r;
}

std::vector<MeterRecord> sessionMemory(int n) {
    std::vector<MeterRecord> memory;
    if (n <= 0) return memory;
    memory.reserve(static_cast<std::size_t>(n));
    // Noise in [-1, 1), the same on every platform.
    auto noise = [](int minute, int channel) {
        const std::uint64_t h = mix(static_cast<std::uint64_t>(minute) * 16 + channel);
        return static_cast<double>(h % 2001) / 1000.0 - 1.0;
    };
    auto reading = [](int channel, int unit, int scale, double value) {
        const auto digits =
            static_cast<std::int64_t>(std::llround(std::fabs(value) * std::pow(10.0, scale)));
        return extendedRecord(channel, unit, value < 0, scale, digits);
    };
    // Two minutes hold eleven records: the time frames and readings of both.
    const int minutes = n * 2 / 11 + 2;
    const int overloadAt = std::max(2, n / 12);
    for (int t = 0; t < minutes && static_cast<int>(memory.size()) < n; ++t) {
        std::vector<MeterRecord> block;
        block.push_back(timeRecord(stampFor(t, 60)));
        const double temperature = 21.5 + 0.12 * t + 0.05 * noise(t, 1);
        block.push_back(reading(1, kUnitDegC, 2, temperature));
        if (t == overloadAt) {
            block.push_back(overloadRecord(2, kUnitVolt));
        } else {
            const double volts = (t < minutes / 2 ? 1.2 : 3.3) + 0.004 * noise(t, 2);
            block.push_back(reading(2, kUnitVolt, 3, volts));
        }
        const double ph = 7.0 - 3.0 * std::exp(-t / 6.0) + 0.02 * noise(t, 3);
        block.push_back(reading(3, kUnitPh, 2, ph));
        block.push_back(reading(11, kUnitKpa, 1, 101.3 + 0.3 * noise(t, 11)));
        if (t % 2 == 1) {
            const int humidity = static_cast<int>(std::lround(450 + 20 * noise(t, 5)));
            block.push_back(simpleRecord(5, 12, false, 1, humidity));
        }
        for (auto& r : block) {
            if (static_cast<int>(memory.size()) == n) break;
            memory.push_back(std::move(r));
        }
    }
    return memory;
}

std::string transferStream(const std::vector<MeterRecord>& memory) {
    std::string out;
    out.reserve(memory.size() * kFrameSize + 2 * kFrameSize);
    for (const MeterRecord& record : memory) out += frame(record.body);
    out += endMarker();
    return out;
}

std::string captureFromFile(const std::string& path) {
    auto fail = [&path](int err) {
        return std::runtime_error("cannot read capture file '" + path + "': " + std::strerror(err));
    };
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                         &std::fclose);
    if (!file) throw fail(errno);
    std::string bytes;
    errno = 0;
    char buffer[65536];
    for (;;) {
        const std::size_t got = std::fread(buffer, 1, sizeof buffer, file.get());
        bytes.append(buffer, got);
        if (got < sizeof buffer) break;
    }
    if (std::ferror(file.get())) throw fail(errno != 0 ? errno : EIO);
    return bytes;
}

std::string unitFile() {
    static const char* const kNames[] = {
        "V",   "mV",   "A",  "mA",    "Ohm",   "kOhm", "Hz", "kHz", "uF",  "degC", "degF", "%RH",
        "ppm", "mg/L", "pH", "mS/cm", "uS/cm", "lux",  "dB", "Pa",  "kPa", "bar",  "m/s",  "rpm"};
    std::string out;
    for (int code = 0; code < 160; ++code) {
        out += std::to_string(code) + "," + kNames[code % std::size(kNames)] + "\r\n";
    }
    return out;
}

}  // namespace vantor::sim
