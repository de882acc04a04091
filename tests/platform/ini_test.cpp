#include "platform/ini.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/error.h"
#include "platform/file.h"
#include "platform/os.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

class Ini : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = dir_ + "/test.ini";
  }

  void Put(const std::string& bytes) { vvtest::WriteFile(file_, bytes); }
  std::string Get() const { return vvtest::ReadFile(file_); }
  std::string Read(const std::string& sec, const std::string& key) {
    return plat::IniReadString(file_, sec, key, "<def>");
  }

  vvtest::TempDir temp_;
  std::string dir_ = temp_.path(), file_;
};

TEST_F(Ini, NamesMatchRegardlessOfCaseAndValuesStayAsTyped) {
  Put("[Paths]\r\nSource=C:\\ORDERS\\IN\r\n  desko  =  C:\\Kavlo Desko\\  \r\n[FILES]\r\nQuery=a;b=c \"q\"\r\n");
  EXPECT_EQ(Read("Paths", "Source"), "C:\\ORDERS\\IN");
  EXPECT_EQ(Read("PATHS", "SOURCE"), "C:\\ORDERS\\IN");
  EXPECT_EQ(Read("paths", "Desko"), "C:\\Kavlo Desko\\");
  EXPECT_EQ(Read("Files", "query"), "a;b=c \"q\"");
  EXPECT_EQ(Read("Files", "Source"), "<def>");
  EXPECT_EQ(Read("Other", "Source"), "<def>");
  EXPECT_EQ(plat::IniReadString(dir_ + "/missing.ini", "Paths", "Source", "d"), "d");
}

TEST_F(Ini, LfCrlfDuplicatesCommentsAndStrayLines) {
  Put("Top=1\n; [Keys]\n[ Keys ]\n;Key1=9\nKey1\nKey1=3\nkey1=4\n[Other]\nKey2=x\n[keys]\nKey1=5\nKey2=6\r\n[Bad\nKey3=7");
  EXPECT_EQ(Read("", "Top"), "<def>");      // keys before any section belong to none
  EXPECT_EQ(Read("Keys", "Key1"), "3");     // first wins; comment and bare name do not count
  EXPECT_EQ(Read("Keys", "Key2"), "6");     // a repeated section is still searched
  EXPECT_EQ(Read("Keys", "Key3"), "7");     // "[Bad" is no header; last line without line end
  EXPECT_EQ(Read("Other", "Key2"), "x");
  auto keys = plat::IniReadSection(file_, "KEYS");
  std::vector<std::pair<std::string, std::string>> want = {{"Key1", "3"}, {"Key2", "6"}, {"Key3", "7"}};
  EXPECT_EQ(keys, want);
  EXPECT_TRUE(plat::IniReadSection(file_, "None").empty());
}

TEST_F(Ini, WholeNumbers) {
  const std::pair<const char*, int> cases[] = {
      {"7", 7},          {"  7  ", 7},       {"+7", 7},         {"-3", -3},        {"007", 7},
      {"0", 0},          {"2147483647", INT_MAX}, {"-2147483648", INT_MIN},
      {"2147483648", -99}, {"99999999999999999999", -99}, {"12abc", -99}, {"abc", -99},
      {"", -99},         {"-", -99},         {"1.5", -99},      {"0x10", -99},     {"1 2", -99}};
  for (const auto& [text, want] : cases) {
    Put(std::string("[Direct To Eltron Setup]\nPort=") + text + "\n");
    EXPECT_EQ(plat::IniReadInteger(file_, "direct to eltron setup", "port", -99), want) << '"' << text << '"';
  }
  EXPECT_EQ(plat::IniReadInteger(file_, "Direct To Eltron Setup", "Missing", 1), 1);
}

TEST_F(Ini, ReplaceInPlaceKeepsEveryOtherByte) {
  const std::string before = "; settings\r\n\r\n[Paths]\r\nDESKO = C:\\OLD\r\nSource=C:\\IN\r\n\r\n[Files]\r\nQuery=x.qry\r\n";
  Put(before);
  plat::IniWriteString(file_, "paths", "Desko", "D:\\NEW");
  EXPECT_EQ(Get(), "; settings\r\n\r\n[Paths]\r\nDESKO = D:\\NEW\r\nSource=C:\\IN\r\n\r\n[Files]\r\nQuery=x.qry\r\n");
  plat::IniWriteString(file_, "Files", "Query", "");
  EXPECT_EQ(Read("Files", "Query"), "");
  EXPECT_NE(Get().find("Query=\r\n"), std::string::npos);
}

TEST_F(Ini, NewKeyEndsItsSectionNewSectionEndsTheFile) {
  Put("[A]\nx=1\n; note on B\n\n[B]\ny=2\n");
  plat::IniWriteString(file_, "a", "z", "3");
  plat::IniWriteInteger(file_, "C", "Key1", -4);
  plat::IniWriteString(file_, "B", "w", "5");
  EXPECT_EQ(Get(), "[A]\nx=1\nz=3\n; note on B\n\n[B]\ny=2\nw=5\n[C]\nKey1=-4\n");
  EXPECT_EQ(plat::IniReadInteger(file_, "c", "KEY1", 0), -4);
}

TEST_F(Ini, ByteOrderMarkIsSkippedAndKept) {
  Put("\xEF\xBB\xBF[Paths]\r\nDesko=C:\\K\r\n");
  EXPECT_EQ(Read("Paths", "Desko"), "C:\\K");
  plat::IniWriteString(file_, "Paths", "Source", "S");
  EXPECT_EQ(Get(), "\xEF\xBB\xBF[Paths]\r\nDesko=C:\\K\r\nSource=S\r\n");
}

TEST_F(Ini, NewFileAndFileWithoutFinalLineEnd) {
  plat::IniWriteString(file_, "Paths", "Desko", "C:\\K");
  EXPECT_EQ(Get(), "[Paths]\r\nDesko=C:\\K\r\n");
  Put("[Paths]\nDesko=1");
  plat::IniWriteString(file_, "Paths", "Source", "2");
  EXPECT_EQ(Get(), "[Paths]\nDesko=1\nSource=2\n");
  Put("[Paths]");
  plat::IniWriteString(file_, "Paths", "Source", "2");
  EXPECT_EQ(Get(), "[Paths]\r\nSource=2\r\n");
}

TEST_F(Ini, ValueWithLineBreakCannotPlantKeys) {
  plat::IniWriteString(file_, "S", "K", "a\r\n[Evil]\r\nX=1");
  EXPECT_EQ(Read("S", "K"), "a");
  EXPECT_EQ(Read("Evil", "X"), "<def>");
}

TEST_F(Ini, EraseSectionRemovesAllItsCopiesOnly) {
  Put("[Keys]\nKey1=1\n\n[Other]\nA=1\n[KEYS]\nKey2=2\n; c\n[Last]\nB=2");
  plat::IniEraseSection(file_, "keys");
  EXPECT_EQ(Get(), "[Other]\nA=1\n[Last]\nB=2");
  EXPECT_EQ(Read("Keys", "Key2"), "<def>");
  plat::IniEraseSection(dir_ + "/none.ini", "Keys");  // nothing to erase: no file made
  EXPECT_FALSE(fs::exists(dir_ + "/none.ini"));
}

TEST_F(Ini, MalformedFilesNeverCrash) {
  std::string garbage;
  for (int i = 0; i < 5000; ++i) garbage += static_cast<char>((i * 7919) % 256);
  const std::string longLine(1 << 20, 'x');
  const std::string files[] = {
      garbage,
      std::string("[Keys]\0Key1=1\nKey2=\0" "2\n", 22),
      "[Keys]\nKey1=" + longLine + "\n[" + longLine,
      "[[[]]]===\n=\n[\n]\n[Keys\n",
      "\r\r\r\n\n\r",
  };
  for (const std::string& content : files) {
    Put(content);
    (void)Read("Keys", "Key1");
    (void)plat::IniReadInteger(file_, "Keys", "Key2", 0);
    (void)plat::IniReadSection(file_, "Keys");
    plat::IniWriteString(file_, "Keys", "Key9", "9");
    EXPECT_EQ(Read("Keys", "Key9"), "9");
    EXPECT_GE(Get().size(), content.size() + 7);  // nothing of the old bytes was lost
    plat::IniEraseSection(file_, "Keys");
    EXPECT_EQ(Read("Keys", "Key9"), "<def>");
  }
  Put("[Keys]\nKey1=" + longLine + "\n");
  EXPECT_EQ(Read("Keys", "Key1"), longLine);
}

#ifndef _WIN32
// Permission bits and symbolic links are POSIX's.
TEST_F(Ini, WriteReplacesAtomicallyAndKeepsModeAndLinks) {
  Put("[S]\nK=1\n");
  chmod(file_.c_str(), 0640);
  const std::string link = dir_ + "/link.ini";
  fs::create_symlink(file_, link);
  plat::IniWriteString(link, "S", "K", "2");
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(Get(), "[S]\nK=2\n");
  struct stat st;
  ASSERT_EQ(stat(file_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  // Only the two names remain: no temporary file is left behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);
}

#endif

TEST_F(Ini, UnwritableFileRaisesTheMessage) {
  const std::string asFolder = dir_ + "/folder.ini";
  fs::create_directory(asFolder);
  const std::string inMissing = dir_ + "/no/such/x.ini";
  for (const std::string& f : {asFolder, inMissing, std::string("Q:\\NOWHERE\\x.ini")}) {
    try {
      plat::IniWriteString(f, "S", "K", "v");
      ADD_FAILURE() << "no error for " << f;
    } catch (const plat::Error& e) {
      EXPECT_EQ(std::string(e.what()), "Unable to write to " + f);
    }
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(Ini, BackslashPathsAndDriveLetters) {
  plat::SetDriveMap({{'K', dir_}});
  if (plat::os::kWindowsNames) {
    // The drive letters are the system's own: the map leads nowhere.
    const std::string native = plat::NativePath(dir_ + "/test.ini");
    ASSERT_EQ(native.substr(1, 2), ":\\");
    plat::IniWriteString(native, "S", "K", "v");
    EXPECT_EQ(Read("S", "K"), "v");
    EXPECT_EQ(plat::IniReadString("K:\\test.ini", "S", "K", "none"), "none");
    plat::SetDriveMap({});
    return;
  }
  plat::IniWriteString("k:\\test.ini", "S", "K", "v");
  EXPECT_EQ(Read("S", "K"), "v");
  EXPECT_EQ(plat::IniReadString(dir_ + "\\test.ini", "s", "k", ""), "v");
  plat::SetDriveMap({});
  EXPECT_EQ(plat::IniReadString("K:\\test.ini", "S", "K", "none"), "none");
}

}  // namespace
