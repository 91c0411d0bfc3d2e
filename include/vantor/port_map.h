// Which device a serial port number stands for.
#pragma once

#include <vantor/types.h>

#include <map>
#include <string>

namespace vantor {

// Maps port numbers to device names. Port N is /dev/ttyS(N-1) on Linux and
// \\.\COMN on Windows unless the host has named another device for it.
class PortMap {
  public:
    std::string device(Integer port) const;
    void set(Integer port, const std::string& device) { devices_[port] = device; }
    void clear() { devices_.clear(); }

  private:
    std::map<Integer, std::string> devices_;
};

}  // namespace vantor
