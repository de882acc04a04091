#pragma once
#include <stdexcept>
#include <string>

namespace xbase {

class XBaseError : public std::runtime_error {
 public:
  explicit XBaseError(const std::string& what) : std::runtime_error(what) {}
};

// Another program kept a file locked or changing for longer than we wait.
class XBaseBusy : public XBaseError {
 public:
  explicit XBaseBusy(const std::string& what) : XBaseError(what) {}
};

}  // namespace xbase
