// list: the serial ports, with the names that stay the same and who holds them.
#include <vantor/port_list.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <array>
#include <cstdio>

#include "arguments.h"
#include "commands.h"
#include "exit_status.h"

namespace vantor::cli {

namespace {

QString q(const std::string& s) {
    return QString::fromLocal8Bit(s.c_str());
}

std::string usbId(const SerialPortEntry& p) {
    if (!p.vendorId || !p.productId) return "";
    char text[16];
    std::snprintf(text, sizeof text, "%04x:%04x", *p.vendorId, *p.productId);
    return text;
}

std::string state(const SerialPortEntry& p) {
    if (!p.busy) return "free";
    return "busy: " + p.busyBy + (p.busyPid ? ", pid " + std::to_string(*p.busyPid) : "");
}

}  // namespace

int listCommand(const QStringList& args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Lists the serial ports: device, stable names, USB vendor:product and serial number, "
        "driver, and whether another program holds it.");
    parser.addOption({"json", "A JSON array of the ports, for scripts."});
    if (auto stop = parseArguments(parser, args, 0)) return *stop;

    const std::vector<SerialPortEntry> ports = listSerialPorts();
    if (parser.isSet("json")) {
        QJsonArray all;
        for (const SerialPortEntry& p : ports) {
            QJsonArray names;
            for (const std::string& n : p.stableNames) names.append(q(n));
            QJsonObject o{{"device", q(p.device)},
                          {"stable_names", names},
                          {"usb", p.vendorId ? QJsonValue(q(usbId(p))) : QJsonValue()},
                          {"serial_number", q(p.serialNumber)},
                          {"manufacturer", q(p.manufacturer)},
                          {"description", q(p.description)},
                          {"driver", q(p.driver)},
                          {"busy", p.busy},
                          {"busy_pid",
                           p.busyPid ? QJsonValue(static_cast<qint64>(*p.busyPid)) : QJsonValue()},
                          {"busy_by", p.busy ? QJsonValue(q(p.busyBy)) : QJsonValue()}};
            all.append(o);
        }
        std::fputs(QJsonDocument(all).toJson(QJsonDocument::Indented).constData(), stdout);
        return kExitOk;
    }
    if (ports.empty()) {
        std::fprintf(stderr,
                     "no serial ports found: plug in the meter's USB serial adapter (it shows up "
                     "as /dev/ttyUSB0 or /dev/ttyACM0), or check that its driver is loaded\n");
        return kExitOk;
    }
    // An aligned table; the stable name is what to give --device.
    std::vector<std::array<std::string, 6>> rows{
        {"DEVICE", "STABLE NAME", "USB", "SERIAL", "DRIVER", "STATE"}};
    for (const SerialPortEntry& p : ports) {
        rows.push_back({p.device, p.stableNames.empty() ? "-" : p.stableNames.front(), usbId(p),
                        p.serialNumber, p.driver, state(p)});
    }
    std::array<std::size_t, 6> width{};
    for (const auto& r : rows) {
        for (std::size_t c = 0; c < r.size(); ++c) width[c] = std::max(width[c], r[c].size());
    }
    for (const auto& r : rows) {
        std::string line;
        for (std::size_t c = 0; c < r.size(); ++c) {
            line += r[c];
            if (c + 1 < r.size()) line += std::string(width[c] - r[c].size() + 2, ' ');
        }
        std::printf("%s\n", line.c_str());
    }
    return kExitOk;
}

}  // namespace vantor::cli
