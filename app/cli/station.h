// station: stays armed on every matching serial port and files each
// transfer in an archive, with an index of downloads.
#pragma once

#include <vantor/message_loop.h>
#include <vantor/vantor_comm.h>

#include <QFileSystemWatcher>
#include <QTimer>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "exec_runner.h"
#include "site_database.h"
#include "site_sender.h"

namespace vantor::cli {

struct StationOptions {
    std::string archive;
    std::vector<std::string> patterns;  // "auto" for every serial port
    std::string appPath;                // empty: no unit file
    std::optional<double> idleSeconds;
    std::string exec;      // run after each download
    std::string database;  // a site's database besides the archive's own, or empty
};

class Station {
  public:
    // Throws RuntimeError when the archive or its index cannot be opened.
    Station(StationOptions options, std::shared_ptr<MessageLoop> loop);
    ~Station();
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // Runs until SIGTERM or SIGINT has ended every running transfer with its
    // records kept; returns the exit status.
    int run();

  private:
    struct Meter;

    void rescan(bool said);
    // Folders whose changes mean a port may have come or gone; true when
    // every pattern's folder can be watched.
    bool watchFolders();
    void arm(Meter& meter);
    void finish(const std::string& real);
    void file(Meter& meter);
    void recover();
    void runExec(const std::string& path, const std::string& device, const std::string& outcome,
                 long long records);
    void stop();
    // Has the site's database sent what it lacks.
    void sendPending();

    StationOptions options_;
    int lock_ = -1;  // DIR/.station.lock, held while the station runs
    std::shared_ptr<MessageLoop> loop_;
    SiteDatabase index_;                // DIR/index.sqlite
    std::string station_;               // this station, in a site's database
    std::unique_ptr<SiteSender> site_;  // --database
    ExportOptions clock_;               // the meter's time stamps read in the machine's zone
    std::map<std::string, std::unique_ptr<Meter>> meters_;  // by the device's real path
    std::map<std::string, std::string> refused_;            // why a port could not be armed
    QFileSystemWatcher watcher_;
    QTimer settle_;   // after a folder changed: udev makes a device in steps
    QTimer rescan_;   // only while something can't be watched or armed
    QTimer reindex_;  // while a filed download is not in the index
    bool watchedAll_ = false;
    bool stopping_ = false;
    int counter_ = 0;
    std::unique_ptr<ExecRunner> exec_;  // --exec
};

int stationCommand(const QStringList& args);

}  // namespace vantor::cli
