// Meter frames for tests.
#pragma once

#include <string>

namespace vantor::testing {

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
