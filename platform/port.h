#pragma once
// Raw output ports: "LPT" + n, as a thermal label printer attached directly.
#include <cstddef>
#include <memory>
#include <string>

namespace plat {

// The device a port name stands for: the [Ports] entry of that name in
// settingsFile (for example LPT1=/dev/usb/lp0; a device, a file or a FIFO),
// else /dev/lp(n-1) for "LPTn" with n >= 1. Returns the native path, "" when
// the name stands for nothing.
std::string PortDevicePath(const std::string& name, const std::string& settingsFile);

class Port {
 public:
  virtual ~Port() = default;
  // Writes all bytes, in order; false when any could not be written.
  virtual bool Write(const void* buf, size_t n) = 0;
  // Writes what is buffered and closes; false when anything failed.
  virtual bool Close() = 0;
};

// Opens the port for writing. Never creates a file, never waits for a FIFO
// reader (a FIFO nobody reads fails at once). nullptr on failure.
std::unique_ptr<Port> OpenPort(const std::string& name, const std::string& settingsFile);

}  // namespace plat
