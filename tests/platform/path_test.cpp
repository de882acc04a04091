#include <errno.h>
#include <gtest/gtest.h>

#include "platform/file.h"
#include "platform/os.h"

namespace {

struct DriveMapGuard {
  explicit DriveMapGuard(const std::map<char, std::string>& m) { plat::SetDriveMap(m); }
  ~DriveMapGuard() { plat::SetDriveMap({}); }
};

TEST(Path, NativePathTranslatesSeparatorsAndDrives) {
  DriveMapGuard g({{'C', "/srv/c"}, {'d', "/mnt/d/"}, {'R', "/"}});
  const std::pair<const char*, const char*> cases[] = {
      {"C:\\KAVLO\\LABELS\\0001.LBL", "/srv/c/KAVLO/LABELS/0001.LBL"},
      {"c:\\Kavlo/Mixed\\x", "/srv/c/Kavlo/Mixed/x"},
      {"C:\\\\KAVLO\\\\X", "/srv/c/KAVLO/X"},
      {"C:", "/srv/c/"},
      {"C:\\", "/srv/c/"},
      {"C:X", "/srv/c/X"},
      {"D:\\DATA", "/mnt/d/DATA"},           // lower-case key, trailing "/" on the folder
      {"R:\\etc", "/etc"},
      {"E:\\KAVLO\\X", ""},                  // unmapped drive: nothing
      {"/tmp/a\\b", "/tmp/a/b"},
      {"\\tmp\\a", "/tmp/a"},
      {"rel\\name.txt", "rel/name.txt"},
      {"name.txt", "name.txt"},
      {"", ""},
  };
  for (const auto& [in, want] : cases) EXPECT_EQ(plat::NativePath(in), want) << in;
  EXPECT_EQ(plat::GetDriveMap().size(), 3u);
  EXPECT_EQ(plat::GetDriveMap().at('D'), "/mnt/d/");
}

TEST(Path, NoDriveMapMeansNoDriveExists) {
  plat::SetDriveMap({});
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
