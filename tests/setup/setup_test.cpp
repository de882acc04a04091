#include "setup/uSetup.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/error.h"
#include "platform/file.h"
#include "platform/ini.h"
#include "platform/os.h"
#include "platform/printing.h"
#include "setup/TableAccess.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

class Setup : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(dir_ + "/prog");
    fs::create_directory(dir_ + "/host");
    prog_ = dir_ + "/prog";
    host_ = dir_ + "/host";
    Printers({}, false);
  }
  void TearDown() override {
    plat::SetPrinting(nullptr);
    plat::SetDriveMap({});
  }
  void Printers(std::vector<std::string> names, bool hasDefault) {
    plat::SetPrinting(plat::MakeFixedPrinterList(std::move(names), hasDefault));
  }
  static void Put(const std::string& path, const std::string& bytes) { vvtest::WriteFile(path, bytes); }
  static std::string Get(const std::string& path) { return vvtest::ReadFile(path); }
  void PointToHost() { Put(prog_ + "/Vadoviver.ini", "[Paths]\r\nDesko=" + host_ + "\r\n"); }

  vvtest::TempDir temp_;
  std::string dir_ = temp_.path(), prog_, host_;
};

TEST_F(Setup, FirstStartWithoutSettingsFile) {
  TSetup s(prog_ + "/");
  EXPECT_EQ(s.IniFileName, prog_ + "\\Vadoviver.ini");
  EXPECT_EQ(s.HostPath, prog_);
  EXPECT_EQ(s.SourcePath, prog_);
  EXPECT_EQ(s.ResultPath, "");
  EXPECT_EQ(s.QueryFile, "");
  EXPECT_EQ(s.DataPath, "");
  EXPECT_EQ(s.MultiShipperPath, "");
  EXPECT_EQ(s.RatingPath, "");
  EXPECT_EQ(s.PackagePrinter, PrinterNone);
  EXPECT_EQ(s.CommInvoicePrinter, PrinterNone);
  EXPECT_EQ(s.KeyentryPrinter, PrinterNone);
  EXPECT_EQ(s.EltronPort, 1);
  EXPECT_FALSE(fs::exists(prog_ + "/Vadoviver.ini"));  // reading writes nothing
  s.Save();
  EXPECT_EQ(Get(prog_ + "/Vadoviver.ini"),
            "[Paths]\r\nDesko=" + prog_ + "\r\nSource=" + prog_ + "\r\nResult=\r\n[Files]\r\nQuery=\r\n");
}

TEST_F(Setup, ReadsHostSettings) {
  PointToHost();
  Put(host_ + "/Mondarix.ini",
      "[System Directories]\nData=C:\\KAVLO\\DATA\nMulti-Shipper=C:\\KAVLO\\MS\nRating=C:\\KAVLO\\RATE\n"
      "[Printer Setup]\nPackagePrinter=Windows Default\nCommInvoicePrinter=Direct To Eltron\n"
      "KeyentryPrinter=Label 2\n[Direct To Eltron Setup]\nPort=2\n");
  Printers({"Label 1", "Label 2"}, true);
  TSetup s(prog_);
  EXPECT_EQ(s.HostPath, host_);
  EXPECT_EQ(s.DataPath, "C:\\KAVLO\\DATA");
  EXPECT_EQ(s.MultiShipperPath, "C:\\KAVLO\\MS");
  EXPECT_EQ(s.RatingPath, "C:\\KAVLO\\RATE");
  EXPECT_EQ(s.PackagePrinter, PrinterDefault);
  EXPECT_EQ(s.CommInvoicePrinter, PrinterEltron);
  EXPECT_EQ(s.KeyentryPrinter, 1);
  EXPECT_EQ(s.EltronPort, 2);
}

TEST_F(Setup, ResolvePrinter) {
  struct Case {
    std::vector<std::string> printers;
    bool hasDefault;
    std::string text;
    int32_t want;
  } cases[] = {
      {{"A", "B"}, true, "Windows Default", PrinterDefault},
      {{}, false, "Windows Default", PrinterNone},           // no printer installed
      {{}, true, "Windows Default", PrinterNone},
      {{"A"}, false, "Windows Default", PrinterNone},        // printers, but no default among them
      {{"A", "windows default"}, true, "windows default", 1},  // not the keyword: a name
      {{"A"}, true, "windows default", PrinterNone},
      {{"A"}, true, "Windows Default ", PrinterNone},
      {{}, false, "Direct To Eltron", PrinterEltron},
      {{"A"}, true, "direct to eltron", PrinterNone},
      {{"A", "B", "B"}, true, "B", 1},                       // first of equal names
      {{"A", "B"}, true, "b", PrinterNone},
      {{"A", "B"}, true, "C", PrinterNone},
      {{"A", ""}, true, "", 1},                              // a printer with an empty name
      {{"A"}, true, "", PrinterNone},
  };
  for (const Case& c : cases) {
    Printers(c.printers, c.hasDefault);
    TSetup s(prog_);
    EXPECT_EQ(s.ResolvePrinter(c.text), c.want) << '"' << c.text << "\" among " << c.printers.size();
  }
}

TEST_F(Setup, EltronPortValues) {
  PointToHost();
  const std::pair<const char*, int32_t> cases[] = {
      {nullptr, 1}, {"", 1}, {"LPT2", 1}, {"two", 1}, {"2", 2}, {" 3 ", 3}, {"2x", 1}};
  for (const auto& [value, want] : cases) {
    Put(host_ + "/Mondarix.ini",
        value ? std::string("[Direct To Eltron Setup]\r\nPort=") + value + "\r\n" : "[Direct To Eltron Setup]\r\n");
    TSetup s(prog_);
    EXPECT_EQ(s.EltronPort, want) << (value ? value : "(missing)");
  }
}

TEST_F(Setup, LowerCaseWindowsDefaultInHostFile) {
  PointToHost();
  Put(host_ + "/Mondarix.ini", "[printer setup]\npackageprinter=windows default\n");
  Printers({"HP", "windows default"}, true);
  EXPECT_EQ(TSetup(prog_).PackagePrinter, 1);
  Printers({"HP"}, true);
  EXPECT_EQ(TSetup(prog_).PackagePrinter, PrinterNone);
}

TEST_F(Setup, SaveThenCreateReadsTheSameAndKeepsOtherSections) {
  Put(prog_ + "/Vadoviver.ini", "[Drives]\nC=" + host_ + "\n[Ports]\nLPT1=/dev/usb/lp0\n[Paths]\nExtra=keep\n");
  {
    TSetup s(prog_);
    s.HostPath = "C:\\KAVLO";
    s.SourcePath = "C:\\ORDERS\\IN";
    s.ResultPath = "C:\\ORDERS\\OUT";
    s.QueryFile = "C:\\Sorts\\Dock 1.qry";
    s.Save();
  }
  TSetup again(prog_);
  EXPECT_EQ(again.HostPath, "C:\\KAVLO");
  EXPECT_EQ(again.SourcePath, "C:\\ORDERS\\IN");
  EXPECT_EQ(again.ResultPath, "C:\\ORDERS\\OUT");
  EXPECT_EQ(again.QueryFile, "C:\\Sorts\\Dock 1.qry");
  const std::string ini = prog_ + "/Vadoviver.ini";
  EXPECT_EQ(plat::IniReadString(ini, "Ports", "LPT1", ""), "/dev/usb/lp0");
  EXPECT_EQ(plat::IniReadString(ini, "Paths", "Extra", ""), "keep");
  EXPECT_EQ(plat::IniReadString(ini, "Drives", "C", ""), host_);
}

TEST_F(Setup, DriveLettersReachTheHostFolder) {
  fs::create_directories(host_ + "/KAVLO");
  if (plat::os::kWindowsNames) {
    // A drive letter is the drive itself: the host folder is named as it is,
    // and a [Drives] entry left in the settings leads nowhere else.
    const std::string kavlo = plat::NativePath(host_ + "/KAVLO");
    Put(kavlo + "\\Mondarix.ini", "[System Directories]\r\nData=" + kavlo + "\\DATA\r\n");
    Put(prog_ + "/Vadoviver.ini", "[Drives]\nc=" + dir_ + "\n[Paths]\nDesko=" + kavlo + "\n");
    TSetup s(prog_);
    EXPECT_EQ(s.DataPath, kavlo + "\\DATA");
    EXPECT_EQ(plat::NativePath("C:\\KAVLO\\DATA"), "C:\\KAVLO\\DATA");
    return;
  }
  Put(host_ + "/KAVLO/Mondarix.ini", "[System Directories]\r\nData=C:\\KAVLO\\DATA\r\n");
  Put(prog_ + "/Vadoviver.ini", "[Drives]\nc=" + host_ + "\nXY=/nowhere\n[Paths]\nDesko=C:\\KAVLO\n");
  TSetup s(prog_);
  EXPECT_EQ(s.DataPath, "C:\\KAVLO\\DATA");
  EXPECT_EQ(plat::NativePath("C:\\KAVLO\\DATA"), host_ + "/KAVLO/DATA");
  EXPECT_EQ(plat::GetDriveMap().size(), 1u);

  // Without the mapping the same settings name nothing.
  Put(prog_ + "/Vadoviver.ini", "[Paths]\nDesko=C:\\KAVLO\n");
  TSetup t(prog_);
  EXPECT_EQ(t.DataPath, "");
  EXPECT_EQ(plat::NativePath("C:\\KAVLO"), "");
}

TEST_F(Setup, UnwritableSettingsFile) {
  // Root passes permission checks, so the settings file is made a folder.
  fs::create_directory(prog_ + "/Vadoviver.ini");
  TSetup s(prog_);
  EXPECT_EQ(s.HostPath, prog_);
  try {
    s.Save();
    FAIL() << "Save succeeded";
  } catch (const plat::Error& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + prog_ + "\\Vadoviver.ini");
  }
  // A program folder that is not a folder at all.
  Put(dir_ + "/plain", "");
  TSetup t(dir_ + "/plain");
  EXPECT_THROW(t.Save(), plat::Error);
}

TEST(SafeDir, RemovesTrailingSeparatorsButKeepsRoots) {
  const std::pair<const char*, const char*> cases[] = {
      {"C:\\KAVLO\\", "C:\\KAVLO"}, {"C:\\KAVLO\\\\", "C:\\KAVLO"}, {"C:\\KAVLO", "C:\\KAVLO"},
      {"C:\\", "C:\\"},             {"C:\\\\/", "C:\\"},             {"c:/", "c:/"},
      {"\\", "\\"},                 {"/", "/"},                     {"///", "/"},
      {"/opt/vv/", "/opt/vv"},      {"rel\\", "rel"},               {"", ""},
      {"C:", "C:"},                 {"C:x\\", "C:x"},               {" C:\\A\\ ", " C:\\A\\ "}};
  for (const auto& [in, want] : cases) EXPECT_EQ(SafeDir(in), want) << in;
}

}  // namespace
