#pragma once
// A read-only mapping of a file that another program may shorten while it is
// mapped. Touching a page past the new end would end the process (SIGBUS);
// here such pages read as zeros instead, and Damaged() says that it happened,
// so that whatever was made from the mapping is thrown away.
#include <cstddef>

namespace plat {

class GuardedMapping {
 public:
  GuardedMapping() = default;
  GuardedMapping(const GuardedMapping&) = delete;
  GuardedMapping& operator=(const GuardedMapping&) = delete;
  ~GuardedMapping() { Unmap(); }

  // Maps size bytes of fd from its start; false when it cannot be mapped (the
  // caller reads the file instead).
  bool Map(int fd, size_t size);
  void Unmap();

  const unsigned char* Data() const { return data_; }
  size_t Size() const { return size_; }
  // The file was found shorter than mapped: some bytes read were not its own.
  bool Damaged() const;

 private:
  const unsigned char* data_ = nullptr;
  size_t size_ = 0;
  int slot_ = -1;
};

}  // namespace plat
