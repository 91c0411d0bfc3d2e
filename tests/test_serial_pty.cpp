// The real serial path: QSerialPort on a pseudo-terminal, the test playing the meter.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <vantor/backends.h>
#include <vantor/status_panel.h>
#include <vantor/vantor_comm.h>

#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <thread>

#include "kit/fake/message_sink_recording.h"
#include "kit/files.h"
#include "kit/frames.h"
#include "platform/qt/message_loop_qt.h"
#include "platform/qt/serial_backend_qt.h"
#include "sim/pty_meter.h"

namespace vantor {
namespace {

using namespace std::chrono_literals;
using testing::frame;
using testing::kNegativeBody;
using testing::kSimpleBody;
using testing::kTimeBody;

struct PtyControl {
    PtyControl() {
        comm = std::make_unique<Vantor_Comm>(
            ControlPlatform{loop, messages, dates, std::make_unique<QtSerialBackend>()});
        comm->Port(1);
        comm->Ports().set(1, meter.device());
        comm->df = dir.file("d.dat");
    }
    // Runs the event loop until `done` or a generous limit.
    template <class Pred>
    bool runUntil(Pred done) {
        auto limit = std::chrono::steady_clock::now() + 10s;
        while (!done() && std::chrono::steady_clock::now() < limit) loop.waitForEvents(100ms);
        return done();
    }

    sim::PtyMeter meter;
    testing::ScratchDir dir;
    QtMessageLoop loop;
    RecordingMessageSink messages;
    LocalDateSource dates;
    std::unique_ptr<Vantor_Comm> comm;
};

TEST(SerialPty, EventDrivenDownloadThroughARealPort) {
    PtyControl p;
    p.comm->Start();
    ASSERT_EQ(p.comm->fgComPortOpen, VbTrue)
        << (p.messages.messages.empty() ? "" : p.messages.messages[0]);

    // The line is raw at 9600 8N1 (checked where the test may look at the port).
    int fd = ::open(p.meter.device().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0) {
        termios t{};
        ASSERT_EQ(::tcgetattr(fd, &t), 0);
        EXPECT_EQ(::cfgetispeed(&t), B9600);
        EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
        EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
        EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IGNCR | IXON | ISTRIP), 0u);
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
        ::close(fd);
    }

    // Control bytes and CR must arrive unchanged for these frames to decode.
    const std::string stream = std::string("\0\xff\n", 3) + frame(kTimeBody) +
                               frame("4101020001234\x01") + frame(kNegativeBody) +
                               testing::endMarker();
    EXPECT_TRUE(p.meter.send(stream, false));
    ASSERT_TRUE(p.runUntil([&] { return p.comm->fgTransferOK != 0; }));
    EXPECT_EQ(testing::readFile(p.comm->df),
              "0,\"120604154815\",\"Time\",0\r\n"
              "1,123.41,\"" +
                  std::string(10, '\0') +
                  "\",1\r\n"
                  "2,-123.4,12,2\r\n");
    Long frames = 0;
    EXPECT_EQ(p.comm->Read_Status(frames), 1);
    EXPECT_EQ(frames, 3);
    EXPECT_EQ(p.comm->Panel().Label1[2].caption(), "Data Transfer OK");
    EXPECT_EQ(p.comm->Panel().Label1[4].caption(), "3");
    EXPECT_EQ(p.comm->fgComPortOpen, VbFalse);
    EXPECT_TRUE(p.messages.messages.empty());
}

TEST(SerialPty, MeterHangingUpRightAfterItsLastByteLosesNoRecord) {
    // The kernel drops what a reader has not taken when the line goes away.
    // The meter hangs up the moment the kernel holds none of its bytes: a
    // reader that has taken them must not lose any afterwards (what it keeps
    // in its own buffers, or what an event still has to decode). Hanging up
    // a fixed time after the last byte instead made the test depend on how
    // soon a loaded machine runs the reader.
    for (bool blocking : {false, true}) {
        PtyControl p;
        const std::string stream = frame(kNegativeBody) + frame(kSimpleBody);
        // Peeks at the line's input queue; opened before the control takes
        // the port for itself.
        const int queue = ::open(p.meter.device().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(queue, 0);
        std::thread meter;
        auto play = [&] {
            meter = std::thread([&] {
                for (char b : stream) {
                    EXPECT_TRUE(p.meter.send(std::string(1, b), false));
                    std::this_thread::sleep_for(std::chrono::microseconds(1040));
                }
                const auto guard = std::chrono::steady_clock::now() + 10s;
                auto queued = [&] {
                    // poll() first: it has the kernel move what the pty
                    // still buffers into the queue FIONREAD counts.
                    pollfd line{queue, POLLIN, 0};
                    ::poll(&line, 1, 0);
                    int waiting = 1;
                    return ::ioctl(queue, FIONREAD, &waiting) != 0 || waiting > 0;
                };
                while (queued() && std::chrono::steady_clock::now() < guard) {
                    std::this_thread::sleep_for(std::chrono::microseconds(100));
                }
                p.meter.hangUp();
            });
        };
        if (blocking) {
            QTimer::singleShot(0, play);
            p.comm->ReadDataLogger();
        } else {
            p.comm->Start();
            play();
            p.runUntil([&] { return p.comm->fgComPortOpen == 0; });
        }
        meter.join();
        ::close(queue);
        EXPECT_EQ(p.comm->LastTransferOutcome(), TransferOutcome::DeviceLost) << blocking;
        EXPECT_EQ(testing::readFile(p.comm->df), "0,-123.4,12,2\r\n1,123.4,12,2\r\n") << blocking;
    }
}

TEST(SerialPty, MeterAtAnyPaceIsReadWhole) {
    // The reader sleeps until a frame could be whole at the line's speed; a
    // meter slower, faster or pausing mid-frame must still be read whole.
    struct Pace {
        const char* name;
        std::size_t chunk;  // bytes per write
        int gapMicros;      // between writes
        std::size_t pauseAt;
        int pauseMillis;
    };
    const Pace paces[] = {
        {"at the line's speed", 1, 1040, 0, 0},
        {"slower than the line", 1, 3000, 0, 0},
        {"in bursts", 24, 5000, 0, 0},
        {"pausing between frames", 1, 1040, 16, 150},
        {"pausing inside a frame", 1, 1040, 21, 150},
    };
    const std::string stream =
        frame(kNegativeBody) + frame(kSimpleBody) + frame(kTimeBody) + testing::endMarker();
    for (const Pace& pace : paces) {
        PtyControl p;
        p.comm->Start();
        ASSERT_EQ(p.comm->fgComPortOpen, VbTrue) << pace.name;
        std::thread meter([&] {
            for (std::size_t at = 0; at < stream.size(); at += pace.chunk) {
                if (pace.pauseMillis > 0 && at == pace.pauseAt) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(pace.pauseMillis));
                }
                EXPECT_TRUE(p.meter.send(stream.substr(at, pace.chunk), false));
                std::this_thread::sleep_for(std::chrono::microseconds(pace.gapMicros));
            }
        });
        p.runUntil([&] { return p.comm->fgTransferOK != 0; });
        meter.join();
        EXPECT_EQ(p.comm->LastTransferOutcome(), TransferOutcome::EndMarker) << pace.name;
        EXPECT_EQ(testing::readFile(p.comm->df),
                  "0,-123.4,12,2\r\n1,123.4,12,2\r\n2,\"120604154815\",\"Time\",0\r\n")
            << pace.name;
    }
}

TEST(SerialPty, SecondControlOnTheSamePortIsRefusedAsBusy) {
    PtyControl p;
    p.comm->Start();
    ASSERT_EQ(p.comm->fgComPortOpen, VbTrue);
    RecordingMessageSink messages2;
    LocalDateSource dates;
    Vantor_Comm other(
        ControlPlatform{p.loop, messages2, dates, std::make_unique<QtSerialBackend>()});
    other.Port(1);
    other.Ports().set(1, p.meter.device());
    other.SCI_Init();
    ASSERT_EQ(messages2.messages.size(), 1u);
    EXPECT_NE(messages2.messages[0].find("busy"), std::string::npos) << messages2.messages[0];
}

int openDescriptors() {
    int n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

TEST(SerialPty, HundredDownloadsInARowLeakNothing) {
    PtyControl p;
    const std::string stream = frame(kNegativeBody) + frame(kTimeBody) + testing::endMarker();
    const std::string expected = "0,-123.4,12,2\r\n1,\"120604154815\",\"Time\",0\r\n";
    int before = -1;
    for (int i = 0; i < 100; ++i) {
        const bool blocking = i % 2 == 1;
        p.comm->df = p.dir.file("d" + std::to_string(i % 3) + ".dat");
        if (blocking) {
            QTimer::singleShot(0, [&] { EXPECT_TRUE(p.meter.send(stream, false)); });
            p.comm->ReadDataLogger();
        } else {
            p.comm->Start();
            EXPECT_TRUE(p.meter.send(stream, false));
            ASSERT_TRUE(p.runUntil([&] { return p.comm->fgTransferOK != 0; })) << i;
        }
        ASSERT_EQ(p.comm->LastTransferOutcome(), TransferOutcome::EndMarker) << i;
        ASSERT_EQ(testing::readFile(p.comm->df), expected) << i;
        p.comm->datano = 2;
        p.comm->ViewData();
        if (i == 1) before = openDescriptors();
    }
    // Ports and files were all given back: the process holds what it held after
    // the first round of each mode.
    EXPECT_EQ(openDescriptors(), before);
}

TEST(SerialPty, LiveForeignLockRefusesThePortAndNamesItsHolder) {
    if (::access("/var/lock", W_OK) != 0) GTEST_SKIP() << "/var/lock is not writable";
    // QSerialPort alone would take a uucp lock for stale and delete it.
    for (bool binary : {false, true}) {
        PtyControl p;
        std::string name = p.meter.device().substr(std::string("/dev/").size());
        std::replace(name.begin(), name.end(), '/', '_');
        const std::string lock = "/var/lock/LCK.." + name;
        const int holder = static_cast<int>(::getppid());
        char text[16];
        std::snprintf(text, sizeof text, "%10d\n", holder);
        const std::string content =
            binary ? std::string(reinterpret_cast<const char*>(&holder), sizeof holder) : text;
        struct Remove {
            std::string path;
            ~Remove() { ::unlink(path.c_str()); }
        } remove{lock};
        {
            std::ofstream out(lock, std::ios::binary);
            out << content;
        }
        p.comm->SCI_Init();
        EXPECT_EQ(p.comm->fgComPortOpen, VbFalse) << binary;
        ASSERT_EQ(p.messages.messages.size(), 1u) << binary;
        EXPECT_NE(p.messages.messages[0].find("busy, in use by another program (process " +
                                              std::to_string(holder) + " holds " + lock + ")"),
                  std::string::npos)
            << p.messages.messages[0];
        EXPECT_EQ(testing::readFile(lock), content) << binary;
    }
}

}  // namespace
}  // namespace vantor
