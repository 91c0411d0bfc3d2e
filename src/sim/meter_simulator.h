// A stand-in for the hand-held meter: its logged memory, the byte stream it
// sends when SEND is pressed, and a pseudo-terminal to send it on.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
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
// Every frame of `memory`, then the end marker.
std::string transferStream(const std::vector<MeterRecord>& memory);
// The raw bytes of a capture file, to be replayed as they are. Throws std::runtime_error
// naming the file when it cannot be read.
std::string captureFromFile(const std::string& path);
// A unit file (unit2.dat) naming every unit code the simulated meter sends (0 to 159).
std::string unitFile();

// A meter on a pseudo-terminal. The line is raw from the start, so bytes queued before the
// downloader configures its end are neither echoed nor translated. Not copyable.
//
// hangUp(), the destructor and waitForPeerClose() must not run concurrently with a send()
// made on another thread; sendAsync() sends are stopped and joined by them.
class PtyMeter {
  public:
    PtyMeter();  // throws std::system_error on failure
    ~PtyMeter();
    PtyMeter(const PtyMeter&) = delete;
    PtyMeter& operator=(const PtyMeter&) = delete;

    // Slave name, e.g. /dev/pts/5.
    const std::string& device() const { return device_; }
    // Makes `path` a symlink to device(), replacing an existing symlink (never any other
    // file). The destructor removes it again if it still points at this meter. Throws
    // std::system_error.
    void link(const std::string& path);

    // Writes bytes to the line. paced: at 9600 baud 8N1 (about 1.04 ms a byte) on a fixed
    // schedule; otherwise as fast as the line takes them. Blocking; false if stop() was called,
    // the meter was hung up, or the write failed.
    bool send(const std::string& bytes, bool paced);
    // send() on a background thread; wait() joins it and returns its result (false if no
    // send was started). Throws std::logic_error if a background send is still running.
    void sendAsync(std::string bytes, bool paced);
    bool wait();
    // Makes the sends running now return soon; later sends are not affected.
    void stop();

    // Closes the master side: the downloader sees the device go away. Unread bytes are lost.
    void hangUp();
    // Blocks until the other side has opened the slave and closed it again, or the timeout
    // passes; true if it happened. An open seen earlier (by peerOpen() or during a send) counts.
    bool waitForPeerClose(std::chrono::milliseconds timeout);
    // True while some process has the slave open (best effort).
    bool peerOpen() const;

  private:
    bool sendFrom(const std::string& bytes, bool paced, std::uint64_t generation);
    bool waitWritable(std::uint64_t generation);
    bool stopped(std::uint64_t generation) const;
    short masterEvents(short wanted, int timeoutMs) const;
    void discardInbound() const;
    void joinWorker();

    int fd_ = -1;
    std::string device_;
    std::vector<std::string> links_;

    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::uint64_t stopGeneration_ = 0;  // guarded by mutex_
    int activeSends_ = 0;               // guarded by mutex_
    bool closed_ = false;               // guarded by mutex_

    std::thread worker_;
    std::atomic<bool> workerRunning_{false};
    bool workerResult_ = false;
    bool workerStarted_ = false;
    mutable std::atomic<bool> sawPeerOpen_{false};
};

}  // namespace vantor::sim
