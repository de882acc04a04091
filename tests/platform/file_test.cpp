#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>  // mkfifo
#endif

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/file.h"
#include "platform/os.h"
#include "tests/support/files.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

std::string Slurp(const std::string& path) { return vvtest::ReadFile(path); }

class Files : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  void Put(const std::string& name, const std::string& bytes) { vvtest::WriteFile(Path(name), bytes); }
  vvtest::TempDir temp_;
  std::string dir_ = temp_.path();
};

TEST_F(Files, BufferedReadsAndWritesKeepEveryByte) {
  std::string data;
  for (int i = 0; i < 300000; ++i) data += static_cast<char>((i * 31 + i / 7) & 0xFF);
  auto f = plat::CreateFile(Path("big"));
  ASSERT_NE(f, nullptr);
  // Chunks of every size from 1 byte to well past the buffer.
  const size_t sizes[] = {1, 2, 3, 1000, 65535, 1, 70000, 7};
  size_t pos = 0;
  for (size_t k = 0; pos < data.size(); ++k) {
    size_t n = std::min(sizes[k % 8], data.size() - pos);
    ASSERT_TRUE(f->Write(data.data() + pos, n));
    pos += n;
  }
  EXPECT_EQ(f->Size(), static_cast<int64_t>(data.size()));
  ASSERT_TRUE(f->Close());
  EXPECT_EQ(Slurp(Path("big")), data);

  auto r = plat::OpenFile(Path("big"), plat::OpenMode::Read);
  ASSERT_NE(r, nullptr);
  std::string back;
  char buf[70001];
  for (size_t k = 0;; ++k) {
    size_t got = r->Read(buf, sizes[(k + 3) % 8]);
    if (got == 0) break;
    back.append(buf, got);
  }
  EXPECT_EQ(back, data);
  ASSERT_TRUE(r->Seek(299999));
  ASSERT_EQ(r->Read(buf, 10), 1u);
  EXPECT_EQ(buf[0], data[299999]);
  EXPECT_FALSE(r->Write("x", 1));  // opened for reading only
  EXPECT_TRUE(r->Close());
}

// Read and write system calls of this process so far (-1 when not counted).
// Windows keeps no such count; under an emulation of it the Linux count holds
// the emulation's own calls, so it is not taken there.
std::pair<long, long> SysCalls() {
  if (plat::os::kWindowsNames) return {-1, -1};
  std::ifstream in("/proc/self/io");
  std::string name;
  long v, r = -1, w = -1;
  while (in >> name >> v) {
    if (name == "syscr:") r = v;
    if (name == "syscw:") w = v;
  }
  return {r, w};
}

TEST_F(Files, ByteAtATimeDoesNotMeanCallAtATime) {
  if (SysCalls().first < 0) GTEST_SKIP() << "no I/O accounting";
  auto w = plat::CreateFile(Path("bytes"));
  ASSERT_NE(w, nullptr);
  auto before = SysCalls();
  for (int i = 0; i < 200000; ++i) ASSERT_TRUE(w->Write(&i, 1));
  ASSERT_TRUE(w->Close());
  EXPECT_LT(SysCalls().second - before.second, 20);
  auto r = plat::OpenFile(Path("bytes"), plat::OpenMode::Read);
  ASSERT_NE(r, nullptr);
  before = SysCalls();
  char c;
  int n = 0;
  while (r->Read(&c, 1) == 1) ++n;
  EXPECT_EQ(n, 200000);
  EXPECT_LT(SysCalls().first - before.first, 20);
}

// Gathered writes land between the buffered writes around them, empty pieces
// included, and take few system calls however many pieces they have.
TEST_F(Files, GatheredWritesKeepOrder) {
  if (SysCalls().first < 0) GTEST_SKIP() << "no I/O accounting";
  std::string data;
  for (int i = 0; i < 200000; ++i) data += static_cast<char>('a' + i % 23);
  auto f = plat::CreateFile(Path("gather"));
  ASSERT_NE(f, nullptr);
  ASSERT_TRUE(f->Write(data.data(), 10));
  std::vector<plat::Piece> pieces;
  size_t pos = 10;
  for (size_t k = 0; pos < data.size() - 5; ++k) {
    const size_t n = std::min<size_t>(k % 7 * 13, data.size() - 5 - pos);  // every 7th piece is empty
    pieces.push_back({data.data() + pos, n});
    pos += n;
  }
  ASSERT_GT(pieces.size(), 3000u);
  const auto before = SysCalls();
  ASSERT_TRUE(f->WriteGather(pieces.data(), pieces.size()));
  EXPECT_LT(SysCalls().second - before.second, 10);
  ASSERT_TRUE(f->Write(data.data() + pos, 5));
  ASSERT_TRUE(f->Close());
  EXPECT_EQ(Slurp(Path("gather")), data);
}

// Handing written bytes to the disk early neither moves the position nor
// loses buffered bytes, also after a seek back behind what was handed over.
TEST_F(Files, WriteBackHintsChangeNothing) {
  auto f = plat::CreateFile(Path("hinted"));
  ASSERT_NE(f, nullptr);
  f->StartWriteBack();  // nothing written yet
  ASSERT_TRUE(f->Write("abc", 3));
  f->StartWriteBack();
  const plat::Piece pieces[] = {{"def", 3}, {"", 0}, {"ghij", 4}};
  ASSERT_TRUE(f->WriteGather(pieces, 3));
  f->StartWriteBack();
  ASSERT_TRUE(f->Seek(1));
  ASSERT_TRUE(f->Write("X", 1));
  f->StartWriteBack();
  ASSERT_TRUE(f->Seek(10));
  ASSERT_TRUE(f->Write("k", 1));
  ASSERT_TRUE(f->Sync());
  ASSERT_TRUE(f->Close());
  EXPECT_EQ(Slurp(Path("hinted")), "aXcdefghijk");
}

TEST_F(Files, ReadWriteInterleavedSeekTruncate) {
  Put("rw", "0123456789");
  auto f = plat::OpenFile(Path("rw"), plat::OpenMode::ReadWrite);
  ASSERT_NE(f, nullptr);
  char b[4] = {};
  ASSERT_EQ(f->Read(b, 3), 3u);
  EXPECT_EQ(std::string(b, 3), "012");
  ASSERT_TRUE(f->Write("ab", 2));      // lands right after what was read
  ASSERT_EQ(f->Read(b, 2), 2u);        // and reading goes on after it
  EXPECT_EQ(std::string(b, 2), "56");
  ASSERT_TRUE(f->Seek(0));
  ASSERT_TRUE(f->Write("Z", 1));
  ASSERT_TRUE(f->Seek(12));            // past the end: the gap reads as zeros
  ASSERT_TRUE(f->Write("E", 1));
  EXPECT_EQ(f->Size(), 13);
  ASSERT_TRUE(f->Truncate(4));
  EXPECT_EQ(f->Size(), 4);
  ASSERT_TRUE(f->Sync());
  ASSERT_TRUE(f->Close());
  EXPECT_FALSE(f->Close());
  EXPECT_EQ(Slurp(Path("rw")), "Z12a");

  auto w = plat::OpenFile(Path("rw"), plat::OpenMode::WriteOnly);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->Read(b, 1), 0u);        // opened for writing only
  ASSERT_TRUE(w->Write("Q", 1));       // writes from the first byte, no shortening
  ASSERT_TRUE(w->Close());
  EXPECT_EQ(Slurp(Path("rw")), "Q12a");
}

TEST_F(Files, OpeningNeverCreatesCreateTruncates) {
  EXPECT_EQ(plat::OpenFile(Path("none"), plat::OpenMode::ReadWrite), nullptr);
  EXPECT_EQ(plat::OpenExclusive(Path("none"), plat::OpenMode::WriteOnly), nullptr);
  EXPECT_FALSE(fs::exists(Path("none")));
  EXPECT_EQ(plat::OpenFile(dir_, plat::OpenMode::Read), nullptr);  // a folder is no file
  Put("t", "old content");
  auto f = plat::CreateFile(Path("t"));
  ASSERT_NE(f, nullptr);
  ASSERT_TRUE(f->Close());
  EXPECT_EQ(Slurp(Path("t")), "");
}

TEST_F(Files, CloseReportsFailedWrites) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  auto f = plat::OpenFile("/dev/full", plat::OpenMode::WriteOnly);
  ASSERT_NE(f, nullptr);
  (void)f->Write("abc", 3);  // buffered; the failure shows at the flush
  EXPECT_FALSE(f->Close());
}

TEST_F(Files, KindsOfNames) {
  Put("file", "x");
  fs::create_directory(Path("dir"));
  struct Case {
    std::string path;
    bool exists, regular, directory;
  };
  std::vector<Case> cases = {
      {Path("file"), true, true, false}, {dir_ + "\\file", true, true, false},
      {Path("dir"), true, false, true},  {Path("missing"), false, false, false},
  };
#ifndef _WIN32
  // Symbolic links, FIFOs and /dev are POSIX's.
  fs::create_symlink(Path("file"), Path("link"));
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
  cases.push_back({Path("link"), true, false, false});
  cases.push_back({Path("fifo"), true, false, false});
  cases.push_back({"/dev/null", true, false, false});
#endif
  for (const Case& c : cases) {
    EXPECT_EQ(plat::FileExists(c.path), c.exists) << c.path;
    EXPECT_EQ(plat::IsRegularFile(c.path), c.regular) << c.path;
    EXPECT_EQ(plat::DirectoryExists(c.path), c.directory) << c.path;
  }
#ifndef _WIN32
  EXPECT_FALSE(plat::CreateEmptyFile(Path("fifo")));  // no reader: must not hang
#endif
  EXPECT_FALSE(plat::CreateEmptyFile(Path("dir")));
  EXPECT_TRUE(plat::CreateEmptyFile(Path("file")));   // kept as it is
  EXPECT_EQ(Slurp(Path("file")), "x");
  EXPECT_TRUE(plat::CreateEmptyFile(Path("new")));
  EXPECT_TRUE(plat::IsRegularFile(Path("new")));

  EXPECT_TRUE(plat::RenameReplace(Path("file"), Path("new")));
  EXPECT_EQ(Slurp(Path("new")), "x");
  EXPECT_FALSE(plat::FileExists(Path("file")));
  EXPECT_FALSE(plat::RenameReplace(Path("file"), Path("new")));
  EXPECT_TRUE(plat::DeleteFile(Path("new")));
  EXPECT_FALSE(plat::DeleteFile(Path("new")));
  EXPECT_FALSE(plat::DeleteFile(Path("dir")));
}

// A second process that holds a file (see lockholder_helper.cpp).
class Holder {
 public:
  Holder(const std::string& how, const std::string& path)
      : process_({VV_HELPER_lockholder_helper, how, path}), ready_(process_.ReadLine() == "ready") {}
  bool Ready() const { return ready_; }
  // Closes its input: the helper lets go and ends. Returns its exit status.
  int Release() {
    process_.CloseInput();
    return process_.Wait();
  }

 private:
  vvtest::Process process_;
  bool ready_;
};

TEST_F(Files, ExclusiveOpenAgainstAnotherProcess) {
  Put("doc", "label");
  const std::string doc = Path("doc");
  for (const char* how : {"write", "read", "exclusive", "lock"}) {
    Holder h(how, doc);
    ASSERT_TRUE(h.Ready()) << how;
    EXPECT_EQ(plat::OpenExclusive(doc, plat::OpenMode::ReadWrite), nullptr) << how;
    EXPECT_EQ(plat::OpenExclusive(doc, plat::OpenMode::WriteOnly), nullptr) << how;
    EXPECT_EQ(plat::OpenExclusive(doc, plat::OpenMode::Read), nullptr) << how;
    EXPECT_EQ(h.Release(), 0);
    auto f = plat::OpenExclusive(doc, plat::OpenMode::ReadWrite);
    ASSERT_NE(f, nullptr) << "after " << how << " let go";
    char b[5];
    EXPECT_EQ(f->Read(b, 5), 5u);
  }
  // And the other way round: while we hold it, the other process is kept out.
  auto mine = plat::OpenExclusive(doc, plat::OpenMode::ReadWrite);
  ASSERT_NE(mine, nullptr);
  Holder h("exclusive", doc);
  EXPECT_FALSE(h.Ready());
  EXPECT_EQ(h.Release(), 1);
  mine.reset();
  Holder h2("exclusive", doc);
  EXPECT_TRUE(h2.Ready());
}

TEST_F(Files, ExclusiveOpenWithinThisProgram) {
  Put("doc", "x");
  const std::string doc = Path("doc");
  auto a = plat::OpenExclusive(doc, plat::OpenMode::ReadWrite);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(plat::OpenExclusive(doc, plat::OpenMode::WriteOnly), nullptr);
  ASSERT_TRUE(a->Close());
  a.reset();
  EXPECT_NE(plat::OpenExclusive(doc, plat::OpenMode::Read), nullptr);  // closing let go
  auto plain = plat::OpenFile(doc, plat::OpenMode::Read);  // any other open counts
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(plat::OpenExclusive(doc, plat::OpenMode::ReadWrite), nullptr);
  plain.reset();
  EXPECT_NE(plat::OpenExclusive(doc, plat::OpenMode::ReadWrite), nullptr);
}

}  // namespace
