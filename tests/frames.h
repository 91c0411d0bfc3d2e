// Meter frames for tests.
#pragma once

#include <string>

namespace vantor::testing {

// Bodies of the three kinds of frame, used throughout the tests.
inline const std::string kExtendedBody = "41010200012345";  // 123.45, unit 1, channel 1
inline const std::string kSimpleBody = "02120100001234";    // 123.4, unit 12, channel 2
inline const std::string kTimeBody = "40120604154815";      // 120604 15:48:15

inline std::string frame(const std::string& body14) {
    return "\x02" + body14 + "\r";
}
inline std::string endFrame() {
    return frame(std::string(14, '\x1b'));
}
inline std::string endMarker() {
    return endFrame() + endFrame();
}

}  // namespace vantor::testing
