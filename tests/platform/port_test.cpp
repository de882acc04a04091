#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>  // mkfifo
#endif

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <string>

#include "platform/file.h"
#include "platform/os.h"
#include "platform/port.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// A scratch folder with a settings file naming the ports.
struct PortDir : vvtest::TempDir {
  std::string Ini(const std::string& body) const {
    vvtest::WriteFile(*this / "Vadoviver.ini", body);
    return *this / "Vadoviver.ini";
  }
};

std::string ReadAll(const std::string& f) { return vvtest::ReadFile(f); }

TEST(PortDevicePath, SettingsEntryElseParallelDevice) {
  PortDir dir;
  const std::string ini = dir.Ini("[Paths]\nDesko=x\n[ports]\nlpt1=/dev/usb/lp0\nLPT3 = " + (dir / "out.prn") +
                                  "\n");
  const bool win = plat::os::kWindowsNames;
  EXPECT_EQ(plat::PortDevicePath("LPT1", ini), win ? "\\dev\\usb\\lp0" : "/dev/usb/lp0");
  EXPECT_EQ(plat::PortDevicePath("LPT3", ini), plat::NativePath(dir / "out.prn"));
  EXPECT_EQ(plat::PortDevicePath("LPT2", ini), win ? "\\\\.\\LPT2" : "/dev/lp1");
  EXPECT_EQ(plat::PortDevicePath("LPT12", ""), win ? "\\\\.\\LPT12" : "/dev/lp11");
  EXPECT_EQ(plat::PortDevicePath("LPT2", dir / "missing.ini"), win ? "\\\\.\\LPT2" : "/dev/lp1");
  // No device stands for these.
  EXPECT_EQ(plat::PortDevicePath("LPT0", ini), "");
  EXPECT_EQ(plat::PortDevicePath("LPT-1", ini), "");
  EXPECT_EQ(plat::PortDevicePath("COM1", ini), "");
  EXPECT_EQ(plat::PortDevicePath("LPT", ini), "");
}

TEST(OpenPort, FilePortKeepsEveryDocumentInOrder) {
  PortDir dir;
  const std::string out = dir / "port.prn";
  std::ofstream(out) << "";
  const std::string ini = dir.Ini("[Ports]\nLPT2=" + out + "\n");
  std::string big(200000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  for (const std::string& doc : {std::string("^XA first\r\n"), big}) {
    auto port = plat::OpenPort("LPT2", ini);
    ASSERT_NE(port, nullptr);
    // Byte by byte for the small one, one large write for the big one.
    if (doc.size() < 100) {
      for (char c : doc) ASSERT_TRUE(port->Write(&c, 1));
    } else {
      ASSERT_TRUE(port->Write(doc.data(), doc.size()));
    }
    ASSERT_TRUE(port->Close());
  }
  EXPECT_EQ(ReadAll(out), "^XA first\r\n" + big);
}

#ifndef _WIN32
// FIFOs are POSIX's.
TEST(OpenPort, FifoWithReaderGetsTheBytes) {
  PortDir dir;
  const std::string fifo = dir / "lp.fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string ini = dir.Ini("[Ports]\nLPT1=" + fifo + "\n");
  auto reader = std::async(std::launch::async, [&] { return ReadAll(fifo); });
  // The reader opens the FIFO in its own time; retry until it is there.
  std::unique_ptr<plat::Port> port;
  for (int i = 0; i < 500 && !port; ++i) {
    port = plat::OpenPort("LPT1", ini);
    if (!port) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_NE(port, nullptr);
  std::string doc(100000, 'z');
  doc[0] = 'a';
  ASSERT_TRUE(port->Write(doc.data(), doc.size()));
  ASSERT_TRUE(port->Close());
  EXPECT_EQ(reader.get(), doc);
}

#endif

TEST(OpenPort, FailuresAreReported) {
  PortDir dir;
  const std::string ini =
      dir.Ini("[Ports]\nLPT1=" + (dir / "noreader.fifo") + "\nLPT2=" + (dir / "absent.prn") +
              "\nLPT3=/dev/full\nLPT4=" + dir.path() + "\n");
  // A missing file is not created.
  EXPECT_EQ(plat::OpenPort("LPT2", ini), nullptr);
  EXPECT_FALSE(fs::exists(dir / "absent.prn"));
  // A folder is no port.
  EXPECT_EQ(plat::OpenPort("LPT4", ini), nullptr);
  EXPECT_EQ(plat::OpenPort("LPT0", ini), nullptr);
#ifndef _WIN32
  // A FIFO nobody reads fails at once instead of hanging.
  ASSERT_EQ(mkfifo((dir / "noreader.fifo").c_str(), 0600), 0);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(plat::OpenPort("LPT1", ini), nullptr);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  // A device that takes no bytes fails the write or the close.
  auto port = plat::OpenPort("LPT3", ini);
  ASSERT_NE(port, nullptr);
  const std::string doc = "label";
  bool ok = port->Write(doc.data(), doc.size());
  ok = port->Close() && ok;
  EXPECT_FALSE(ok);
#endif
}

}  // namespace
