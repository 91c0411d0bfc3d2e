// Frames of the meter's known readings, the one place their bodies are kept.
#pragma once

#include <string>

#include "sim/meter_memory.h"

namespace vantor::testing {

using sim::endMarker;
using sim::frame;

inline const std::string kTimeBody = "40120604154815";      // 120604 15:48:15
inline const std::string kSimpleBody = "02120100001234";    // 123.4, unit 12, channel 2
inline const std::string kNegativeBody = "12120100001234";  // -123.4, unit 12, channel 2
inline const std::string kExtendedBody = "41010200012345";  // 123.45, unit 1, channel 1

// One of the end marker's two frames.
inline std::string endFrame() {
    return frame(std::string(sim::kBodySize, sim::kEsc));
}

}  // namespace vantor::testing
