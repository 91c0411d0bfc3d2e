// Where the control's message boxes go. The host installs one sink per
// control; show() returns when the operator has confirmed the message.
#pragma once

#include <string>

namespace vantor {

class MessageSink {
  public:
    virtual ~MessageSink() = default;
    // A modal message with one OK button and no title of its own.
    virtual void show(const std::string& text) = 0;
};

// Prints each message on standard error, one line each.
class ConsoleMessageSink : public MessageSink {
  public:
    void show(const std::string& text) override;
};

}  // namespace vantor
