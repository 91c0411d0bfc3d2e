#include "automation_messages.h"

#include <vantor/win32_platform.h>
#include <windows.h>

namespace vantor::automation {

void AutomationMessages::show(const std::string& text) {
    if (!boxes) return;
    // The window active now, not at creation: a form may have come since.
    win32MessageSink(owner != nullptr ? owner : ::GetActiveWindow())->show(text);
}

}  // namespace vantor::automation
