#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "kit/files.h"
#include "sim/pty_meter.h"

namespace vantor::sim {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Only keeps a broken test from hanging; nothing is measured against it.
constexpr int kGuardMs = 10000;

int hexValue(char c) {
    return c <= '9' ? c - '0' : c - 'A' + 10;
}

int unitOf(const MeterRecord& r) {
    return hexValue(r.body[2]) * 10 + (r.body[3] - '0');
}

int channelOf(const MeterRecord& r) {
    return hexValue(r.body[1]);
}

bool negativeOf(const MeterRecord& r) {
    return r.kind == MeterRecord::Kind::Extended ? r.body[4] == '1' : (r.body[0] - '0') % 2 == 1;
}

class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

  private:
    int fd_;
};

int openSlave(const std::string& path, bool makeRaw = true) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return fd;
    if (makeRaw) {
        termios tio{};
        ::tcgetattr(fd, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(fd, TCSANOW, &tio);
    }
    return fd;
}

// Reads until `count` bytes came, the line ends, or nothing arrives for a long while.
std::string readBytes(int fd, std::size_t count) {
    std::string out;
    char buffer[4096];
    while (out.size() < count) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, kGuardMs) <= 0) break;
        const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, count - out.size()));
        if (n <= 0) break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    return out;
}

// --- frames and memory -------------------------------------------------------------------

TEST(Frame, WrapsBodyInStartByteAndTerminator) {
    const std::string f = frame("41010200012345");
    ASSERT_EQ(f.size(), 16u);
    EXPECT_EQ(f[0], 2);
    EXPECT_EQ(f.substr(1, 14), "41010200012345");
    EXPECT_EQ(f[15], 13);
}

TEST(Frame, RejectsBodiesThatAreNotFourteenBytes) {
    EXPECT_THROW(frame(""), std::invalid_argument);
    EXPECT_THROW(frame("4101020001234"), std::invalid_argument);
    EXPECT_THROW(frame("410102000123456"), std::invalid_argument);
    EXPECT_NO_THROW(frame(std::string(14, '\0')));
}

TEST(Frame, EndMarkerIsTwoFramesOfEscapes) {
    const std::string m = endMarker();
    ASSERT_EQ(m.size(), 32u);
    for (std::size_t i = 0; i < m.size(); ++i) {
        const std::size_t pos = i % 16;
        const char expected = pos == 0 ? 2 : pos == 15 ? 13 : 27;
        EXPECT_EQ(m[i], expected) << "byte " << i;
    }
}

TEST(Records, BuildersWriteTheMeterLayout) {
    EXPECT_EQ(timeRecord("120604154815").body, "40120604154815");
    EXPECT_EQ(timeRecord("120604154815").kind, MeterRecord::Kind::Time);
    EXPECT_EQ(extendedRecord(1, 1, false, 2, 12345).body, "41010200012345");
    EXPECT_EQ(extendedRecord(1, 1, false, 2, 12345).kind, MeterRecord::Kind::Extended);
    EXPECT_EQ(extendedRecord(10, 105, true, 8, 1).body, "4AA51800000001");
    EXPECT_EQ(extendedRecord(15, 159, false, 9, 99999999).body, "4FF90999999999");
    EXPECT_EQ(simpleRecord(2, 12, false, 1, 1234).body, "02120100001234");
    EXPECT_EQ(simpleRecord(2, 12, true, 1, 1234).body, "12120100001234");
    EXPECT_EQ(simpleRecord(2, 12, false, 1, 1234, true).body, "22120100001234");
    EXPECT_EQ(simpleRecord(9, 5, true, 3, 7, true).body, "39050300000007");
    EXPECT_EQ(simpleRecord(9, 5, true, 3, 7).kind, MeterRecord::Kind::Simple);
}

TEST(Records, BuildersRejectFieldsThatDoNotFit) {
    EXPECT_THROW(timeRecord("12060415481"), std::invalid_argument);
    EXPECT_THROW(timeRecord("1206041548A5"), std::invalid_argument);
    EXPECT_THROW(extendedRecord(0, 1, false, 0, 1), std::invalid_argument);
    EXPECT_THROW(extendedRecord(16, 1, false, 0, 1), std::invalid_argument);
    EXPECT_THROW(extendedRecord(1, 160, false, 0, 1), std::invalid_argument);
    EXPECT_THROW(extendedRecord(1, 1, false, 10, 1), std::invalid_argument);
    EXPECT_THROW(extendedRecord(1, 1, false, 0, 100000000), std::invalid_argument);
    EXPECT_THROW(extendedRecord(1, 1, false, 0, -1), std::invalid_argument);
    EXPECT_THROW(simpleRecord(10, 1, false, 0, 1), std::invalid_argument);
    EXPECT_THROW(simpleRecord(1, 100, false, 0, 1), std::invalid_argument);
    EXPECT_THROW(simpleRecord(1, 1, false, 0, 10000), std::invalid_argument);
}

TEST(StandardMemory, HasExactlyTheRequestedRecords) {
    for (int n : {0, 1, 2, 10, 17, 257}) {
        EXPECT_EQ(standardMemory(n).size(), static_cast<std::size_t>(n)) << n;
    }
    EXPECT_TRUE(standardMemory(-3).empty());
}

TEST(StandardMemory, StartsWithATimeFrameAndRepeatsIt) {
    const auto memory = standardMemory(40);
    EXPECT_EQ(memory[0].kind, MeterRecord::Kind::Time);
    int times = 0;
    for (const auto& r : memory) times += r.kind == MeterRecord::Kind::Time;
    EXPECT_GE(times, 3);
}

TEST(StandardMemory, BodiesAreWellFormed) {
    for (const auto& r : standardMemory(300)) {
        ASSERT_EQ(r.body.size(), 14u);
        for (char c : r.body) {
            ASSERT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << r.body;
        }
        switch (r.kind) {
            case MeterRecord::Kind::Time: {
                EXPECT_EQ(r.body.substr(0, 2), "40");
                for (char c : r.body) EXPECT_TRUE(c >= '0' && c <= '9') << r.body;
                EXPECT_LT(std::stoi(r.body.substr(8, 2)), 24) << r.body;
                EXPECT_LT(std::stoi(r.body.substr(10, 2)), 60) << r.body;
                EXPECT_LT(std::stoi(r.body.substr(12, 2)), 60) << r.body;
                break;
            }
            case MeterRecord::Kind::Extended:
                EXPECT_EQ(r.body[0], '4');
                EXPECT_NE(r.body[1], '0');
                EXPECT_TRUE(r.body[4] == '0' || r.body[4] == '1') << r.body;
                for (std::size_t i = 5; i < 14; ++i) EXPECT_LE(r.body[i], '9') << r.body;
                break;
            case MeterRecord::Kind::Simple:
                EXPECT_NE(r.body[0], '4');
                EXPECT_LE(r.body[0], '3');
                EXPECT_GE(r.body[1], '1');
                EXPECT_LE(r.body[1], '9');
                EXPECT_LE(r.body[2], '9');
                EXPECT_EQ(r.body.substr(6, 4), "0000");
                EXPECT_EQ(r.body[4], '0');
                break;
        }
    }
}

TEST(StandardMemory, MixesKindsChannelsUnitsSignsAndScales) {
    for (int n = 10; n <= 40; ++n) {
        std::set<MeterRecord::Kind> kinds;
        std::set<int> channels, units, scales;
        bool negative = false;
        for (const auto& r : standardMemory(n)) {
            kinds.insert(r.kind);
            if (r.kind == MeterRecord::Kind::Time) continue;
            channels.insert(channelOf(r));
            units.insert(unitOf(r));
            negative = negative || negativeOf(r);
            if (r.kind == MeterRecord::Kind::Extended) scales.insert(r.body[5] - '0');
        }
        EXPECT_EQ(kinds.size(), 3u) << n;
        EXPECT_GE(channels.size(), 3u) << n;
        EXPECT_GE(units.size(), 4u) << n;
        EXPECT_GE(*units.rbegin(), 100) << n;
        EXPECT_TRUE(negative) << n;
        EXPECT_GE(scales.size(), 3u) << n;
    }
    bool channelAboveNine = false, multiplier = false;
    for (const auto& r : standardMemory(100)) {
        if (r.kind != MeterRecord::Kind::Extended) continue;
        channelAboveNine = channelAboveNine || channelOf(r) > 9;
        multiplier = multiplier || r.body[5] >= '7';
    }
    EXPECT_TRUE(channelAboveNine);
    EXPECT_TRUE(multiplier);
}

TEST(StandardMemory, IsDeterministicAndGrowsByAppending) {
    const auto a = standardMemory(120);
    EXPECT_EQ(a, standardMemory(120));
    const auto b = standardMemory(30);
    EXPECT_TRUE(std::equal(b.begin(), b.end(), a.begin()));
}

TEST(SessionMemory, KeepsOneUnitPerChannelAndEveryFrameKind) {
    for (int n : {0, 1, 5, 40}) EXPECT_EQ(sessionMemory(n).size(), static_cast<std::size_t>(n));
    const auto memory = sessionMemory(300);
    EXPECT_EQ(memory[0].kind, MeterRecord::Kind::Time);
    std::map<int, std::set<int>> unitsOf;
    std::set<MeterRecord::Kind> kinds;
    int overloads = 0;
    for (const auto& r : memory) {
        kinds.insert(r.kind);
        if (r.kind == MeterRecord::Kind::Time) continue;
        unitsOf[channelOf(r)].insert(unitOf(r));
        overloads += r.body.find('L') != std::string::npos;
    }
    EXPECT_EQ(kinds.size(), 3u);
    EXPECT_EQ(overloads, 1);
    EXPECT_GT(unitsOf.rbegin()->first, 9);
    for (const auto& [channel, units] : unitsOf) EXPECT_EQ(units.size(), 1u) << channel;
}

TEST(TransferStream, IsEveryFrameThenTheEndMarker) {
    const auto memory = standardMemory(25);
    std::string expected;
    for (const auto& r : memory) expected += frame(r.body);
    expected += endMarker();
    const std::string stream = transferStream(memory);
    EXPECT_EQ(stream, expected);
    EXPECT_EQ(stream.size(), 25u * 16 + 32);
    EXPECT_EQ(transferStream({}), endMarker());
}

TEST(Capture, ReadsAFileWholeAndRaw) {
    testing::ScratchDir dir;
    const std::string path = dir.file("capture.raw");
    std::string bytes = transferStream(standardMemory(5));
    bytes += std::string("\0\n\r\xff", 4);
    std::ofstream(path, std::ios::binary) << bytes;
    EXPECT_EQ(captureFromFile(path), bytes);

    const std::string empty = dir.file("empty.raw");
    std::ofstream(empty, std::ios::binary).flush();
    EXPECT_EQ(captureFromFile(empty), "");
}

TEST(Capture, NamesTheFileItCannotRead) {
    testing::ScratchDir dir;
    const std::string missing = dir.file("missing.raw");
    try {
        captureFromFile(missing);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(missing), std::string::npos) << e.what();
    }
    EXPECT_THROW(captureFromFile(dir.path()), std::runtime_error);
}

// --- the meter on a pseudo-terminal ------------------------------------------------------

TEST(PtyMeter, SendsMoreThanTheLineBuffers) {
    PtyMeter meter;
    Fd slave(openSlave(meter.device()));
    ASSERT_GE(slave.get(), 0);
    const std::string stream = transferStream(standardMemory(5000));  // about 80 KB
    meter.sendAsync(stream, false);
    EXPECT_EQ(readBytes(slave.get(), stream.size()), stream);
    EXPECT_TRUE(meter.wait());
}

TEST(PtyMeter, SendsPacedByteExact) {
    PtyMeter meter;
    Fd slave(openSlave(meter.device()));
    ASSERT_GE(slave.get(), 0);
    const std::string stream = frame("40120604154815") + frame("41010200012345") +
                               frame("12120100001234");  // 48 bytes, about 50 ms
    meter.sendAsync(stream, true);
    EXPECT_EQ(readBytes(slave.get(), stream.size()), stream);
    EXPECT_TRUE(meter.wait());
}

TEST(PtyMeter, BytesQueuedBeforeTheSlaveOpensArriveUntranslated) {
    PtyMeter meter;
    const std::string stream = transferStream(standardMemory(10));
    ASSERT_TRUE(meter.send(stream, false));  // nobody listens yet: the line buffers it

    Fd slave(openSlave(meter.device(), /*makeRaw=*/false));
    ASSERT_GE(slave.get(), 0);
    termios tio{};
    ASSERT_EQ(::tcgetattr(slave.get(), &tio), 0);
    EXPECT_FALSE(tio.c_lflag & ECHO);
    EXPECT_FALSE(tio.c_lflag & ICANON);
    EXPECT_FALSE(tio.c_iflag & ICRNL);
    EXPECT_EQ(readBytes(slave.get(), stream.size()), stream);
}

TEST(PtyMeter, TracksWhetherThePeerHasTheSlaveOpen) {
    PtyMeter meter;
    EXPECT_FALSE(meter.peerOpen());
    Fd slave(openSlave(meter.device()));
    ASSERT_GE(slave.get(), 0);
    EXPECT_TRUE(meter.peerOpen());
    auto closed = std::async(std::launch::async, [&] {
        return meter.waitForPeerClose(std::chrono::milliseconds(kGuardMs));
    });
    slave.reset();
    EXPECT_TRUE(closed.get());
    EXPECT_FALSE(meter.peerOpen());
}

TEST(PtyMeter, PeerCloseIsSeenWhenItHappenedDuringTheWait) {
    PtyMeter meter;
    auto closed = std::async(std::launch::async, [&] {
        return meter.waitForPeerClose(std::chrono::milliseconds(kGuardMs));
    });
    Fd slave(openSlave(meter.device()));
    ASSERT_GE(slave.get(), 0);
    // Stay open until the meter has noticed, so the outcome does not depend on timing.
    const std::string stream = transferStream(standardMemory(4));
    ASSERT_TRUE(meter.send(stream, false));
    ASSERT_EQ(readBytes(slave.get(), stream.size()), stream);
    slave.reset();
    EXPECT_TRUE(closed.get());
}

TEST(PtyMeter, WaitForPeerCloseTimesOutWithoutAPeer) {
    PtyMeter meter;
    EXPECT_FALSE(meter.waitForPeerClose(20ms));
}

TEST(PtyMeter, HangUpEndsTheLineForTheReader) {
    PtyMeter meter;
    Fd slave(openSlave(meter.device()));
    ASSERT_GE(slave.get(), 0);
    ASSERT_TRUE(meter.send("abc", false));
    ASSERT_EQ(readBytes(slave.get(), 3), "abc");

    meter.hangUp();
    char c;
    errno = 0;
    const ssize_t n = ::read(slave.get(), &c, 1);
    EXPECT_TRUE(n == 0 || (n < 0 && errno == EIO)) << n << " " << errno;
    EXPECT_FALSE(meter.send("x", false));
    EXPECT_FALSE(meter.peerOpen());
    EXPECT_FALSE(meter.waitForPeerClose(10ms));
    meter.hangUp();  // a second hang-up is harmless
}

TEST(PtyMeter, StopEndsABlockedSend) {
    PtyMeter meter;
    // Nobody reads: the line fills and the send blocks.
    meter.sendAsync(std::string(200000, 'x'), false);
    EXPECT_THROW(meter.sendAsync("y", false), std::logic_error);
    meter.stop();
    EXPECT_FALSE(meter.wait());
}

TEST(PtyMeter, StopEndsAPacedSend) {
    PtyMeter meter;
    Fd slave(openSlave(meter.device()));
    ASSERT_GE(slave.get(), 0);
    meter.sendAsync(std::string(20000, 'x'), true);  // about 20 s at line rate
    meter.stop();
    EXPECT_FALSE(meter.wait());
}

TEST(PtyMeter, StopDoesNotAffectLaterSends) {
    PtyMeter meter;
    meter.stop();
    Fd slave(openSlave(meter.device()));
    ASSERT_GE(slave.get(), 0);
    meter.sendAsync("later", false);
    EXPECT_EQ(readBytes(slave.get(), 5), "later");
    EXPECT_TRUE(meter.wait());
}

TEST(PtyMeter, WaitWithoutASendIsFalse) {
    PtyMeter meter;
    EXPECT_FALSE(meter.wait());
}

TEST(PtyMeter, DestructionEndsABlockedSend) {
    auto meter = std::make_unique<PtyMeter>();
    meter->sendAsync(std::string(200000, 'x'), false);
    meter.reset();  // must not hang
    SUCCEED();
}

TEST(PtyMeter, LinkPointsAtTheDeviceAndIsRemovedAfterwards) {
    testing::ScratchDir dir;
    const fs::path link = dir.file("meter");
    fs::create_symlink("/nonexistent/old-meter", link);  // a stale link is replaced
    {
        PtyMeter meter;
        meter.link(link.string());
        ASSERT_TRUE(fs::is_symlink(link));
        EXPECT_EQ(fs::read_symlink(link).string(), meter.device());

        Fd slave(openSlave(link.string()));
        ASSERT_GE(slave.get(), 0);
        ASSERT_TRUE(meter.send("via link", false));
        EXPECT_EQ(readBytes(slave.get(), 8), "via link");

        meter.link(link.string());  // linking again is fine
        EXPECT_EQ(fs::read_symlink(link).string(), meter.device());
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST(PtyMeter, LinkNeverReplacesARegularFile) {
    testing::ScratchDir dir;
    const fs::path file = dir.file("data.txt");
    std::ofstream(file) << "keep me";
    PtyMeter meter;
    EXPECT_THROW(meter.link(file.string()), std::system_error);
    EXPECT_FALSE(fs::is_symlink(file));
    std::ifstream in(file);
    std::string content;
    std::getline(in, content);
    EXPECT_EQ(content, "keep me");
    EXPECT_THROW(meter.link(dir.file("no-such-dir/meter")), std::system_error);
}

}  // namespace
}  // namespace vantor::sim
