// The fault-injection seam, and the file and ini layers under every fault.
#include "tests/support/fault.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <sys/sysmacros.h>
#endif

#include <algorithm>
#include <cerrno>
#include <functional>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/error.h"
#include "platform/file.h"
#include "platform/ini.h"
#include "platform/os.h"
#include "tests/fault_points.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

class Faults : public ::testing::Test {
 protected:
  void TearDown() override { plat::ResetFaults(); }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  static void Put(const std::string& file, const std::string& bytes) { vvtest::WriteFile(file, bytes); }
  static std::string Get(const std::string& file) { return vvtest::ReadFile(file); }
  // Files of the folder other than the given ones (temporary files left behind).
  std::vector<std::string> Others(const std::vector<std::string>& known) const {
    std::vector<std::string> out;
    for (const auto& n : vvtest::ListDir(dir_)) {
      if (std::find(known.begin(), known.end(), n) == known.end()) out.push_back(n);
    }
    return out;
  }
  // Writes bytes through the file layer; false when any step reported failure.
  bool WriteThrough(const std::string& file, const std::string& bytes) {
    auto f = plat::CreateFile(file);
    if (!f) return false;
    bool ok = true;
    // The first half buffered, the rest as one gathered write of more pieces
    // than one system call takes.
    const size_t half = bytes.size() / 2;
    for (size_t i = 0; i < half; i += 50000) ok = f->Write(bytes.data() + i, std::min<size_t>(50000, half - i)) && ok;
    std::vector<plat::Piece> pieces;
    for (size_t i = half; i < bytes.size(); i += 100) pieces.push_back({bytes.data() + i, std::min<size_t>(100, bytes.size() - i)});
    ok = f->WriteGather(pieces.data(), pieces.size()) && ok;
    ok = f->Sync() && ok;
    return f->Close() && ok;
  }

  vvtest::TempDir temp_;
  std::string dir_ = temp_.path();
};

TEST_F(Faults, CountsCallsAndFailsExactlyTheArmedOne) {
  const std::string f = Path("a");
  Put(f, "x");
  // Unarmed: nothing is counted and nothing fails.
  EXPECT_TRUE(plat::DeleteFile(f));
  EXPECT_EQ(plat::FaultCalls(plat::Op::Delete), 0);

  plat::CountFaults();
  for (int i = 0; i < 3; ++i) {
    Put(f, "x");
    EXPECT_TRUE(plat::DeleteFile(f));
  }
  EXPECT_EQ(plat::FaultCalls(plat::Op::Delete), 3);
  EXPECT_EQ(plat::FaultCalls(plat::Op::Rename), 0);
  EXPECT_FALSE(plat::FaultFired());

  plat::FailAt(plat::Op::Delete, 2);
  std::vector<bool> results;
  for (int i = 0; i < 4; ++i) {
    Put(f, "x");
    errno = 0;
    results.push_back(plat::DeleteFile(f));
    if (!results.back()) {
      EXPECT_EQ(errno, EIO);
      EXPECT_TRUE(fs::exists(f)) << "a failed delete must leave the file";
    }
  }
  EXPECT_EQ(results, (std::vector<bool>{true, false, true, true}));
  EXPECT_TRUE(plat::FaultFired());

  plat::FailAt(plat::Op::Delete, 2, /*sticky=*/true);
  results.clear();
  for (int i = 0; i < 4; ++i) {
    Put(f, "x");
    results.push_back(plat::DeleteFile(f));
  }
  EXPECT_EQ(results, (std::vector<bool>{true, false, false, false}));

  plat::ResetFaults();
  EXPECT_TRUE(plat::DeleteFile(f));
  EXPECT_FALSE(plat::FaultFired());
  EXPECT_EQ(plat::FaultCalls(plat::Op::Delete), 0);
}

// The sample Windows runs: every kind (and the sticky writes) still met, at
// its first and its last call, and about the number asked for of each.
TEST(FaultSample, KeepsEveryKindAndItsEnds) {
  using plat::Op;
  struct Case {
    std::vector<std::pair<Op, long>> calls;  // calls of each kind
    size_t perKind;
  };
  const Case cases[] = {
      {{{Op::Open, 6}, {Op::Read, 29}, {Op::Write, 20}, {Op::Flush, 9}, {Op::Rename, 1}, {Op::Lock, 2}}, 6},
      {{{Op::Read, 1000}, {Op::Write, 7}}, 3},
      {{{Op::Delete, 5}}, 5},
  };
  for (const Case& c : cases) {
    std::vector<faults::Point> all;
    for (const auto& [op, n] : c.calls)
      for (long i = 1; i <= n; ++i) {
        all.push_back({op, i, false});
        if (op == Op::Write) all.push_back({op, i, true});
      }
    const auto kept = faults::Sample(all, c.perKind);
    for (const auto& [op, n] : c.calls) {
      for (bool sticky : {false, true}) {
        if (sticky && op != Op::Write) continue;
        SCOPED_TRACE(std::string(plat::OpName(op)) + (sticky ? " onwards" : ""));
        std::vector<long> at;
        for (const auto& p : kept)
          if (p.op == op && p.sticky == sticky) at.push_back(p.n);
        ASSERT_FALSE(at.empty());
        EXPECT_TRUE(std::is_sorted(at.begin(), at.end()));
        EXPECT_EQ(at.front(), 1);
        EXPECT_EQ(at.back(), n);
        EXPECT_LE(at.size(), c.perKind + 2);
        EXPECT_GE(at.size(), std::min<size_t>(static_cast<size_t>(n), c.perKind));
      }
    }
  }
  // Elsewhere nothing is left out.
  EXPECT_TRUE(faults::Kept(3, 40, 8, false));
}

TEST_F(Faults, EveryKindReachesTheFileLayer) {
  const std::string a = Path("a"), b = Path("b");
  struct Case {
    plat::Op op;
    std::function<bool()> call;  // true when the call succeeded
  };
  const std::vector<Case> cases = {
      {plat::Op::Open, [&] { return plat::OpenFile(a, plat::OpenMode::Read) != nullptr; }},
      {plat::Op::Open, [&] { return plat::CreateFile(b) != nullptr; }},
      {plat::Op::Open, [&] { return plat::CreateEmptyFile(b); }},
      {plat::Op::Read, [&] {
         auto f = plat::OpenFile(a, plat::OpenMode::Read);
         char c;
         return f && f->Read(&c, 1) == 1;
       }},
      {plat::Op::Write, [&] {
         auto f = plat::CreateFile(b);
         return f && f->Write("xy", 2) && f->Close();
       }},
      {plat::Op::Write, [&] {
         auto f = plat::OpenFile(b, plat::OpenMode::ReadWrite);
         return f && f->Truncate(0);
       }},
      {plat::Op::Flush, [&] {
         auto f = plat::CreateFile(b);
         return f && f->Sync();
       }},
      {plat::Op::Rename, [&] { return plat::RenameReplace(a, b) && plat::RenameReplace(b, a); }},
      {plat::Op::Delete, [&] { return plat::DeleteFile(b); }},
      {plat::Op::Lock, [&] { return plat::OpenExclusive(a, plat::OpenMode::ReadWrite) != nullptr; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(plat::OpName(c.op));
    Put(a, "abc");
    Put(b, "def");
    EXPECT_TRUE(c.call());
    Put(b, "def");
    plat::FailAt(c.op, 1);
    EXPECT_FALSE(c.call());
    EXPECT_TRUE(plat::FaultFired());
    plat::ResetFaults();
  }
}

// Through the seam itself: a fired fault does nothing and reports the kind a
// caller acts on (a full disk for writes, a held lock for locks).
TEST_F(Faults, SeamCallsFailAsTheOsWould) {
  namespace os = plat::os;
  const std::string a = Path("a"), b = Path("b");
  auto open = [](const std::string& p, os::Access access, bool exclusive = false) {
    os::OpenRequest how;
    how.access = access;
    how.exclusive = exclusive;
    return os::Os().Open(p, how);
  };
  struct Case {
    plat::Op op;
    os::Fail kind;
    std::function<bool(os::File&)> call;  // on a of "abc", opened to read and write
  };
  char buf[8];
  size_t got = 0;
  bool held = false;
  os::FileInfo info;
  const std::vector<Case> cases = {
      {plat::Op::Open, os::Fail::Other, [&](os::File&) { return !!open(b, os::Access::Read); }},
      {plat::Op::Open, os::Fail::Other, [&](os::File& f) { return f.Info(&info) && !!os::Os().MapReadOnly(a, info); }},
      {plat::Op::Lock, os::Fail::Busy, [&](os::File&) { return !!open(b, os::Access::ReadWrite, true); }},
      {plat::Op::Read, os::Fail::Other, [&](os::File& f) { return f.ReadAt(0, buf, 3, &got); }},
      {plat::Op::Write, os::Fail::NoSpace, [&](os::File& f) { return f.WriteAt(0, "xyz", 3); }},
      {plat::Op::Write, os::Fail::NoSpace, [&](os::File& f) { return f.Truncate(0); }},
      {plat::Op::Flush, os::Fail::Other, [&](os::File& f) { return f.Sync(); }},
      {plat::Op::Flush, os::Fail::Other, [&](os::File&) { return os::Os().SyncFolder(dir_); }},
      {plat::Op::Lock, os::Fail::Busy, [&](os::File& f) { return f.TryLock(os::kLockTop, 1, os::LockKind::Exclusive); }},
      {plat::Op::Lock, os::Fail::Busy, [&](os::File& f) { return f.OthersHold(os::kLockTop, 1, &held); }},
      {plat::Op::Rename, os::Fail::Other, [&](os::File&) { return os::Os().RenameReplace(b, Path("c")); }},
      {plat::Op::Delete, os::Fail::Other, [&](os::File&) { return os::Os().Remove(b); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(plat::OpName(c.op));
    Put(a, "abc");
    Put(b, "def");
    plat::FailAt(c.op, c.op == plat::Op::Open ? 2 : 1);  // opening a is Open #1
    auto f = open(a, os::Access::ReadWrite);
    ASSERT_TRUE(f);
    EXPECT_FALSE(c.call(*f));
    EXPECT_TRUE(plat::FaultFired());
    EXPECT_EQ(os::LastError().kind, c.kind);
    plat::ResetFaults();
    f.reset();
    EXPECT_EQ(Get(a), "abc");
    EXPECT_EQ(Get(b), "def");
  }
  EXPECT_EQ(&plat::os::Os(), &plat::os::RealOs()) << "ResetFaults leaves the wrapper installed";
}

// A failed write, flush or close is never reported as success by the file layer.
TEST_F(Faults, FileWritesReportEveryFailure) {
  const std::string f = Path("out");
  std::string bytes;
  for (int i = 0; i < 300000; ++i) bytes += static_cast<char>('a' + i % 26);
  bool ok = false;
  const int fired = faults::ForEachPoint(
      [&] { fs::remove(f); }, [&] { ok = WriteThrough(f, bytes); },
      [&](const faults::Point&, bool hit) {
        if (hit) {
          EXPECT_FALSE(ok) << "failure reported as success";
        } else {
          EXPECT_TRUE(ok && Get(f) == bytes);
        }
      });
  EXPECT_GT(fired, 4);
  faults::Figure("file layer write injection points", fired);
}

// Ini writes replace the whole file at once: under any single failure the
// file holds either its old or its new content, other keys included, the
// failure is raised (a failed sync of the file or of its folder too), and no
// temporary file stays behind.
TEST_F(Faults, IniWritesAreAllOrNothing) {
  const std::string ini = Path("Settings.ini");
  const std::string old = "; kept comment\r\n[Paths]\r\nDesko=C:\\OLD\r\nSource=C:\\IN\r\n[Ports]\r\nLPT1=/dev/usb/lp0\r\n";
  struct Change {
    const char* what;
    std::function<void()> write;
  };
  const std::vector<Change> changes = {
      {"change a key", [&] { plat::IniWriteString(ini, "Paths", "Desko", "C:\\NEW"); }},
      {"add a key", [&] { plat::IniWriteString(ini, "Files", "Query", "C:\\Q.QRY"); }},
      {"write a number", [&] { plat::IniWriteInteger(ini, "Keys", "Key1", 6); }},
      {"erase a section", [&] { plat::IniEraseSection(ini, "Ports"); }},
  };
  int total = 0, folderSyncs = 0;
  for (const Change& c : changes) {
    SCOPED_TRACE(c.what);
    Put(ini, old);
    c.write();
    const std::string expected = Get(ini);
    ASSERT_NE(expected, old);
    std::string error;
    total += faults::ForEachPoint(
        [&] { Put(ini, old); },
        [&] {
          error.clear();
          try {
            c.write();
          } catch (const plat::Error& e) {
            error = e.what();
          }
        },
        [&](const faults::Point& p, bool hit) {
          const std::string now = Get(ini);
          EXPECT_TRUE(now == old || now == expected) << now;
          if (hit) {
            EXPECT_EQ(error, "Unable to write to " + ini);
            // Only the folder's sync comes after the rename: the new content
            // is in place then but not known durable, so the save fails.
            const bool folderSync = p.op == plat::Op::Flush && p.n == 2;
            folderSyncs += folderSync ? 1 : 0;
            EXPECT_EQ(now, folderSync ? expected : old);
          } else {
            EXPECT_EQ(now, expected);
          }
          if (p.op != plat::Op::Delete) {
            EXPECT_EQ(Others({"Settings.ini"}), std::vector<std::string>{});
          }
        });
  }
  EXPECT_GE(total, 20);
  EXPECT_EQ(folderSyncs, static_cast<int>(changes.size())) << "the folder is not synced after the rename";
  faults::Figure("ini write injection points", total);
}

// A settings file that cannot be read whole must not be rewritten from what
// little was read: every other setting in it would be lost.
TEST_F(Faults, UnreadableIniIsNotRewritten) {
  const std::string ini = Path("Settings.ini");
  const std::string old = "[Paths]\r\nDesko=C:\\OLD\r\n[Ports]\r\nLPT1=/dev/usb/lp0\r\n";
  for (plat::Op op : {plat::Op::Open, plat::Op::Read}) {
    SCOPED_TRACE(plat::OpName(op));
    Put(ini, old);
    plat::FailAt(op, 1);
    EXPECT_THROW(plat::IniWriteString(ini, "Paths", "Source", "C:\\IN"), plat::Error);
    plat::ResetFaults();
    EXPECT_EQ(Get(ini), old);
  }
  // A missing file is simply created.
  fs::remove(ini);
  plat::IniWriteString(ini, "Paths", "Source", "C:\\IN");
  EXPECT_EQ(plat::IniReadString(ini, "Paths", "Source", ""), "C:\\IN");
}

// Without sharing means a plain file: a FIFO or device is never taken.
TEST_F(Faults, ExclusiveOpenTakesOnlyPlainFiles) {
#ifdef _WIN32
  EXPECT_EQ(plat::OpenExclusive("NUL", plat::OpenMode::ReadWrite), nullptr);
#else
  const std::string fifo = Path("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(plat::OpenExclusive(fifo, plat::OpenMode::ReadWrite), nullptr);
  const std::string dev = Path("null");
  ASSERT_EQ(mknod(dev.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
  EXPECT_EQ(plat::OpenExclusive(dev, plat::OpenMode::ReadWrite), nullptr);
#endif
  EXPECT_EQ(plat::OpenExclusive(dir_, plat::OpenMode::Read), nullptr);
  Put(Path("plain"), "x");
  EXPECT_NE(plat::OpenExclusive(Path("plain"), plat::OpenMode::ReadWrite), nullptr);
}

}  // namespace
