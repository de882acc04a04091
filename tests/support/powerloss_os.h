#pragma once
// Power-cut simulation: an Env that wraps the real one and records, for one
// operation, every change under a root folder (writes, truncates and syncs of
// files; creations, renames, removals and syncs of folders), while the real
// file system does the work. Afterwards it gives, for every point of the
// operation (after the k-th recorded change), states a power cut there could
// leave on disk, and writes any of them out as a real folder, so a test can
// "restart" on it with the product code and check its guarantees.
//
// The model: a file's bytes are durable up to its last Sync; a name's
// creation, rename or removal up to the last SyncFolder of its folder (a
// rename between two folders is two changes, one in each). What was not
// made durable may be lost or kept: a name change whole (a rename inside one
// folder is atomic); a file's data by 512-byte sector, each sector as it
// stood after one of the changes that touched it (a sector is written whole,
// from what the program had put in it by then), its size as after any of the
// changes.
// Trying every combination explodes, so each point gets a fixed, bounded set:
//   kept          everything the program did (what it saw before the cut)
//   dropped       only what was made durable
//   names kept    name changes kept, unsynced bytes lost (the empty or short
//                 file behind a rename made before its data was synced)
//   data kept     unsynced bytes kept, name changes lost
//   mix 1..n      each name change, sector and size chosen so at random
//                 (seeded by the point, so runs repeat)
// A state equal to one already given for the same point is skipped.
//
// Syncs are recorded, not passed on: the disk is never made to wait.
//
// Limits: folders are not created or removed during an operation (the seam
// has no call for it); files opened before the wrapper was installed are not
// seen; locks, mappings and reads pass straight through.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/os.h"

namespace vvtest {

// One state a power cut could leave under the root.
struct CrashState {
  size_t point = 0;  // changes made before the cut
  std::string how;   // "kept", "dropped", "names kept", "data kept", "mix 2", ...
  std::map<std::string, std::shared_ptr<const std::string>> files;  // '/'-separated path below the root -> bytes
  std::vector<std::string> folders;                                  // every folder below the root
  // The bytes of the file at path ('/'-separated, below the root), nullptr
  // when no file has that name.
  const std::string* Bytes(const std::string& path) const;
};

struct CrashPlan {
  size_t mixes = 3;      // random mixes per point
  uint64_t seed = 18;
  size_t maxPoints = 0;  // 0: every point; else evenly spread, plus every point beside a sync or name change
};

struct CrashStats {
  size_t events = 0;     // changes recorded
  size_t points = 0;     // points simulated
  size_t generated = 0;  // states made
  size_t checked = 0;    // distinct states handed to the check
};

// Prints the figures of one simulated operation for the test log.
void PrintFigures(const std::string& what, const CrashStats& stats);

class PowerLossOs : public plat::os::Env {
 public:
  explicit PowerLossOs(plat::os::Env& inner = plat::os::RealOs());
  ~PowerLossOs() override;

  // Takes what is under root now as durable and starts recording.
  void Begin(const std::string& root);
  // Stops recording (the record stays for ForEachCrash).
  void End();
  // Changes recorded so far: the point a later cut would be at.
  size_t Events() const;
  // The recorded changes up to point, one a line (for failure messages).
  std::string Describe(size_t point) const;
  // Whether a recorded change begins so ("remove in/ORDER.TXT", "sync
  // folder /out"): that the operation went through the seam at all.
  bool Recorded(const std::string& change) const;
  // Hands every distinct crash state, point by point, to visit.
  CrashStats ForEachCrash(const CrashPlan& plan, const std::function<void(const CrashState&)>& visit) const;
  // Makes folder hold exactly state (files not in it removed, the others
  // rewritten where they differ).
  static void Materialise(const CrashState& state, const std::string& folder);

  // The Env.
  std::unique_ptr<plat::os::File> Open(const std::string& path, const plat::os::OpenRequest& how) override;
  std::unique_ptr<plat::os::Mapping> MapReadOnly(const std::string& path, const plat::os::FileInfo& expected) override;
  bool Stat(const std::string& path, bool followLinks, plat::os::FileInfo* info) override;
  bool RenameReplace(const std::string& from, const std::string& to) override;
  bool Remove(const std::string& path) override;
  bool SyncFolder(const std::string& folder) override;
  bool ListFolder(const std::string& folder, std::vector<std::string>* names) override;
  std::string Resolve(const std::string& path) override;
  std::string ExeFolder() override;
  std::string DefaultPortDevice(int n) override;
  std::chrono::system_clock::time_point Now() override;
  std::chrono::steady_clock::time_point Monotonic() override;
  void Sleep(std::chrono::milliseconds duration) override;
  bool LocalTime(std::time_t t, plat::os::LocalTm* out) override;
  void InstallStopHandler(void (*onStop)()) override;

  struct Model;
  struct Event;

 private:
  class TrackedFile;
  friend class TrackedFile;

  // The path (as Normal gives it) below the root, "" for the root itself;
  // nothing when outside it.
  std::optional<std::string> Below(const std::string& normal) const;
  int InodeOf(const std::string& rel, plat::os::File* open);
  void Record(Event event);

  plat::os::Env& inner_;
  mutable std::mutex mutex_;
  bool recording_ = false;
  uint64_t generation_ = 0;
  std::string root_;
  std::unique_ptr<Model> start_;  // under the root at Begin
  std::unique_ptr<Model> live_;   // as the program has changed it
  std::vector<Event> events_;
  std::map<std::pair<uint64_t, uint64_t>, int> byId_;  // real (device, id) -> inode
};

// Installs an Env for the scope, and the OS's own back afterwards.
class ScopedOs {
 public:
  explicit ScopedOs(plat::os::Env* env) { plat::os::InstallOs(env); }
  ~ScopedOs() { plat::os::InstallOs(nullptr); }
  ScopedOs(const ScopedOs&) = delete;
  ScopedOs& operator=(const ScopedOs&) = delete;
};

// Runs op under root with the power-cut simulation installed, then writes
// every crash state into root and calls check on it (the simulation stays
// installed, no longer recording). op gets the simulation (for Events(), to note where its steps end).
// Once a check fails, the states left are not checked.
CrashStats SimulatePowerLoss(const std::string& root, const std::function<void(PowerLossOs&)>& op,
                             const std::function<void(const CrashState&, const PowerLossOs&)>& check,
                             const CrashPlan& plan = {});

}  // namespace vvtest
