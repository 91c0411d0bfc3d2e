// station: stays armed on every matching serial port and files each
// transfer in an archive, with an index of downloads.
#pragma once

#include <vantor/message_loop.h>
#include <vantor/vantor_comm.h>

#include <QTimer>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive.h"
#include "exec_runner.h"
#include "port_watcher.h"
#include "site_database.h"
#include "site_sender.h"

namespace vantor::station {

struct StationOptions {
    std::string archive;
    std::vector<std::string> patterns;  // "auto" for every serial port
    std::string appPath;                // empty: no unit file
    std::optional<double> idleSeconds;
    std::string exec;      // run after each download
    std::string database;  // a site's database besides the archive's own, or empty
    // One line per event, from any thread (the site's sender has its own).
    std::function<void(const std::string&)> log;
};

class Station {
  public:
    // Throws RuntimeError when the archive or its index cannot be opened.
    Station(StationOptions options, std::shared_ptr<MessageLoop> loop);
    ~Station();
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // Runs until stop() has ended every running transfer with its records
    // kept; returns the exit status.
    int run();
    // Ends every transfer, then run().
    void stop();
    // Looks for ports again (`said`: in the log).
    void rescan(bool said);

  private:
    struct Meter;

    __attribute__((format(printf, 2, 3))) void say(const char* format, ...) const;
    void openIndex();
    // The index, made again when its file was removed or replaced; throws
    // RuntimeError while none can be opened.
    SiteDatabase& index();
    void checkUnitFile();
    void arm(Meter& meter);
    void makeControl(Meter& meter);
    void newTemp(Meter& meter);
    void dropTemp(Meter& meter);
    void finish(const std::string& key, unsigned serial);
    void file(Meter& meter);
    void keepRaw(Meter& meter, const std::string& kept);
    void recover();
    void runExec(const std::string& path, const std::string& device, const std::string& outcome,
                 long long records);

    StationOptions options_;
    Archive archive_;
    std::shared_ptr<MessageLoop> loop_;
    std::unique_ptr<SiteDatabase> index_;  // DIR/index.sqlite
    bool unitFile_ = false;                // --app-path's unit2.dat could be read at start
    std::string station_;                  // this station, in a site's database
    std::unique_ptr<SiteSender> site_;     // --database
    ExportOptions clock_;                  // the meter's time stamps read in the machine's zone
    // By the device's real path when it was found: that key is the meter's
    // everywhere, also once the device has gone and no path resolves.
    std::map<std::string, std::unique_ptr<Meter>> meters_;
    PortWatcher ports_;
    QTimer reindex_;  // while a filed download is not in the index
    bool stopping_ = false;
    unsigned serial_ = 0;               // tells a meter from a later one under the same key
    std::unique_ptr<ExecRunner> exec_;  // --exec
};

}  // namespace vantor::station
