// Records every message box, for tests.
#pragma once

#include <vantor/message_sink.h>

#include <functional>
#include <string>
#include <vector>

namespace vantor {

class RecordingMessageSink : public MessageSink {
  public:
    void show(const std::string& text) override {
        messages.push_back(text);
        if (whileShown) whileShown();
    }
    std::vector<std::string> messages;
    // Runs while a message is "on screen", before the operator confirms it.
    std::function<void()> whileShown;
};

}  // namespace vantor
