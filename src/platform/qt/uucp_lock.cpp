#include "platform/qt/uucp_lock.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace vantor {

std::string lockPath(const std::string& real) {
    std::string name = real.rfind("/dev/", 0) == 0 ? real.substr(5) : real;
    std::replace(name.begin(), name.end(), '/', '_');
    return "/var/lock/LCK.." + name;
}

std::optional<pid_t> lockOwner(std::string_view bytes) {
    std::string_view line = bytes.substr(0, bytes.find('\n'));
    std::size_t first = line.find_first_not_of(' ');
    if (first != std::string_view::npos) {
        line.remove_prefix(first);
        pid_t pid = 0;
        auto [end, ec] = std::from_chars(line.data(), line.data() + line.size(), pid);
        std::string_view rest(end, static_cast<std::size_t>(line.data() + line.size() - end));
        if (ec == std::errc() && pid > 0 && rest.find_first_not_of(" \t\r") == rest.npos) {
            return pid;
        }
    }
    int binary = 0;
    if (bytes.size() == sizeof binary) {
        std::memcpy(&binary, bytes.data(), sizeof binary);
        if (binary > 0) return static_cast<pid_t>(binary);
    }
    return std::nullopt;
}

}  // namespace vantor
