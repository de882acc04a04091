// The scratch folders and file helpers every test stands on.
#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

TEST(TestSupport, TempDirsAreDistinctAndLeaveNothingBehind) {
  std::string first, second;
  {
    vvtest::TempDir a, b;
    first = a.path();
    second = b.path();
    EXPECT_NE(first, second);
    // A tree a test might leave: nested folders, a read-only file, a folder
    // stripped of its rights.
    const std::string locked = a.Sub("x/y/locked");
    ASSERT_TRUE(vvtest::WriteFile(locked + "/f", "bytes"));
    fs::permissions(locked + "/f", fs::perms::owner_read, fs::perm_options::replace);
    fs::permissions(locked, fs::perms::none, fs::perm_options::replace);
  }
  EXPECT_FALSE(vvtest::Exists(first));
  EXPECT_FALSE(vvtest::Exists(second));
}

TEST(TestSupport, FileHelpersReportWhatIsThere) {
  vvtest::TempDir dir;
  EXPECT_EQ(vvtest::ReadFile(dir / "missing"), "");
  EXPECT_THROW(vvtest::ReadFileOrThrow(dir / "missing"), std::runtime_error);
  EXPECT_FALSE(vvtest::WriteFile(dir / "no/such/folder/f", "x"));
  EXPECT_THROW(vvtest::WriteFileOrThrow(dir / "no/such/folder/f", "x"), std::runtime_error);

  const std::string bytes("a\0\r\n\x1a", 5);
  ASSERT_TRUE(vvtest::WriteFile(dir / "b.cdx", bytes));
  EXPECT_EQ(vvtest::ReadFileOrThrow(dir / "b.cdx"), bytes);
  ASSERT_TRUE(vvtest::WriteFile(dir / "b.cdx", "shorter"));  // truncates
  EXPECT_EQ(vvtest::ReadFile(dir / "b.cdx"), "shorter");

  // A copy of a read-only fixture is writable and replaces what was there.
  ASSERT_TRUE(vvtest::WriteFile(dir / "a.dbf", "fixture"));
  fs::permissions(dir / "a.dbf", fs::perms::owner_read, fs::perm_options::replace);
  ASSERT_TRUE(vvtest::CopyFile(dir / "a.dbf", dir / "b.cdx"));
  EXPECT_EQ(vvtest::ReadFile(dir / "b.cdx"), "fixture");
  EXPECT_NE(fs::status(dir / "b.cdx").permissions() & fs::perms::owner_write, fs::perms::none);
  EXPECT_FALSE(vvtest::CopyFile(dir / "missing", dir / "c"));

  dir.Sub("sub.dbf");
  EXPECT_EQ(vvtest::ListDir(dir.path()), (std::vector<std::string>{"a.dbf", "b.cdx", "sub.dbf"}));
  EXPECT_EQ(vvtest::ListDir(dir.path(), ".dbf"), (std::vector<std::string>{"a.dbf", "sub.dbf"}));
  EXPECT_EQ(vvtest::ListDir(dir / "missing"), std::vector<std::string>{});

  // A link to nothing still takes the name.
  std::error_code ec;
  fs::create_symlink(dir / "missing", dir / "dangling", ec);
  if (!ec) {
    EXPECT_TRUE(vvtest::Exists(dir / "dangling"));
  }
}

}  // namespace
