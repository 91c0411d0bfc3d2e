#include "pty_meter.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cerrno>
#include <stdexcept>

namespace vantor::testing {

PtyPeer::PtyPeer() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        throw std::runtime_error("cannot open a pseudo-terminal");
    }
    termios t{};
    ::tcgetattr(master_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(master_, TCSANOW, &t);
    device_ = ::ptsname(master_);
}

PtyPeer::~PtyPeer() {
    hangUp();
}

void PtyPeer::write(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw std::runtime_error("pty write failed");
        done += static_cast<std::size_t>(n);
    }
}

void PtyPeer::hangUp() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
}

void ensureQtApplication() {
    if (QCoreApplication::instance() != nullptr) return;
    static int argc = 1;
    static char name[] = "vantor_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
}

}  // namespace vantor::testing
