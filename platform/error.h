#pragma once
#include <stdexcept>
#include <string>

namespace plat {

// Raised by the platform layer for failures the caller cannot reasonably turn
// into a boolean result (an ini file that cannot be written, say). The text is
// what the user is shown.
class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& what) : std::runtime_error(what) {}
};

}  // namespace plat
