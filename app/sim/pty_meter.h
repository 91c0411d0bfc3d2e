// A stand-in for the hand-held meter on a pseudo-terminal.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/meter_memory.h"

namespace vantor::sim {

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
