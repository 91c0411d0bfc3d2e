// A meter on a pseudo-terminal for trying the program without hardware, and
// a unit file that names every unit code it sends.
#pragma once

#include <QString>
#include <QTemporaryDir>
#include <memory>
#include <string>

namespace vantor::sim {
class PtyMeter;
}

namespace vantor::gui {

class SimulatedMeter {
  public:
    // Records in its memory: about twenty minutes of a logging session.
    static constexpr int kRecords = 120;

    // Throws std::system_error when no pseudo-terminal can be had.
    SimulatedMeter();
    ~SimulatedMeter();

    QString device() const;
    // A folder holding unit2.dat for the simulated meter's unit codes; empty
    // if it could not be written.
    QString unitFolder() const;
    // Presses SEND: the meter streams its memory at the line's own pace from
    // a background thread, ending with the end marker. A send still running
    // is cut short first.
    void pressSend();

  private:
    std::unique_ptr<sim::PtyMeter> meter_;
    std::string stream_;
    QTemporaryDir folder_;
    bool unitFileWritten_ = false;
};

}  // namespace vantor::gui
