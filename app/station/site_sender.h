// Sends a station's downloads to a site's database from a thread of its own:
// a database that is slow or away must never keep the station from its
// ports (the kernel holds only a few seconds of a line).
#pragma once

#include <vantor/export.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace vantor::station {

class SiteSender {
  public:
    struct Setup {
        std::string index;     // the archive's own database (sqlite:DIR/index.sqlite)
        std::string database;  // the site's
        std::string station;   // this station's name there
        std::string archive;   // where the index's files are
        ExportOptions clock;
        std::function<void(const std::string&)> log;  // one line per event, any thread
    };
    explicit SiteSender(Setup setup);
    // Finishes the download being sent, then stops.
    ~SiteSender();
    SiteSender(const SiteSender&) = delete;
    SiteSender& operator=(const SiteSender&) = delete;

    // A download was added to the index.
    void poke();

  private:
    void run();
    // Sends what the site lacks; false when the site could not be reached.
    bool sendAll(bool& lost);

    Setup setup_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool poked_ = true;  // at start: what an earlier run left
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace vantor::station
