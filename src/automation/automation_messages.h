// The control's message boxes in an automation host.
#pragma once

#include <vantor/message_sink.h>

namespace vantor::automation {

// Owned by the window of the form the control is on, or else by the host's
// active window; a host without an interactive desktop
// (a service, a scheduled task) or a console script gets standard error, so
// nothing waits for a person who is not there. With boxes off nothing is
// shown: the host reads LastErrorNumber and LastErrorDescription instead.
class AutomationMessages : public MessageSink {
  public:
    void show(const std::string& text) override;
    bool boxes = true;
    // The HWND of the container the control is sited in; null when none.
    void* owner = nullptr;
};

}  // namespace vantor::automation
