#pragma once
#include <stdexcept>
#include <string>

namespace xbase {

class XBaseError : public std::runtime_error {
 public:
  explicit XBaseError(const std::string& what) : std::runtime_error(what) {}
};

}  // namespace xbase
