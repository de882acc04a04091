// What callers of the OS seam build on beyond single calls, alike on every OS:
// one open's locks merge and convert in place, another process's hold keeps
// this one out, and 8-bit names survive the trip through the system.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/os.h"
#include "tests/support/process.h"

namespace {

namespace fs = std::filesystem;
using plat::os::Access;
using plat::os::Disposition;
using plat::os::Fail;
using plat::os::File;
using plat::os::LockKind;
using plat::os::OpenRequest;
using plat::os::Os;

class SeamAcrossOpens : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() / (std::string("vv_seam_") + info->name() + "_" +
                                         std::to_string(reinterpret_cast<uintptr_t>(this)));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    file_ = Path("t.dat");
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  std::string Path(const std::string& name) const { return plat::os::JoinPath(dir_.string(), name); }

  std::unique_ptr<File> Open(Access access, Disposition disposition = Disposition::OpenExisting,
                             bool exclusive = false, bool append = false) {
    OpenRequest how;
    how.access = access;
    how.disposition = disposition;
    how.exclusive = exclusive;
    how.append = append;
    return Os().Open(file_, how);
  }
  std::unique_ptr<File> Create() { return Open(Access::ReadWrite, Disposition::CreateOrTruncate); }

  std::string ReadAll() {
    auto f = Open(Access::Read);
    EXPECT_TRUE(f);
    if (!f) return {};
    std::string s(4096, '\0');
    size_t got = 0;
    EXPECT_TRUE(f->ReadAt(0, s.data(), s.size(), &got));
    s.resize(got);
    return s;
  }

  fs::path dir_;
  std::string file_;
};

// Within one open: taking a held lock again, converting it, and unlocking
// any range behave the same on every OS.
TEST_F(SeamAcrossOpens, OneOpensLocksMergeAndConvertInPlace) {
  Create();
  auto a = Open(Access::ReadWrite);
  auto b = Open(Access::ReadWrite);
  ASSERT_TRUE(a && b);
  const uint64_t r = plat::os::kLockTop - 10;
  bool held = true;

  ASSERT_TRUE(a->TryLock(r, 1, LockKind::Shared));
  ASSERT_TRUE(a->TryLock(r, 1, LockKind::Shared));
  ASSERT_TRUE(a->TryLock(r, 1, LockKind::Exclusive));  // up, nobody else there
  ASSERT_TRUE(a->OthersHold(r, 1, &held));
  EXPECT_FALSE(held);  // its own lock is no other's
  EXPECT_FALSE(b->TryLock(r, 1, LockKind::Shared));
  ASSERT_TRUE(a->TryLock(r, 1, LockKind::Shared));  // down
  EXPECT_TRUE(b->TryLock(r, 1, LockKind::Shared));
  // Up refused while another shares it; the shared lock stays.
  EXPECT_FALSE(a->TryLock(r, 1, LockKind::Exclusive));
  EXPECT_EQ(plat::os::LastError().kind, Fail::Busy);
  ASSERT_TRUE(b->Unlock(r, 1));
  EXPECT_FALSE(b->TryLock(r, 1, LockKind::Exclusive));
  ASSERT_TRUE(a->Unlock(r, 1));
  ASSERT_TRUE(a->Unlock(r, 1));  // nothing held: still fine
  ASSERT_TRUE(b->TryLock(r, 1, LockKind::Exclusive));
  ASSERT_TRUE(b->Unlock(r, 1));

  // A wide unlock frees everything inside; a narrow one keeps the rest.
  ASSERT_TRUE(a->TryLock(r, 4, LockKind::Exclusive));
  ASSERT_TRUE(a->TryLock(r + 6, 1, LockKind::Exclusive));
  ASSERT_TRUE(a->Unlock(r + 1, 2));
  EXPECT_TRUE(b->TryLock(r + 1, 2, LockKind::Exclusive));
  EXPECT_FALSE(b->TryLock(r, 1, LockKind::Exclusive));
  EXPECT_FALSE(b->TryLock(r + 3, 1, LockKind::Exclusive));
  ASSERT_TRUE(b->OthersHold(r, 8, &held));
  EXPECT_TRUE(held);
  ASSERT_TRUE(a->Unlock(r - 100, 200));
  ASSERT_TRUE(b->OthersHold(r, 8, &held));
  EXPECT_FALSE(held);
}

// 8-bit names go to the system and come back unchanged, and a name and its
// open file tell the same identity.
TEST_F(SeamAcrossOpens, EightBitNamesAndIdentity) {
  const std::string name = "Z\xFCrich \xB1.txt";  // Windows-1252: u-umlaut, plus-minus
  file_ = Path(name);
  {
    auto f = Create();
    ASSERT_TRUE(f && f->Write("x", 1));
  }
  std::vector<std::string> names;
  ASSERT_TRUE(Os().ListFolder(dir_.string(), &names));
  EXPECT_EQ(names, std::vector<std::string>{name});

  plat::os::FileInfo byName, byHandle;
  ASSERT_TRUE(Os().Stat(file_, true, &byName));
  auto f = Open(Access::Read);
  ASSERT_TRUE(f && f->Info(&byHandle));
  EXPECT_EQ(byName.device, byHandle.device);
  EXPECT_EQ(byName.id, byHandle.id);
  EXPECT_EQ(ReadAll(), "x");
  f.reset();
  ASSERT_TRUE(Os().Remove(file_));
  EXPECT_FALSE(Os().Stat(file_, true, &byName));
  EXPECT_EQ(plat::os::LastError().kind, Fail::NotFound);
}

// What another process holds keeps this one out, and only while it holds it.
TEST_F(SeamAcrossOpens, AnotherProcessHoldsTheFileOrItsBytes) {
  Create();
  const uint64_t rec = plat::os::kLockTop - 3;
  const std::string start = std::to_string(rec);
  struct Case {
    std::vector<std::string> hold;  // the helper's arguments after the path
    bool exclusiveOpen, plainOpen, sharedLock, exclusiveLock, othersHold;
  };
  // Windows keeps every other open out of a file held without sharing; POSIX
  // systems let plain opens in but lock the whole file against them.
  const bool plainOpensOfHeld = !plat::os::kWindowsNames;
  const Case cases[] = {
      {{"exclusive"}, false, plainOpensOfHeld, false, false, true},
      {{"open"}, false, true, true, true, false},
      {{"shared", start, "1"}, false, true, true, false, true},
      {{"locked", start, "1"}, false, true, false, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hold[0]);
    std::vector<std::string> argv = {VV_HELPER_lockholder_helper, c.hold[0], file_};
    argv.insert(argv.end(), c.hold.begin() + 1, c.hold.end());
    {
      vvtest::Process helper(argv);
      ASSERT_EQ(helper.ReadLine(), "ready");
      EXPECT_EQ(static_cast<bool>(Open(Access::ReadWrite, Disposition::OpenExisting, true)), c.exclusiveOpen);
      auto reader = Open(Access::ReadWrite);
      EXPECT_EQ(static_cast<bool>(reader), c.plainOpen);
      if (reader) {
        bool held = false;
        ASSERT_TRUE(reader->OthersHold(rec, 1, &held));
        EXPECT_EQ(held, c.othersHold);
        EXPECT_EQ(reader->TryLock(rec, 1, LockKind::Shared), c.sharedLock);
        ASSERT_TRUE(reader->Unlock(rec, 1));
        EXPECT_EQ(reader->TryLock(rec, 1, LockKind::Exclusive), c.exclusiveLock);
      }
      reader.reset();
      helper.CloseInput();
      EXPECT_EQ(helper.Wait(), 0);
    }
    EXPECT_TRUE(Open(Access::ReadWrite, Disposition::OpenExisting, true));  // all let go
  }
}

}  // namespace
