#include "site_sender.h"

#include <chrono>
#include <memory>
#include <vector>

#include "site_database.h"

namespace vantor::station {

SiteSender::SiteSender(Setup setup) : setup_(std::move(setup)), thread_([this] { run(); }) {}

SiteSender::~SiteSender() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void SiteSender::poke() {
    {
        std::lock_guard lock(mutex_);
        poked_ = true;
    }
    wake_.notify_one();
}

void SiteSender::run() {
    bool lost = false;
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            // While the site is away, it is tried again every few seconds.
            wake_.wait_for(lock, lost ? std::chrono::seconds(5) : std::chrono::hours(24),
                           [this] { return poked_ || stopping_; });
            if (stopping_) return;
            poked_ = false;
        }
        sendAll(lost);
    }
}

bool SiteSender::sendAll(bool& lost) {
    // Connections belong to the thread that made them: this one's own.
    const std::string shown = SiteDatabase::masked(setup_.database);
    std::size_t sent = 0;
    try {
        SiteDatabase site(setup_.database);
        // Without the password: a new one is the same database.
        const std::string target = site.name();
        SiteDatabase index(setup_.index);
        for (std::int64_t id : index.notSentTo(target)) {
            {
                std::lock_guard lock(mutex_);
                if (stopping_) break;
            }
            SiteDatabase::Download d = index.download(id);
            d.station = setup_.station;
            try {
                site.add(d, setup_.archive + "/" + d.file, setup_.clock);
            } catch (const DatabaseError&) {
                throw;
            } catch (const RuntimeError& e) {
                // The file went: the archive's index keeps the row.
                setup_.log(d.file + " not sent to " + shown + ": " + e.description());
            }
            index.sentTo(id, target);
            ++sent;
        }
    } catch (const RuntimeError& e) {
        if (!lost) {
            setup_.log("lost the database " + shown + ": " + e.description() +
                       "; downloads stay in the archive and are sent when it is back");
        }
        lost = true;
        return false;
    }
    if (lost) {
        setup_.log(shown + " is back: " + std::to_string(sent) + " download" +
                   (sent == 1 ? "" : "s") + " caught up");
    }
    lost = false;
    return true;
}

}  // namespace vantor::station
