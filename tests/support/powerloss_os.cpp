#include "tests/support/powerloss_os.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <set>
#include <sstream>

namespace vvtest {

namespace fs = std::filesystem;
using plat::os::Env;
using plat::os::FileInfo;
using plat::os::OpenRequest;

namespace {

constexpr uint64_t kSector = 512;

using Content = std::shared_ptr<const std::string>;

std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAt(std::string& bytes, uint64_t offset, const std::string& data) {
  if (bytes.size() < offset + data.size()) bytes.resize(offset + data.size(), '\0');
  std::copy(data.begin(), data.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
}

std::string Parent(const std::string& rel) {
  const size_t slash = rel.rfind('/');
  return slash == std::string::npos ? "" : rel.substr(0, slash);
}

// Absolute, with "." and ".." resolved and '/' between names.
std::string Normal(const std::string& path) {
  std::error_code ec;
  fs::path p = fs::absolute(fs::path(path), ec);
  if (ec) p = fs::path(path);
  std::string s = p.lexically_normal().generic_string();
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

}  // namespace

// What the program has done to the files under the root, split into what is
// durable and what a power cut may still take back.
struct PowerLossOs::Model {
  struct DataOp {
    bool truncate = false;
    uint64_t offset = 0;  // the new size for a truncate
    std::string data;
  };
  struct Inode {
    Content durable = std::make_shared<const std::string>();
    size_t durableHash = std::hash<std::string>{}(std::string());
    std::string current;
    std::vector<DataOp> pending;
  };
  // Names to set (inode) or clear (-1) together.
  struct NameOp {
    std::vector<std::pair<std::string, int>> sets;
  };
  struct Folder {
    std::map<std::string, int> durable, current;
    std::vector<NameOp> pending;
  };
  std::vector<Inode> inodes;
  std::map<std::string, Folder> folders;  // every folder below the root, "" for the root

  static void Set(std::map<std::string, int>& names, const std::string& name, int inode) {
    if (inode < 0) names.erase(name);
    else names[name] = inode;
  }
  void Name(const NameOp& op) {
    if (op.sets.empty()) return;
    Folder& f = folders[Parent(op.sets.front().first)];
    for (const auto& [name, inode] : op.sets) Set(f.current, name, inode);
    f.pending.push_back(op);
  }
  int Lookup(const std::string& rel) const {
    auto f = folders.find(Parent(rel));
    if (f == folders.end()) return -1;
    auto n = f->second.current.find(rel);
    return n == f->second.current.end() ? -1 : n->second;
  }
  void Apply(const Event& e);
};

struct PowerLossOs::Event {
  enum Kind { Create, Adopt, Write, Truncate, Sync, Rename, Remove, SyncFolder } kind = Write;
  int inode = -1;
  std::string path, to;  // below the root; "" where outside it
  uint64_t offset = 0;
  std::string data;  // Write: the bytes; Adopt: the content found

  std::string Text() const {
    std::ostringstream s;
    switch (kind) {
      case Create: s << "create " << path; break;
      case Adopt: s << "find " << path << " (" << data.size() << " bytes)"; break;
      case Write: s << "write " << path << " at " << offset << ", " << data.size() << " bytes"; break;
      case Truncate: s << "truncate " << path << " to " << offset; break;
      case Sync: s << "sync " << path; break;
      case Rename: s << "rename " << (path.empty() ? "(outside)" : path) << " -> " << (to.empty() ? "(outside)" : to); break;
      case Remove: s << "remove " << path; break;
      case SyncFolder: s << "sync folder /" << path; break;
    }
    return s.str();
  }
};

void PowerLossOs::Model::Apply(const Event& e) {
  switch (e.kind) {
    case Event::Create:
      inodes.resize(static_cast<size_t>(e.inode) + 1);
      Name({{{e.path, e.inode}}});
      break;
    case Event::Adopt: {
      inodes.resize(static_cast<size_t>(e.inode) + 1);
      Inode& n = inodes[static_cast<size_t>(e.inode)];
      n.current = e.data;
      n.durable = std::make_shared<const std::string>(e.data);
      n.durableHash = std::hash<std::string>{}(e.data);
      if (!e.path.empty()) {
        Folder& f = folders[Parent(e.path)];
        f.durable[e.path] = f.current[e.path] = e.inode;
      }
      break;
    }
    case Event::Write: {
      Inode& n = inodes[static_cast<size_t>(e.inode)];
      WriteAt(n.current, e.offset, e.data);
      n.pending.push_back({false, e.offset, e.data});
      break;
    }
    case Event::Truncate: {
      Inode& n = inodes[static_cast<size_t>(e.inode)];
      n.current.resize(e.offset, '\0');
      n.pending.push_back({true, e.offset, {}});
      break;
    }
    case Event::Sync: {
      Inode& n = inodes[static_cast<size_t>(e.inode)];
      if (n.pending.empty()) break;
      n.durable = std::make_shared<const std::string>(n.current);
      n.durableHash = std::hash<std::string>{}(n.current);
      n.pending.clear();
      break;
    }
    case Event::Rename:
      if (e.path == e.to) break;
      if (!e.path.empty() && !e.to.empty() && Parent(e.path) == Parent(e.to)) {
        Name({{{e.to, e.inode}, {e.path, -1}}});
      } else {
        if (!e.to.empty()) Name({{{e.to, e.inode}}});
        if (!e.path.empty()) Name({{{e.path, -1}}});
      }
      break;
    case Event::Remove:
      Name({{{e.path, -1}}});
      break;
    case Event::SyncFolder: {
      Folder& f = folders[e.path];
      f.durable = f.current;
      f.pending.clear();
      break;
    }
  }
}

const std::string* CrashState::Bytes(const std::string& path) const {
  auto it = files.find(path);
  return it == files.end() ? nullptr : it->second.get();
}

// A file of the real Env whose changes are recorded while the root is
// watched. Position-based calls are mirrored so each write has its offset.
class PowerLossOs::TrackedFile : public plat::os::File {
 public:
  TrackedFile(PowerLossOs& env, std::unique_ptr<plat::os::File> inner, std::string path, bool append)
      : env_(env), inner_(std::move(inner)), path_(std::move(path)), append_(append) {}

  bool ReadAt(uint64_t offset, void* buf, size_t n, size_t* got) override {
    return inner_->ReadAt(offset, buf, n, got);
  }
  bool WriteAt(uint64_t offset, const void* buf, size_t n) override {
    if (!inner_->WriteAt(offset, buf, n)) return false;
    Wrote(offset, std::string(static_cast<const char*>(buf), n));
    return true;
  }
  bool Read(void* buf, size_t n, size_t* got) override {
    if (!inner_->Read(buf, n, got)) return false;
    pos_ += *got;
    return true;
  }
  bool Write(const void* buf, size_t n) override {
    const uint64_t at = Here();
    if (!inner_->Write(buf, n)) return false;
    Wrote(at, std::string(static_cast<const char*>(buf), n));
    return true;
  }
  bool WriteGather(const plat::os::Piece* pieces, size_t count) override {
    const uint64_t at = Here();
    if (!inner_->WriteGather(pieces, count)) return false;
    std::string all;
    for (size_t i = 0; i < count; ++i) all.append(static_cast<const char*>(pieces[i].data), pieces[i].size);
    Wrote(at, std::move(all));
    return true;
  }
  bool Seek(uint64_t offset) override {
    if (!inner_->Seek(offset)) return false;
    pos_ = offset;
    return true;
  }
  bool Size(uint64_t* size) override { return inner_->Size(size); }
  bool Truncate(uint64_t size) override {
    if (!inner_->Truncate(size)) return false;
    Changed(Event::Truncate, size, {});
    return true;
  }
  // The model decides what is durable, so the disk is never made to wait.
  bool Sync() override {
    Changed(Event::Sync, 0, {});
    return true;
  }
  bool Info(FileInfo* info) override { return inner_->Info(info); }
  bool Close() override { return inner_->Close(); }
  bool TryLock(uint64_t start, uint64_t length, plat::os::LockKind kind) override {
    return inner_->TryLock(start, length, kind);
  }
  bool Unlock(uint64_t start, uint64_t length) override { return inner_->Unlock(start, length); }
  bool OthersHold(uint64_t start, uint64_t length, bool* held) override {
    return inner_->OthersHold(start, length, held);
  }
  bool TakeAccessOf(const std::string& path) override { return inner_->TakeAccessOf(path); }
  // Mapped for reading only: nothing to record.
  std::unique_ptr<plat::os::Mapping> MapReadOnly(const FileInfo& expected) override {
    return inner_->MapReadOnly(expected);
  }

  void Known(int inode, uint64_t generation) {
    inode_ = inode;
    generation_ = generation;
  }

 private:
  // Where the next positional write lands.
  uint64_t Here() {
    uint64_t size = 0;
    if (append_ && inner_->Size(&size)) return size;
    return pos_;
  }
  void Wrote(uint64_t at, std::string data) {
    pos_ = at + data.size();
    Changed(Event::Write, at, std::move(data));
  }
  void Changed(Event::Kind kind, uint64_t offset, std::string data) {
    std::lock_guard<std::mutex> lock(env_.mutex_);
    if (!env_.recording_) return;
    const std::optional<std::string> rel = env_.Below(path_);
    if (!rel || rel->empty()) return;
    if (generation_ != env_.generation_ || inode_ < 0) Known(env_.InodeOf(*rel, inner_.get()), env_.generation_);
    Event e;
    e.kind = kind;
    e.inode = inode_;
    e.path = *rel;
    e.offset = offset;
    e.data = std::move(data);
    env_.Record(std::move(e));
  }

  PowerLossOs& env_;
  std::unique_ptr<plat::os::File> inner_;
  std::string path_;  // as Normal gives it
  bool append_;
  uint64_t pos_ = 0;
  int inode_ = -1;
  uint64_t generation_ = 0;
};

PowerLossOs::PowerLossOs(Env& inner) : inner_(inner) {}
PowerLossOs::~PowerLossOs() = default;

std::optional<std::string> PowerLossOs::Below(const std::string& normal) const {
  if (root_.empty()) return std::nullopt;
  if (normal == root_) return std::string();
  if (normal.size() > root_.size() && normal.compare(0, root_.size(), root_) == 0 && normal[root_.size()] == '/')
    return normal.substr(root_.size() + 1);
  return std::nullopt;
}

void PowerLossOs::Begin(const std::string& root) {
  std::lock_guard<std::mutex> lock(mutex_);
  root_ = Normal(root);
  ++generation_;
  events_.clear();
  byId_.clear();
  start_ = std::make_unique<Model>();
  start_->folders[""];
  std::vector<Event> found;
  for (const auto& entry : fs::recursive_directory_iterator(root_)) {
    const std::string rel = fs::relative(entry.path(), root_).generic_string();
    if (entry.is_symlink()) continue;
    if (entry.is_directory()) {
      start_->folders[rel];
    } else if (entry.is_regular_file()) {
      Event e;
      e.kind = Event::Adopt;
      e.inode = static_cast<int>(found.size());
      e.path = rel;
      e.data = ReadWhole(entry.path());
      FileInfo info;
      if (inner_.Stat(entry.path().string(), false, &info) && info.id != 0) byId_[{info.device, info.id}] = e.inode;
      found.push_back(std::move(e));
    }
  }
  for (const Event& e : found) start_->Apply(e);
  live_ = std::make_unique<Model>(*start_);
  recording_ = true;
}

void PowerLossOs::End() {
  std::lock_guard<std::mutex> lock(mutex_);
  recording_ = false;
}

size_t PowerLossOs::Events() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return events_.size();
}

std::string PowerLossOs::Describe(size_t point) const {
  std::lock_guard<std::mutex> lock(mutex_);
  constexpr size_t kShown = 16;
  point = std::min(point, events_.size());
  std::ostringstream s;
  s << "cut after " << point << " of " << events_.size() << " changes";
  if (point > kShown) s << "\n  ...";
  for (size_t i = point > kShown ? point - kShown : 0; i < point; ++i) s << "\n  " << i + 1 << ": " << events_[i].Text();
  return s.str();
}

bool PowerLossOs::Recorded(const std::string& change) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::any_of(events_.begin(), events_.end(), [&](const Event& e) { return e.Text().compare(0, change.size(), change) == 0; });
}

int PowerLossOs::InodeOf(const std::string& rel, plat::os::File* open) {
  FileInfo info;
  if (open && open->Info(&info) && info.id != 0) {
    auto it = byId_.find({info.device, info.id});
    if (it != byId_.end()) return it->second;
  }
  int inode = live_->Lookup(rel);
  if (inode >= 0) return inode;
  // Made by someone else (another process) since Begin: durable as found.
  Event e;
  e.kind = Event::Adopt;
  e.inode = static_cast<int>(live_->inodes.size());
  e.path = rel;
  e.data = ReadWhole(fs::path(root_) / rel);
  if (open && open->Info(&info) && info.id != 0) byId_[{info.device, info.id}] = e.inode;
  inode = e.inode;
  Record(std::move(e));
  return inode;
}

void PowerLossOs::Record(Event event) {
  live_->Apply(event);
  events_.push_back(std::move(event));
}

std::unique_ptr<plat::os::File> PowerLossOs::Open(const std::string& path, const OpenRequest& how) {
  const std::string normal = Normal(path);
  std::optional<std::string> rel;
  bool existed = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (recording_) rel = Below(normal);
  }
  if (rel && !rel->empty()) {
    FileInfo info;
    existed = inner_.Stat(path, true, &info);
  }
  std::unique_ptr<plat::os::File> file = inner_.Open(path, how);
  if (!file) return nullptr;
  auto tracked = std::make_unique<TrackedFile>(*this, std::move(file), normal, how.append);
  if (!rel || rel->empty() || how.access == plat::os::Access::Read) return tracked;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!recording_) return tracked;
  FileInfo info;
  const bool known = tracked->Info(&info);
  if (!existed) {
    Event e;
    e.kind = Event::Create;
    e.inode = static_cast<int>(live_->inodes.size());
    e.path = *rel;
    if (known && info.id != 0) byId_[{info.device, info.id}] = e.inode;
    tracked->Known(e.inode, generation_);
    Record(std::move(e));
  } else {
    const int inode = InodeOf(*rel, tracked.get());
    tracked->Known(inode, generation_);
    if (how.disposition == plat::os::Disposition::CreateOrTruncate && !live_->inodes[static_cast<size_t>(inode)].current.empty()) {
      Event e;
      e.kind = Event::Truncate;
      e.inode = inode;
      e.path = *rel;
      Record(std::move(e));
    }
  }
  return tracked;
}

std::unique_ptr<plat::os::Mapping> PowerLossOs::MapReadOnly(const std::string& path, const FileInfo& expected) {
  return inner_.MapReadOnly(path, expected);
}

bool PowerLossOs::Stat(const std::string& path, bool followLinks, FileInfo* info) {
  return inner_.Stat(path, followLinks, info);
}

bool PowerLossOs::RenameReplace(const std::string& from, const std::string& to) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!recording_) {
    lock.unlock();
    return inner_.RenameReplace(from, to);
  }
  const std::optional<std::string> relFrom = Below(Normal(from)), relTo = Below(Normal(to));
  if (!relFrom && !relTo) {
    lock.unlock();
    return inner_.RenameReplace(from, to);
  }
  // A file coming in from outside is taken as durable where it was.
  int inode = -1;
  if (relFrom) {
    inode = live_->Lookup(*relFrom);
    if (inode < 0) {
      FileInfo info;
      if (!inner_.Stat(from, false, &info) || info.kind != plat::os::Kind::Plain) {
        lock.unlock();
        return inner_.RenameReplace(from, to);
      }
      inode = InodeOf(*relFrom, nullptr);
    }
  } else {
    Event e;
    e.kind = Event::Adopt;
    e.inode = static_cast<int>(live_->inodes.size());
    e.data = ReadWhole(fs::path(from));
    inode = e.inode;
    Record(std::move(e));
  }
  if (!inner_.RenameReplace(from, to)) return false;
  Event e;
  e.kind = Event::Rename;
  e.inode = inode;
  e.path = relFrom.value_or("");
  e.to = relTo.value_or("");
  Record(std::move(e));
  return true;
}

bool PowerLossOs::Remove(const std::string& path) {
  if (!inner_.Remove(path)) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!recording_) return true;
  const std::optional<std::string> rel = Below(Normal(path));
  if (!rel || rel->empty() || live_->Lookup(*rel) < 0) return true;
  Event e;
  e.kind = Event::Remove;
  e.path = *rel;
  Record(std::move(e));
  return true;
}

bool PowerLossOs::SyncFolder(const std::string& folder) {
  FileInfo info;
  if (!inner_.Stat(folder, true, &info)) return false;
  if (info.kind != plat::os::Kind::Folder) {
    plat::os::SetLastError(plat::os::Fail::NotPlain, "Not a directory");
    return false;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (!recording_) return true;
  const std::optional<std::string> rel = Below(Normal(folder));
  if (!rel || !live_->folders.count(*rel)) return true;
  Event e;
  e.kind = Event::SyncFolder;
  e.path = *rel;
  Record(std::move(e));
  return true;
}

bool PowerLossOs::ListFolder(const std::string& folder, std::vector<std::string>* names) {
  return inner_.ListFolder(folder, names);
}
std::string PowerLossOs::Resolve(const std::string& path) { return inner_.Resolve(path); }
std::string PowerLossOs::ExeFolder() { return inner_.ExeFolder(); }
std::string PowerLossOs::DefaultPortDevice(int n) { return inner_.DefaultPortDevice(n); }
std::chrono::system_clock::time_point PowerLossOs::Now() { return inner_.Now(); }
std::chrono::steady_clock::time_point PowerLossOs::Monotonic() { return inner_.Monotonic(); }
void PowerLossOs::Sleep(std::chrono::milliseconds duration) { inner_.Sleep(duration); }
bool PowerLossOs::LocalTime(std::time_t t, plat::os::LocalTm* out) { return inner_.LocalTime(t, out); }
void PowerLossOs::InstallStopHandler(void (*onStop)()) { inner_.InstallStopHandler(onStop); }

namespace {

enum class Mode { Kept, Dropped, NamesKept, DataKept, Mix };

struct Keeper {
  Mode mode;
  std::mt19937_64* rng;
  bool Names() { return mode == Mode::Mix ? ((*rng)() & 1) != 0 : mode == Mode::Kept || mode == Mode::NamesKept; }
  bool Data() { return mode == Mode::Kept || mode == Mode::DataKept; }
};

// A file's bytes after a cut that kept part of its unsynced changes. A
// sector reaches the disk whole, with what the program had written into it by
// then: each sector shows the durable bytes or those after one of the changes
// that touched it, independently of the others. The size (kept apart from
// the data by the file system) is the one after any of the changes.
std::string Mixed(const std::string& durable, const std::vector<PowerLossOs::Model::DataOp>& ops,
                  std::mt19937_64& rng) {
  const size_t n = ops.size();
  std::vector<uint64_t> sizeAt(n + 1, durable.size());
  std::map<uint64_t, std::vector<size_t>> touching;  // sector -> the changes that touch it
  for (size_t i = 0; i < n; ++i) {
    const auto& op = ops[i];
    uint64_t from = op.offset / kSector, to = from;
    if (op.truncate) {
      sizeAt[i + 1] = op.offset;
      to = (sizeAt[i] + kSector - 1) / kSector;
    } else {
      sizeAt[i + 1] = std::max<uint64_t>(sizeAt[i], op.offset + op.data.size());
      to = (op.offset + op.data.size() + kSector - 1) / kSector;
    }
    for (uint64_t sec = from; sec < to; ++sec) touching[sec].push_back(i);
  }
  std::map<uint64_t, size_t> upTo;  // sector -> changes it shows
  for (const auto& [sec, list] : touching) {
    const size_t k = rng() % (list.size() + 1);
    upTo[sec] = k == 0 ? 0 : list[k - 1] + 1;
  }
  const uint64_t size = sizeAt[rng() % (n + 1)];
  std::string b(size, '\0');
  std::copy_n(durable.begin(), std::min<uint64_t>(size, durable.size()), b.begin());
  for (size_t i = 0; i < n; ++i) {
    const auto& op = ops[i];
    const uint64_t start = op.offset, stop = op.truncate ? sizeAt[i] : op.offset + op.data.size();
    for (uint64_t at = start; at < stop && at < size;) {
      const uint64_t sec = at / kSector, end = std::min({(sec + 1) * kSector, stop, size});
      if (i < upTo[sec]) {
        if (op.truncate) std::fill(b.begin() + static_cast<std::ptrdiff_t>(at), b.begin() + static_cast<std::ptrdiff_t>(end), '\0');
        else std::copy_n(op.data.begin() + static_cast<std::ptrdiff_t>(at - start), end - at, b.begin() + static_cast<std::ptrdiff_t>(at));
      }
      at = end;
    }
  }
  return b;
}

}  // namespace

// Unlocked: it runs after End, and visit may call Describe.
CrashStats PowerLossOs::ForEachCrash(const CrashPlan& plan, const std::function<void(const CrashState&)>& visit) const {
  CrashStats stats;
  stats.events = events_.size();
  if (!start_) return stats;
  const size_t n = events_.size();

  std::set<size_t> points;
  if (plan.maxPoints == 0 || n + 1 <= plan.maxPoints) {
    for (size_t k = 0; k <= n; ++k) points.insert(k);
  } else {
    for (size_t i = 0; i < plan.maxPoints; ++i) points.insert(i * n / (plan.maxPoints - 1 ? plan.maxPoints - 1 : 1));
    for (size_t i = 0; i < n; ++i) {
      if (events_[i].kind != Event::Write && events_[i].kind != Event::Truncate) {
        points.insert(i);
        points.insert(i + 1);
      }
    }
  }

  std::vector<std::string> folders;
  for (const auto& [name, f] : start_->folders)
    if (!name.empty()) folders.push_back(name);

  Model model = *start_;
  for (size_t k = 0; k <= n; ++k) {
    if (points.count(k)) {
      ++stats.points;
      // Only states of one point are compared: what a check allows depends
      // on how far the operation had come.
      std::set<std::string> seen;
      std::vector<std::pair<Mode, std::string>> modes = {
          {Mode::Kept, "kept"}, {Mode::Dropped, "dropped"}, {Mode::NamesKept, "names kept"}, {Mode::DataKept, "data kept"}};
      for (size_t m = 1; m <= plan.mixes; ++m) modes.push_back({Mode::Mix, "mix " + std::to_string(m)});
      for (size_t m = 0; m < modes.size(); ++m) {
        std::mt19937_64 rng(plan.seed * 0x9E3779B97F4A7C15ull + k * 1000003ull + m);
        Keeper keep{modes[m].first, &rng};
        CrashState state;
        state.point = k;
        state.how = modes[m].second;
        state.folders = folders;
        std::map<std::string, int> names;
        for (const auto& [fname, f] : model.folders) {
          std::map<std::string, int> here = f.durable;
          for (const Model::NameOp& op : f.pending)
            if (keep.Names())
              for (const auto& [name, inode] : op.sets) Model::Set(here, name, inode);
          names.insert(here.begin(), here.end());
        }
        std::map<int, std::pair<Content, size_t>> bytes;
        std::string key;
        for (const auto& [name, inode] : names) {
          auto it = bytes.find(inode);
          if (it == bytes.end()) {
            const Model::Inode& node = model.inodes[static_cast<size_t>(inode)];
            std::pair<Content, size_t> c{node.durable, node.durableHash};
            if (!node.pending.empty() && keep.mode != Mode::Dropped && keep.mode != Mode::NamesKept) {
              std::string b;
              if (keep.Data()) {
                b = node.current;
              } else {
                b = Mixed(*node.durable, node.pending, *keep.rng);
              }
              c.second = std::hash<std::string>{}(b);
              c.first = std::make_shared<const std::string>(std::move(b));
            }
            it = bytes.emplace(inode, std::move(c)).first;
          }
          state.files[name] = it->second.first;
          key += name;
          key += '\0';
          key += std::to_string(it->second.second);
          key += '\0';
        }
        ++stats.generated;
        if (!seen.insert(key).second) continue;
        ++stats.checked;
        visit(state);
      }
    }
    if (k < n) model.Apply(events_[k]);
  }
  return stats;
}

void PowerLossOs::Materialise(const CrashState& state, const std::string& folder) {
  const fs::path base(folder);
  for (const std::string& f : state.folders) fs::create_directories(base / f);
  std::vector<fs::path> extra;
  // Links, FIFOs and devices a test made stay: the simulation knows only plain files.
  for (const auto& entry : fs::recursive_directory_iterator(base)) {
    if (!entry.is_regular_file() || entry.is_symlink()) continue;
    if (!state.files.count(fs::relative(entry.path(), base).generic_string())) extra.push_back(entry.path());
  }
  for (const fs::path& p : extra) fs::remove(p);
  for (const auto& [name, bytes] : state.files) {
    const fs::path p = base / name;
    if (fs::is_regular_file(p) && ReadWhole(p) == *bytes) continue;
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(bytes->data(), static_cast<std::streamsize>(bytes->size()));
    if (!out) throw std::runtime_error("cannot write " + p.string());
  }
}

void PrintFigures(const std::string& what, const CrashStats& s) {
  std::printf("[ figures  ] power cuts, %s: %zu changes, %zu points, %zu states made, %zu checked\n", what.c_str(),
              s.events, s.points, s.generated, s.checked);
}

CrashStats SimulatePowerLoss(const std::string& root, const std::function<void(PowerLossOs&)>& op,
                             const std::function<void(const CrashState&, const PowerLossOs&)>& check,
                             const CrashPlan& plan) {
  PowerLossOs os;
  // Installed for the checks too: the restarts then skip the real syncs.
  ScopedOs installed(&os);
  os.Begin(root);
  op(os);
  os.End();
  // One failing state is reported; the rest would repeat it.
  const auto failures = [] {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    if (!test) return 0;
    int n = 0;
    for (int i = 0; i < test->result()->total_part_count(); ++i) n += test->result()->GetTestPartResult(i).failed() ? 1 : 0;
    return n;
  };
  const int before = failures();
  return os.ForEachCrash(plan, [&](const CrashState& state) {
    if (failures() > before) return;
    PowerLossOs::Materialise(state, root);
    check(state, os);
  });
}

}  // namespace vvtest
