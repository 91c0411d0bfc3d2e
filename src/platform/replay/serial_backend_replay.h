// A serial port that plays back a capture file: once opened, the capture's
// bytes are waiting in large chunks, the next chunk arriving when the last
// one has been taken; after the last byte the line reports that the capture
// has ended, as a device that went away would. Memory stays the same
// whatever the capture's size.
#pragma once

#include <vantor/message_loop.h>
#include <vantor/serial_backend.h>

#include <cstdio>
#include <memory>
#include <string>

namespace vantor {

class ReplaySerialBackend : public SerialBackend {
  public:
    static constexpr std::size_t kChunk = 1 << 16;

    ReplaySerialBackend(MessageLoop& loop, std::string path);
    ~ReplaySerialBackend() override;

    void setListener(Listener* listener) override { listener_ = listener; }
    // `path` "-" plays standard input to its end. Error 53 or 76 when the
    // capture cannot be read, 75 when it is not a regular file.
    void open(const std::string& device, const LineSettings& settings) override;
    void configure(const LineSettings&) override {}
    void close() override;
    bool isOpen() const override { return file_ != nullptr; }
    std::size_t bytesAvailable() override { return buffer_.size() - readPos_; }
    std::string read(std::size_t max) override;

  private:
    void scheduleNextChunk();
    void nextChunk();

    MessageLoop& loop_;
    std::string path_;
    std::FILE* file_ = nullptr;
    std::string buffer_;
    std::size_t readPos_ = 0;
    bool chunkPending_ = false;
    Listener* listener_ = nullptr;
    std::shared_ptr<int> generation_ = std::make_shared<int>(0);
};

}  // namespace vantor
