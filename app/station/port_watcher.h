// The ports a station arms: the devices its patterns match, looked for again
// when a folder they live in changes (udev, a lock file going), and on a
// clock only while a folder cannot be watched or a port could not be armed.
// Idle ports cost nothing.
#pragma once

#include <QFileSystemWatcher>
#include <QTimer>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace vantor::station {

class PortWatcher {
  public:
    // `arm` is given each device found that is not `known` by its real path;
    // it says refused() or armed().
    struct Setup {
        std::vector<std::string> patterns;  // "auto" for every serial port
        std::function<bool(const std::string& real)> known;
        std::function<void(const std::string& device, const std::string& real)> arm;
        int settleMilliseconds = 300;  // after a folder changed: udev makes a device in steps
        int againMilliseconds = 2000;
    };
    explicit PortWatcher(Setup setup);

    void scan();
    void stop();
    // Whether `why` is news for the port `real`: said once, tried at every scan.
    bool refused(const std::string& real, const std::string& why);
    void armed(const std::string& real) { refused_.erase(real); }

  private:
    // True when every pattern's folder can be watched.
    bool watchFolders();

    Setup setup_;
    std::map<std::string, std::string> refused_;  // why a port could not be armed
    QFileSystemWatcher watcher_;
    QTimer settle_;
    QTimer again_;
    bool stopped_ = false;
};

// The real path of `path`, or `path` when it has none.
std::string realPath(const std::string& path);

}  // namespace vantor::station
