#include <errno.h>
#include <gtest/gtest.h>

#include "platform/file.h"
#include "platform/os.h"

namespace {

struct DriveMapGuard {
  explicit DriveMapGuard(const std::map<char, std::string>& m) { plat::SetDriveMap(m); }
  ~DriveMapGuard() { plat::SetDriveMap({}); }
};

// Elsewhere the drive letters go through the map; on Windows they are the
// system's own drives and only "/" becomes a backslash.
TEST(Path, NativePathTranslatesSeparatorsAndDrives) {
  DriveMapGuard g({{'C', "/srv/c"}, {'d', "/mnt/d/"}, {'R', "/"}});
  struct Case {
    const char* in;
    const char* mapped;
    const char* windows;
  };
  const Case cases[] = {
      {"C:\\KAVLO\\LABELS\\0001.LBL", "/srv/c/KAVLO/LABELS/0001.LBL", "C:\\KAVLO\\LABELS\\0001.LBL"},
      {"c:\\Kavlo/Mixed\\x", "/srv/c/Kavlo/Mixed/x", "c:\\Kavlo\\Mixed\\x"},
      {"C:\\\\KAVLO\\\\X", "/srv/c/KAVLO/X", "C:\\\\KAVLO\\\\X"},
      {"C:", "/srv/c/", "C:"},
      {"C:\\", "/srv/c/", "C:\\"},
      {"C:X", "/srv/c/X", "C:X"},
      {"D:\\DATA", "/mnt/d/DATA", "D:\\DATA"},           // lower-case key, trailing "/" on the folder
      {"R:\\etc", "/etc", "R:\\etc"},
      {"E:\\KAVLO\\X", "", "E:\\KAVLO\\X"},      // unmapped drive: nothing
      {"/tmp/a\\b", "/tmp/a/b", "\\tmp\\a\\b"},
      {"\\tmp\\a", "/tmp/a", "\\tmp\\a"},
      {"\\\\server\\share/x", "/server/share/x", "\\\\server\\share\\x"},  // a share's two stay on Windows
      {"rel\\name.txt", "rel/name.txt", "rel\\name.txt"},
      {"name.txt", "name.txt", "name.txt"},
      {"", "", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(plat::NativePath(c.in), plat::os::kWindowsNames ? c.windows : c.mapped) << c.in;
  EXPECT_EQ(plat::GetDriveMap().size(), 3u);
  EXPECT_EQ(plat::GetDriveMap().at('D'), "/mnt/d/");
}

TEST(Path, NoDriveMapMeansNoDriveExists) {
  plat::SetDriveMap({});
  if (plat::os::kWindowsNames) {
    // No map is needed: the drive of the program's own folder is there.
    const std::string exe = plat::ExeFolder();
    ASSERT_GE(exe.size(), 3u);
    const std::string root = exe.substr(0, 3);
    EXPECT_EQ(plat::NativePath(root + "KAVLO"), root + "KAVLO");
    EXPECT_TRUE(plat::FileExists(root));
    EXPECT_TRUE(plat::DirectoryExists(root));
    return;
  }
  EXPECT_EQ(plat::NativePath("C:\\KAVLO"), "");
  EXPECT_FALSE(plat::FileExists("C:\\"));
  EXPECT_FALSE(plat::DirectoryExists("C:\\"));
  EXPECT_EQ(plat::OpenFile("C:\\x", plat::OpenMode::Read), nullptr);
  EXPECT_FALSE(plat::CreateEmptyFile("C:\\x"));
}

TEST(Path, ExtractFileDirKeepsRoots) {
  const std::pair<const char*, const char*> cases[] = {
      {"C:\\KAVLO\\ORDER.TXT", "C:\\KAVLO"}, {"C:\\ORDER.TXT", "C:\\"}, {"\\ORDER.TXT", "\\"},
      {"/tmp/x/ORDER.TXT", "/tmp/x"},      {"/ORDER.TXT", "/"},       {"a/b\\c", "a/b"},
      {"ORDER.TXT", ""},                    {"", ""},                  {"C:\\KAVLO\\", "C:\\KAVLO"}};
  for (const auto& [in, want] : cases) EXPECT_EQ(plat::ExtractFileDir(in), want) << in;
}

TEST(Path, ExeFolderHoldsTheTestProgram) {
  std::string dir = plat::ExeFolder();
  ASSERT_FALSE(dir.empty());
  EXPECT_NE(dir.back(), '/');
  EXPECT_TRUE(plat::DirectoryExists(dir));
  EXPECT_TRUE(plat::IsRegularFile(dir + "\\test_platform" + (plat::os::kWindowsNames ? ".exe" : "")));
}

}  // namespace
