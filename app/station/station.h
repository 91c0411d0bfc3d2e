// station: stays armed on every matching serial port and files each
// transfer in an archive, with an index of downloads.
#pragma once

#include <sys/types.h>
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

    void openIndex();
    // The index, made again when its file was removed or replaced; throws
    // RuntimeError while none can be opened.
    SiteDatabase& index();
    bool indexMoved() const;
    void checkUnitFile();
    void rescan(bool said);
    // Folders whose changes mean a port may have come or gone; true when
    // every pattern's folder can be watched.
    bool watchFolders();
    void arm(Meter& meter);
    void makeControl(Meter& meter);
    void openFolder(Meter& meter);
    void newTemp(Meter& meter);
    void dropTemp(Meter& meter);
    void finish(const std::string& key, unsigned serial);
    void file(Meter& meter);
    void keepRaw(Meter& meter, const std::string& kept);
    void recover();
    std::vector<std::string> archiveFolders();
    // False when the file must be tried again later.
    bool recoverFile(int folder, const std::string& stable, const std::string& name);
    bool addMissingReadings();
    void runExec(const std::string& path, const std::string& device, const std::string& outcome,
                 long long records);
    void stop();
    // Has the site's database sent what it lacks.
    void sendPending();

    StationOptions options_;
    int archive_ = -1;  // DIR: everything in it is opened relative to it, never through a link
    int lock_ = -1;     // DIR/.station.lock, held while the station runs
    std::shared_ptr<MessageLoop> loop_;
    std::unique_ptr<SiteDatabase> index_;  // DIR/index.sqlite
    dev_t indexDev_ = 0;                   // the file the index has open
    ino_t indexIno_ = 0;
    bool unitFile_ = false;             // --app-path's unit2.dat could be read at start
    std::string station_;               // this station, in a site's database
    std::unique_ptr<SiteSender> site_;  // --database
    ExportOptions clock_;               // the meter's time stamps read in the machine's zone
    // By the device's real path when it was found: that key is the meter's
    // everywhere, also once the device has gone and no path resolves.
    std::map<std::string, std::unique_ptr<Meter>> meters_;
    std::map<std::string, std::string> refused_;  // why a port could not be armed
    QFileSystemWatcher watcher_;
    QTimer settle_;   // after a folder changed: udev makes a device in steps
    QTimer rescan_;   // only while something can't be watched or armed
    QTimer reindex_;  // while a filed download is not in the index
    bool watchedAll_ = false;
    bool stopping_ = false;
    unsigned serial_ = 0;               // tells a meter from a later one under the same key
    std::unique_ptr<ExecRunner> exec_;  // --exec
};

int stationCommand(const QStringList& args);

}  // namespace vantor::cli
