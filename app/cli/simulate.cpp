// simulate: a meter on a pseudo-terminal.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

#include "arguments.h"
#include "commands.h"
#include "sim/meter_simulator.h"
#include "transfer_runner.h"

namespace vantor::cli {

namespace {

// Waits for SEND: a line on standard input (or its end), or `seconds`.
void waitForSend(std::optional<double> seconds) {
    pollfd in{STDIN_FILENO, POLLIN, 0};
    int timeoutMs = seconds ? static_cast<int>(*seconds * 1000) : -1;
    for (;;) {
        int n = ::poll(&in, 1, timeoutMs);
        if (n == 0) return;  // the time has come
        if (n < 0) continue;
        char buf[256];
        ssize_t got = ::read(STDIN_FILENO, buf, sizeof buf);
        if (got <= 0) {
            if (!seconds) return;  // no operator: send at once
            ::poll(nullptr, 0, timeoutMs);
            return;
        }
        for (ssize_t i = 0; i < got; ++i) {
            if (buf[i] == '\n') return;
        }
    }
}

// Waits until a downloader has read every byte sent: the line's input queue
// is empty. A downloader that comes after the send, or opens and closes the
// line quicker than anyone could watch, is seen all the same. Watching holds
// the line open, so the meter must not hang up before this returns.
bool waitUntilRead(const std::string& device) {
    int fd = ::open(device.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    // The kernel hands bytes written while nobody had the line open to its
    // input queue shortly after an open, and refills the queue as it drains:
    // only a queue found the same several times in a row has settled.
    pollfd in{fd, POLLIN, 0};
    ::poll(&in, 1, 200);
    constexpr int kSettled = 5;        // checks, 10 ms apart
    constexpr int kGiveUp = 10 * 100;  // 10 s without progress once reading began
    int last = -1, same = 0;
    bool reading = false, said = false;
    for (;;) {
        int waiting = 0;
        if (::ioctl(fd, FIONREAD, &waiting) != 0) break;
        same = waiting == last ? same + 1 : 0;
        reading = reading || (last >= 0 && waiting < last);
        last = waiting;
        // The event-driven download stops at the end marker's last ESC and
        // leaves the closing CR on the line.
        if (waiting <= 1 && same >= kSettled) break;
        if (reading && same >= kGiveUp) {
            std::fprintf(stderr, "the download stopped reading with %d bytes left\n", waiting);
            break;
        }
        if (waiting > 1 && !said) {
            std::fprintf(stderr, "waiting for a download to read the line\n");
            said = true;
        }
        ::poll(nullptr, 0, 10);
    }
    ::close(fd);
    return true;
}

}  // namespace

int simulateCommand(const QStringList& args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "A meter on a pseudo-terminal: prints the device name, then streams its memory when "
        "SEND is pressed (Enter on standard input, or after --send-after).");
    parser.addOptions({
        {"link", "Make PATH a symbolic link to the device.", "PATH"},
        {"records", "Records in the meter's memory (default 20).", "N", "20"},
        {"from", "Send the raw bytes of FILE instead.", "FILE"},
        {"paced", "Send at the real line rate (9600 baud)."},
        {"send-after", "Press SEND after this many seconds.", "SECONDS"},
    });
    if (auto stop = parseArguments(parser, args, 0)) return *stop;

    auto records = numberOption(parser, "records", 0, 1e7, true);
    if (!records) return kExitUsage;
    std::optional<double> sendAfter;
    if (parser.isSet("send-after")) {
        sendAfter = numberOption(parser, "send-after", 0, 1e6, false);
        if (!sendAfter) return kExitUsage;
    }
    std::string stream;
    try {
        stream = parser.isSet("from")
                     ? sim::captureFromFile(parser.value("from").toLocal8Bit().toStdString())
                     : sim::transferStream(sim::standardMemory(static_cast<int>(*records)));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return kExitFailure;
    }

    try {
        sim::PtyMeter meter;
        if (parser.isSet("link")) meter.link(parser.value("link").toLocal8Bit().toStdString());
        std::printf("%s\n", meter.device().c_str());
        std::fflush(stdout);
        if (!sendAfter) std::fprintf(stderr, "press Enter to press SEND on the meter\n");
        waitForSend(sendAfter);
        std::fprintf(stderr, "sending %zu bytes%s\n", stream.size(),
                     parser.isSet("paced") ? " at 9600 baud" : "");
        if (!meter.send(stream, parser.isSet("paced"))) {
            std::fprintf(stderr, "the line failed while sending\n");
            return kExitFailure;
        }
        // Unread bytes would be lost with the line: wait for the downloader.
        if (!waitUntilRead(meter.device())) meter.waitForPeerClose(std::chrono::seconds(30));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cannot run the simulated meter: %s\n", e.what());
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace vantor::cli
