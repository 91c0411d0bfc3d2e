#include "port_watcher.h"

#include <QFileInfo>
#include <climits>
#include <cstdlib>
#include <set>

#include "port_search.h"

namespace vantor::station {

std::string realPath(const std::string& path) {
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) != nullptr ? buffer : path;
}

PortWatcher::PortWatcher(Setup setup) : setup_(std::move(setup)) {
    QObject::connect(&again_, &QTimer::timeout, [this] { scan(); });
    settle_.setSingleShot(true);
    QObject::connect(&settle_, &QTimer::timeout, [this] { scan(); });
    QObject::connect(&watcher_, &QFileSystemWatcher::directoryChanged, [this] {
        if (!settle_.isActive()) settle_.start(setup_.settleMilliseconds);
    });
}

void PortWatcher::stop() {
    stopped_ = true;
    again_.stop();
    settle_.stop();
}

bool PortWatcher::refused(const std::string& real, const std::string& why) {
    auto [it, fresh] = refused_.try_emplace(real, why);
    if (!fresh && it->second == why) return false;
    it->second = why;
    return true;
}

void PortWatcher::scan() {
    if (stopped_) return;
    const bool watchedAll = watchFolders();
    const std::vector<std::string> devices = ports::portsMatching(setup_.patterns, true);
    std::set<std::string> present;
    for (const std::string& device : devices) present.insert(realPath(device));
    std::erase_if(refused_, [&](const auto& r) { return present.count(r.first) == 0; });
    for (const std::string& device : devices) {
        const std::string real = realPath(device);
        if (!setup_.known(real)) setup_.arm(device, real);
    }
    if (watchedAll && refused_.empty()) {
        again_.stop();
    } else if (!again_.isActive()) {
        again_.start(setup_.againMilliseconds);
    }
}

bool PortWatcher::watchFolders() {
    QStringList folders;
    bool all = true;
    for (const std::string& pattern : setup_.patterns) {
        if (pattern == "auto") {
            // A lock file going names a port another program let go of.
            folders << "/dev"
                    << "/dev/serial/by-id"
                    << "/run/lock"
                    << "/var/lock";
            continue;
        }
        const auto slash = pattern.find_last_of('/');
        const std::string folder = slash == std::string::npos ? "." : pattern.substr(0, slash);
        if (folder.find_first_of("*?[") != std::string::npos) {
            all = false;
        } else {
            folders << QString::fromLocal8Bit((folder.empty() ? "/" : folder).c_str());
        }
    }
    for (const QString& f : folders) {
        if (watcher_.directories().contains(f)) continue;
        // A folder not there yet (by-id before the first adapter) is its
        // parent's change, watched as well.
        if (QFileInfo(f).isDir()) {
            watcher_.addPath(f);
        } else if (f != "/dev/serial/by-id" && f != "/var/lock" && f != "/run/lock") {
            all = false;
        }
    }
    return all;
}

}  // namespace vantor::station
