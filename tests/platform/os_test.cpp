// The OS seam's contract, as every implementation must keep it. Only the seam
// itself is used here, so the same cases run on every OS.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/os.h"

namespace {

using namespace plat::os;

// A scratch folder of this test alone.
class Scratch {
 public:
  Scratch() {
    std::random_device rd;
    const auto base = std::filesystem::temp_directory_path();
    path_ = (base / ("vv_os_" + std::to_string(rd()) + std::to_string(rd()))).string();
    std::filesystem::create_directory(path_);
  }
  ~Scratch() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string operator/(const std::string& name) const { return JoinPath(path_, name); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::unique_ptr<File> OpenAs(const std::string& path, Access access, Disposition disposition,
                             bool exclusive = false) {
  OpenRequest how;
  how.access = access;
  how.disposition = disposition;
  how.exclusive = exclusive;
  return Os().Open(path, how);
}

void Put(const std::string& path, const std::string& bytes) {
  auto f = OpenAs(path, Access::Write, Disposition::CreateOrTruncate);
  ASSERT_TRUE(f) << LastError().text;
  ASSERT_TRUE(f->WriteAt(0, bytes.data(), bytes.size()));
  ASSERT_TRUE(f->Close());
}

std::string Content(const std::string& path) {
  auto f = OpenAs(path, Access::Read, Disposition::OpenExisting);
  if (!f) return "<missing>";
  std::string out(1 << 16, '\0');
  size_t got = 0;
  EXPECT_TRUE(f->ReadAt(0, out.data(), out.size(), &got));
  out.resize(got);
  return out;
}

TEST(OsSeam, OpenDispositions) {
  struct Case {
    Disposition disposition;
    bool existed;
    Fail fails;            // None: opens
    const char* content;   // after writing "new" at 0 (or the untouched file)
  };
  const Case cases[] = {
      {Disposition::OpenExisting, true, Fail::None, "newxx"},
      {Disposition::OpenExisting, false, Fail::NotFound, "<missing>"},
      {Disposition::CreateOrOpen, true, Fail::None, "newxx"},
      {Disposition::CreateOrOpen, false, Fail::None, "new"},
      {Disposition::CreateOrTruncate, true, Fail::None, "new"},
      {Disposition::CreateOrTruncate, false, Fail::None, "new"},
      {Disposition::CreateNew, true, Fail::Exists, "oldxx"},
      {Disposition::CreateNew, false, Fail::None, "new"},
  };
  Scratch dir;
  int i = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(i);
    const std::string path = dir / ("f" + std::to_string(i++));
    if (c.existed) Put(path, "oldxx");
    auto f = OpenAs(path, Access::ReadWrite, c.disposition);
    if (c.fails == Fail::None) {
      ASSERT_TRUE(f) << LastError().text;
      EXPECT_TRUE(f->WriteAt(0, "new", 3));
      EXPECT_TRUE(f->Close());
    } else {
      EXPECT_FALSE(f);
      EXPECT_EQ(LastError().kind, c.fails);
      EXPECT_FALSE(LastError().text.empty());
    }
    EXPECT_EQ(Content(path), c.content);
  }
}

TEST(OsSeam, FailKinds) {
  Scratch dir;
  Put(dir / "file", "x");
  Env& os = Os();
  FileInfo info;
  std::vector<std::string> names;
  struct Case {
    const char* what;
    std::function<bool()> call;
    Fail kind;
  };
  const Case cases[] = {
      {"open in a missing folder", [&] { return !!OpenAs(dir / "no/f", Access::Write, Disposition::CreateOrOpen); },
       Fail::NotFound},
      {"open a folder", [&] { return !!OpenAs(dir.path(), Access::Read, Disposition::OpenExisting); }, Fail::NotPlain},
      {"stat missing", [&] { return os.Stat(dir / "none", true, &info); }, Fail::NotFound},
      {"remove missing", [&] { return os.Remove(dir / "none"); }, Fail::NotFound},
      {"rename missing", [&] { return os.RenameReplace(dir / "none", dir / "other"); }, Fail::NotFound},
      {"list missing", [&] { return os.ListFolder(dir / "none", &names); }, Fail::NotFound},
      {"create over a file", [&] { return !!OpenAs(dir / "file", Access::Write, Disposition::CreateNew); },
       Fail::Exists},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetLastError(Fail::None, "");
    EXPECT_FALSE(c.call());
    EXPECT_EQ(LastError().kind, c.kind);
    EXPECT_FALSE(LastError().text.empty());
  }
  EXPECT_EQ(Content(dir / "file"), "x");
}

TEST(OsSeam, FoldersAndNames) {
  Scratch dir;
  Put(dir / "a", "12345");
  Put(dir / "b", "x");
  Env& os = Os();
  FileInfo info;
  ASSERT_TRUE(os.Stat(dir / "a", true, &info));
  EXPECT_EQ(info.kind, Kind::Plain);
  EXPECT_EQ(info.size, 5u);
  EXPECT_EQ(info.links, 1u);
  ASSERT_TRUE(os.Stat(dir.path(), true, &info));
  EXPECT_EQ(info.kind, Kind::Folder);

  std::vector<std::string> names;
  ASSERT_TRUE(os.ListFolder(dir.path(), &names));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a", "b"}));

  // A rename replaces its target at once; the moved file keeps its identity.
  FileInfo before, after;
  ASSERT_TRUE(os.Stat(dir / "a", true, &before));
  ASSERT_TRUE(os.RenameReplace(dir / "a", dir / "b"));
  ASSERT_TRUE(os.Stat(dir / "b", true, &after));
  EXPECT_EQ(after.id, before.id);
  EXPECT_EQ(after.device, before.device);
  EXPECT_EQ(Content(dir / "b"), "12345");
  EXPECT_TRUE(os.SyncFolder(dir.path()));
  EXPECT_TRUE(os.Remove(dir / "b"));
  EXPECT_FALSE(os.Stat(dir / "b", true, &info));

  EXPECT_NE(os.Resolve(dir.path()), "");
  EXPECT_EQ(os.Resolve(dir / "none"), "");
  EXPECT_NE(os.ExeFolder(), "");
}

TEST(OsSeam, FileCalls) {
  Scratch dir;
  auto f = OpenAs(dir / "f", Access::ReadWrite, Disposition::CreateNew);
  ASSERT_TRUE(f);
  const std::string a = "abc", b = "defgh";
  const Piece pieces[] = {{a.data(), a.size()}, {"", 0}, {b.data(), b.size()}};
  ASSERT_TRUE(f->WriteGather(pieces, 3));
  ASSERT_TRUE(f->Write("ij", 2));
  ASSERT_TRUE(f->WriteAt(20, "z", 1));  // past the end: a hole of zeros
  uint64_t size = 0;
  ASSERT_TRUE(f->Size(&size));
  EXPECT_EQ(size, 21u);
  char buf[32];
  size_t got = 0;
  ASSERT_TRUE(f->ReadAt(8, buf, sizeof buf, &got));  // fewer only at the end
  EXPECT_EQ(std::string(buf, got), std::string("ij") + std::string(10, '\0') + "z");
  ASSERT_TRUE(f->Seek(3));
  ASSERT_TRUE(f->Read(buf, 5, &got));
  EXPECT_EQ(std::string(buf, got), "defgh");
  ASSERT_TRUE(f->Truncate(4));
  ASSERT_TRUE(f->ReadAt(0, buf, sizeof buf, &got));
  EXPECT_EQ(std::string(buf, got), "abcd");
  EXPECT_TRUE(f->Sync());
  ASSERT_TRUE(f->Close());
  EXPECT_FALSE(f->ReadAt(0, buf, 1, &got));  // closed

  OpenRequest append;
  append.access = Access::Write;
  append.append = true;
  auto g = Os().Open(dir / "f", append);
  ASSERT_TRUE(g);
  ASSERT_TRUE(g->Seek(0));
  ASSERT_TRUE(g->Write("Z", 1));  // still at the end
  ASSERT_TRUE(g->Close());
  EXPECT_EQ(Content(dir / "f"), "abcdZ");
}

// Two opens of one file, in this process: the first holds it as given, the
// second tries.
TEST(OsSeam, ExclusiveOpenAgainstSecondOpen) {
  struct Case {
    const char* what;
    Access first;
    bool firstExclusive;
    Access second;
    bool secondExclusive;
    bool secondOpens;
  };
  const Case cases[] = {
      {"exclusive writer keeps out an exclusive writer", Access::ReadWrite, true, Access::ReadWrite, true, false},
      {"exclusive writer keeps out an exclusive reader", Access::ReadWrite, true, Access::Read, true, false},
      {"exclusive reader keeps out an exclusive writer", Access::Read, true, Access::ReadWrite, true, false},
      {"a plain writer keeps out an exclusive open", Access::Write, false, Access::ReadWrite, true, false},
      {"nothing keeps out a plain reader", Access::Read, false, Access::Read, false, true},
  };
  Scratch dir;
  const std::string path = dir / "held";
  Put(path, "content");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto first = OpenAs(path, c.first, Disposition::OpenExisting, c.firstExclusive);
    ASSERT_TRUE(first) << LastError().text;
    auto second = OpenAs(path, c.second, Disposition::OpenExisting, c.secondExclusive);
    EXPECT_EQ(!!second, c.secondOpens);
    if (!second) {
      EXPECT_EQ(LastError().kind, Fail::Busy);
    }
    second.reset();
    first.reset();
    // Released with the first open.
    EXPECT_TRUE(OpenAs(path, Access::ReadWrite, Disposition::OpenExisting, true));
  }
  // Only a plain file can be held.
  EXPECT_FALSE(OpenAs(dir.path(), Access::Read, Disposition::OpenExisting, true));
  EXPECT_EQ(LastError().kind, Fail::NotPlain);
}

TEST(OsSeam, LocksBetweenTwoOpens) {
  constexpr uint64_t kRecord5 = kLockTop - 5;
  struct Case {
    const char* what;
    uint64_t start1, len1;
    LockKind kind1;
    uint64_t start2, len2;
    LockKind kind2;
    bool secondTakes;
  };
  const Case cases[] = {
      {"same record", kRecord5, 1, LockKind::Exclusive, kRecord5, 1, LockKind::Exclusive, false},
      {"other record", kRecord5, 1, LockKind::Exclusive, kRecord5 - 1, 1, LockKind::Exclusive, true},
      {"table lock against a record", kTableLockStart, kTableLockLength, LockKind::Exclusive, kRecord5, 1,
       LockKind::Exclusive, false},
      {"record against the table lock", kRecord5, 1, LockKind::Exclusive, kTableLockStart, kTableLockLength,
       LockKind::Exclusive, false},
      {"shared locks share", kLockTop, 1, LockKind::Shared, kLockTop, 1, LockKind::Shared, true},
      {"shared against exclusive", kLockTop, 1, LockKind::Shared, kLockTop, 1, LockKind::Exclusive, false},
  };
  Scratch dir;
  const std::string path = dir / "table.dbf";
  Put(path, "records");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto a = OpenAs(path, Access::ReadWrite, Disposition::OpenExisting);
    auto b = OpenAs(path, Access::ReadWrite, Disposition::OpenExisting);
    auto reader = OpenAs(path, Access::Read, Disposition::OpenExisting);
    ASSERT_TRUE(a && b && reader);
    bool held = true;
    ASSERT_TRUE(reader->OthersHold(c.start2, c.len2, &held));
    EXPECT_FALSE(held);
    ASSERT_TRUE(a->TryLock(c.start1, c.len1, c.kind1)) << LastError().text;
    // An open's own locks never keep it out.
    ASSERT_TRUE(a->OthersHold(c.start1, c.len1, &held));
    EXPECT_FALSE(held);
    ASSERT_TRUE(reader->OthersHold(c.start1, c.len1, &held));
    EXPECT_TRUE(held);
    EXPECT_EQ(b->TryLock(c.start2, c.len2, c.kind2), c.secondTakes);
    if (!c.secondTakes) {
      EXPECT_EQ(LastError().kind, Fail::Busy);
      ASSERT_TRUE(a->Unlock(c.start1, c.len1));
      EXPECT_TRUE(b->TryLock(c.start2, c.len2, c.kind2));
    }
  }
}

// A replace goes through while another open reads the target for a moment,
// also when the target was deleted meanwhile (Windows keeps the name of a
// deleted file taken until its last open closes).
TEST(OsSeam, ReplaceOverAFileReadForAMoment) {
  for (const bool deleted : {false, true}) {
    SCOPED_TRACE(deleted ? "deleted while read" : "read");
    Scratch dir;
    const std::string fresh = dir / "new", target = dir / "tags";
    Put(fresh, "new");
    Put(target, "old");
    auto reader = OpenAs(target, Access::Read, Disposition::OpenExisting);
    ASSERT_TRUE(reader);
    if (deleted) {
      ASSERT_TRUE(Os().Remove(target)) << LastError().text;
    }
    std::thread closer([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      reader.reset();
    });
    EXPECT_TRUE(Os().RenameReplace(fresh, target)) << LastError().text;
    closer.join();
    EXPECT_EQ(Content(target), "new");
  }
}

// Mapped by name, or through an open that holds the file without sharing
// (closed again at once: the mapping keeps its own hold).
TEST(OsSeam, MappingOfAFileThatMustStayTheSame) {
  Scratch dir;
  const std::string path = dir / "ORDER.TXT";
  std::string bytes(300000, 'x');
  for (size_t i = 0; i < bytes.size(); i += 7) bytes[i] = static_cast<char>('a' + i % 26);
  Put(path, bytes);
  FileInfo info;
  ASSERT_TRUE(Os().Stat(path, true, &info));
  FileInfo grown = info, other = info;
  grown.size += 1;
  other.id += 1;

  using MapFn = std::function<std::unique_ptr<Mapping>(const std::string&, const FileInfo&)>;
  const struct {
    const char* what;
    MapFn map;
  } ways[] = {
      {"by name", [](const std::string& p, const FileInfo& e) { return Os().MapReadOnly(p, e); }},
      {"through the held file",
       [](const std::string& p, const FileInfo& e) -> std::unique_ptr<Mapping> {
         OpenRequest how;
         how.exclusive = true;
         auto held = Os().Open(p, how);
         return held ? held->MapReadOnly(e) : nullptr;
       }},
  };
  for (const auto& way : ways) {
    SCOPED_TRACE(way.what);
    EXPECT_FALSE(way.map(path, grown));
    EXPECT_FALSE(way.map(path, other));
    EXPECT_FALSE(way.map(dir / "none", info));
    EXPECT_EQ(LastError().kind, Fail::NotFound);
    {
      // A file someone writes could be shortened under the mapping: it is read instead.
      auto writer = OpenAs(path, Access::ReadWrite, Disposition::OpenExisting);
      ASSERT_TRUE(writer);
      EXPECT_FALSE(way.map(path, info));
    }
    auto map = way.map(path, info);
    ASSERT_TRUE(map) << LastError().text;
    ASSERT_EQ(map->Size(), bytes.size());
    map->Populate();
    map->Release(0, 200000);  // given back, read in again on access
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(map->Data()), map->Size()), bytes);
    EXPECT_FALSE(map->Damaged());
    // Writers are held off while it is mapped.
    EXPECT_FALSE(OpenAs(path, Access::ReadWrite, Disposition::OpenExisting));
    EXPECT_EQ(LastError().kind, Fail::Busy);
    map.reset();
    EXPECT_TRUE(OpenAs(path, Access::ReadWrite, Disposition::OpenExisting)) << "still held after the mapping went";
  }
}

}  // namespace
