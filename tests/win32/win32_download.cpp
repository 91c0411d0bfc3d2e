// A Windows host of the control for the tests under Wine: downloads from a
// port into a data file, event-driven (Start, then the loop) or blocking
// (ReadDataLogger), on the platform's own backends.
//
//   win32_download [--blocking] [--armed FILE] PORT DATAFILE
//
// PORT is a port number (the platform's own device for it) or a device name.
// Once the port is open it makes FILE (output may reach the tests only at the
// end), and at the end prints the records written, the outcome and the error
// the control showed. Exit status: 0 the end
// marker came, 2 nothing was armed, 3 the device was lost, 1 anything else.
#include <vantor/download.h>
#include <vantor/win32_platform.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using namespace std::chrono_literals;

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

void markArmed(const std::string& path) {
    if (path.empty()) return;
    if (std::FILE* f = std::fopen(path.c_str(), "w")) std::fclose(f);
}

}  // namespace

int main(int argc, char** argv) {
    int at = 1;
    bool blocking = false;
    std::string armed;
    for (; at < argc && argv[at][0] == '-'; ++at) {
        const std::string option = argv[at];
        if (option == "--blocking") {
            blocking = true;
        } else if (option == "--armed" && at + 1 < argc) {
            armed = argv[++at];
        } else {
            break;
        }
    }
    if (argc != at + 2) {
        std::fprintf(stderr, "usage: win32_download [--blocking] [--armed FILE] PORT DATAFILE\n");
        return 64;
    }
    const std::string port = argv[at];
    const std::string dataFile = argv[at + 1];

    vantor::ControlOptions options;
    options.loop = vantor::win32MessageLoop();
    const auto loop = options.loop;
    auto comm = vantor::createControl(std::move(options));
    comm->UserControl_Resize();
    if (port.find_first_not_of("0123456789") == std::string::npos) {
        comm->Port(static_cast<vantor::Integer>(std::atoi(port.c_str())));
    } else {
        comm->Port(1);
        comm->Ports().set(1, port);
    }
    comm->df = dataFile;
    bool ended = false;
    comm->onTransferEnded = [&] { ended = true; };

    // A hang guard only: the tests wait on the meter, never on the clock.
    comm->setTransferTimeout(120s);
    if (blocking) {
        comm->setReadTimeout(0s);  // the guard ends it
        // Runs from the download's wait, once its port is open.
        loop->post([&] { markArmed(armed); });
        comm->ReadDataLogger();
    } else {
        comm->Start();
        if (comm->fgComPortOpen) {
            markArmed(armed);
            while (!ended) loop->waitForEvents(1s);
        }
    }

    const vantor::TransferOutcome outcome = comm->LastTransferOutcome();
    say("records: " + std::to_string(comm->datano));
    say(std::string("outcome: ") + vantor::outcomeName(outcome));
    if (const auto& error = comm->LastError()) {
        say("error: " + std::to_string(error->number()) + " " + error->description());
    }
    if (outcome == vantor::TransferOutcome::EndMarker && comm->fgTransferOK) return 0;
    if (outcome == vantor::TransferOutcome::NotArmed) return 2;
    if (outcome == vantor::TransferOutcome::DeviceLost) return 3;
    return 1;
}
