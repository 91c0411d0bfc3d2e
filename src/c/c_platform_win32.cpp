#include "c/c_platform.h"

namespace vantor {

// Every Windows thread can have a message queue; the control's loop makes it.
void prepareCHost() {}

}  // namespace vantor
