// Hosts built against the source tree before the public headers moved.
#pragma once

#include <vantor/vantor_comm.h>
