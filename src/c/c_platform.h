// What a C host, which knows nothing of the platform's event loop, needs
// before its first control.
#pragma once

namespace vantor {

// Idempotent; called on the thread that creates a control.
void prepareCHost();

}  // namespace vantor
