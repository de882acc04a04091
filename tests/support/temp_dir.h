#pragma once
// A scratch folder of the test's own.
#include <string>

namespace vvtest {

// A fresh folder under the system's temporary folder, removed with everything
// in it when the object goes, so tests can run side by side and a failed test
// leaves nothing behind for the next. Throws std::runtime_error when no
// folder can be made.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // A name inside the folder; the name may hold sub-folders ("docs/a.lbl").
  std::string operator/(const std::string& name) const;
  std::string File(const std::string& name) const { return *this / name; }
  // Makes a sub-folder (with any folders above it) and gives its path.
  std::string Sub(const std::string& name) const;

  // Removes a file or a whole tree, also one a test left without write
  // permission; quiet when nothing is there.
  static void Remove(const std::string& path);

 private:
  std::string path_;
};

}  // namespace vvtest
