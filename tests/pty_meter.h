// The meter's side of a pseudo-terminal, played by a test.
#pragma once

#include <string>

namespace vantor::testing {

class PtyPeer {
  public:
    PtyPeer();  // opens a raw pty master
    ~PtyPeer();
    const std::string& device() const { return device_; }
    void write(const std::string& bytes);
    void hangUp();

  private:
    int master_ = -1;
    std::string device_;
};

// The application object the Qt backends need, created once per process.
void ensureQtApplication();

}  // namespace vantor::testing
