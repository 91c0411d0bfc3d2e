#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vantor/port_list.h>

#include <QSerialPortInfo>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>

#include "platform/qt/uucp_lock.h"

namespace vantor {

namespace {

std::string realPath(const std::string& path) {
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) != nullptr ? buffer : path;
}

std::string baseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string linkTarget(const std::string& path) {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

std::vector<std::string> entries(const std::string& folder) {
    std::vector<std::string> out;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* e = ::readdir(dir)) {
            if (e->d_name[0] != '.') out.push_back(folder + "/" + e->d_name);
        }
        ::closedir(dir);
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::string processName(long pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name.empty() ? "process " + std::to_string(pid) : name;
}

// The live owner of the device's lock file, if any.
std::optional<long> lockHolder(const std::string& real) {
    const int fd = ::open(lockPath(real).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    char bytes[64];
    const ssize_t n = ::read(fd, bytes, sizeof bytes);
    ::close(fd);
    if (n <= 0) return std::nullopt;
    const auto pid = lockOwner(std::string_view(bytes, static_cast<std::size_t>(n)));
    // Only another program's lock makes the port busy.
    if (!pid || *pid == ::getpid() || !(::kill(*pid, 0) == 0 || errno == EPERM)) {
        return std::nullopt;
    }
    return *pid;
}

// A process (not this one) with the device open, found through /proc.
std::optional<long> openIn(const std::string& real) {
    for (const std::string& proc : entries("/proc")) {
        const std::string name = baseName(proc);
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const long pid = std::atol(name.c_str());
        if (pid == ::getpid()) continue;
        for (const std::string& fd : entries(proc + "/fd")) {
            if (linkTarget(fd) == real) return pid;
        }
    }
    return std::nullopt;
}

}  // namespace

std::vector<SerialPortEntry> listSerialPorts(bool openFiles) {
    // The stable names of every device, by its real path.
    std::vector<std::pair<std::string, std::string>> stable;
    for (const char* folder : {"/dev/serial/by-id", "/dev/serial/by-path"}) {
        for (const std::string& link : entries(folder)) stable.emplace_back(realPath(link), link);
    }
    std::vector<SerialPortEntry> out;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        SerialPortEntry e;
        e.device = info.systemLocation().toStdString();
        const std::string real = realPath(e.device);
        for (const auto& [target, link] : stable) {
            if (target == real) e.stableNames.push_back(link);
        }
        if (info.hasVendorIdentifier()) e.vendorId = info.vendorIdentifier();
        if (info.hasProductIdentifier()) e.productId = info.productIdentifier();
        e.serialNumber = info.serialNumber().toStdString();
        e.manufacturer = info.manufacturer().toStdString();
        e.description = info.description().toStdString();
        e.driver = baseName(linkTarget("/sys/class/tty/" + baseName(real) + "/device/driver"));
        if (auto pid = lockHolder(real)) {
            e.busy = true;
            e.busyPid = *pid;
            e.busyBy = processName(*pid) + " (lock file " + lockPath(real) + ")";
        } else if (auto holder = openFiles ? openIn(real) : std::nullopt) {
            e.busy = true;
            e.busyPid = *holder;
            e.busyBy = processName(*holder) + " (has it open)";
        }
        out.push_back(std::move(e));
    }
    std::sort(out.begin(), out.end(), [](const SerialPortEntry& a, const SerialPortEntry& b) {
        return a.device < b.device;
    });
    return out;
}

}  // namespace vantor
