// The program's exit statuses, the one place they are defined.
#pragma once

namespace vantor::cli {

enum Exit : int {
    kExitOk = 0,
    kExitFailure = 1,
    kExitUsage = 2,
    kExitTimeout = 3,
    kExitNotArmed = 4,
    kExitDeviceLost = 5,
};

}  // namespace vantor::cli
