#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cctype>
#include <chrono>
#include <functional>
#include <map>
#include <random>
#include <thread>

#include "engine/preview.h"
#include "engine/uSequncr.h"
#include "platform/file.h"
#include "platform/os.h"
#include "setup/TableAccess.h"
#include "setup/uSetup.h"
#include "shipment_model.h"
#include "test_files.h"
#include "tests/support/process.h"

namespace {

using testfiles::Read;
using testfiles::Write;

// A header line of count fields: "H" first, the given positions, "xN" elsewhere.
std::string Header(const std::map<int, std::string>& f, int count = 80, const std::string& end = "\r\n") {
  std::string s;
  for (int p = 1; p <= count; ++p) {
    if (p > 1) s += ',';
    auto it = f.find(p);
    s += it != f.end() ? it->second : p == 1 ? "H" : "x" + std::to_string(p);
  }
  return s + end;
}

class Sequencing : public ::testing::Test {
 protected:
  testfiles::TempDir dir;
  std::string source = dir / "in";
  std::string result = dir / "ORDER.TXT";
  TProvinceArray provinces;

  bool Run(const std::string& bytes, const TSortOrderArray& order, const std::string& oldResult = "") {
    Write(source, bytes);
    Write(result, oldResult);
    return SequenceShipmentFile(source, result, provinces, order);
  }
  // The blocks of content in the preview's order: what the pass must write,
  // from a reading and sort that go item by item.
  std::string Previewed(const std::string& content, const TSortOrderArray& order) {
    Write(source, content);
    std::vector<TShipmentLine> preview;
    EXPECT_TRUE(PreviewShipmentFile(source, provinces, order, preview));
    std::vector<int64_t> starts;
    for (const auto& l : preview) starts.push_back(l.Origin);
    std::sort(starts.begin(), starts.end());
    std::string out;
    for (const auto& l : preview) {
      const auto next = std::upper_bound(starts.begin(), starts.end(), l.Origin);
      const int64_t end = next == starts.end() ? static_cast<int64_t>(content.size()) : *next;
      out += content.substr(static_cast<size_t>(l.Origin), static_cast<size_t>(end - l.Origin));
    }
    return out;
  }
};

TEST_F(Sequencing, MovesWholeBlocksIntoOrder) {
  const std::string beta = Header({{5, "BETA"}}) + "D,beta detail\r\n";
  const std::string acme = Header({{5, "ACME"}}) + "D,acme 1\r\nD,acme 2\r\n";
  ASSERT_TRUE(Run(beta + acme, {sfCustomerName}));
  EXPECT_EQ(Read(result), acme + beta);
  EXPECT_FALSE(testfiles::Exists(source));
  EXPECT_EQ(testfiles::Names(dir.path()), std::vector<std::string>{"ORDER.TXT"});  // nothing left behind
}

// The result keeps what the user set on it, and no other file of its folder
// is touched or left behind.
TEST_F(Sequencing, ResultKeepsWhatTheUserSet) {
  namespace fs = std::filesystem;
  const std::string beta = Header({{5, "BETA"}}) + "D,b\n", acme = Header({{5, "ACME"}});
  using Names = std::vector<std::string>;
  [[maybe_unused]] auto mode = [](const std::string& f) {
    return static_cast<int>(fs::status(f).permissions() & fs::perms::mask);
  };
  struct Case {
    const char* what;
    std::function<void(const std::string& out)> prepare;  // makes out/ORDER.TXT
    Names names;                                           // of out afterwards
    std::function<void(const std::string& out)> check;
    bool lockedFolder = false;
  } cases[] = {
      {"a user's file under the old temporary name",
       [](const std::string& out) {
         Write(out + "/ORDER.TXT", "old");
         Write(out + "/ORDER.TXT.vvtmp", "mine");
       },
       {"ORDER.TXT", "ORDER.TXT.vvtmp"},
       [](const std::string& out) { EXPECT_EQ(Read(out + "/ORDER.TXT.vvtmp"), "mine"); }},
      {"a second name (hard link)",
       [](const std::string& out) {
         Write(out + "/ORDER.TXT", "old");
         fs::create_hard_link(out + "/ORDER.TXT", out + "/COPY.TXT");
       },
       {"COPY.TXT", "ORDER.TXT"},
       [&](const std::string& out) { EXPECT_EQ(Read(out + "/COPY.TXT"), acme + beta); }},
#ifndef _WIN32  // permission bits, owners, symbolic links and folders closed to new files are POSIX's
      {"mode 0600",
       [](const std::string& out) {
         Write(out + "/ORDER.TXT", "old");
         chmod((out + "/ORDER.TXT").c_str(), 0600);
       },
       {"ORDER.TXT"},
       [&](const std::string& out) { EXPECT_EQ(mode(out + "/ORDER.TXT"), 0600); }},
      {"mode 0664",
       [](const std::string& out) {
         Write(out + "/ORDER.TXT", "old");
         chmod((out + "/ORDER.TXT").c_str(), 0664);
       },
       {"ORDER.TXT"},
       [&](const std::string& out) { EXPECT_EQ(mode(out + "/ORDER.TXT"), 0664); }},
      {"another owner",
       [](const std::string& out) {
         Write(out + "/ORDER.TXT", "old");
         if (geteuid() == 0) {
           ASSERT_EQ(chown((out + "/ORDER.TXT").c_str(), 65534, 65534), 0);
         }
       },
       {"ORDER.TXT"},
       [](const std::string& out) {
         struct stat st {};
         ASSERT_EQ(stat((out + "/ORDER.TXT").c_str(), &st), 0);
         if (geteuid() == 0) {
           EXPECT_EQ(st.st_uid, 65534u);  // only root may give a file away
         }
       }},
      {"a symbolic link into another folder",
       [](const std::string& out) {
         fs::create_directory(out + "/../real");
         Write(out + "/../real/orders.txt", "old");
         fs::create_symlink("../real/orders.txt", out + "/ORDER.TXT");
       },
       {"ORDER.TXT"},
       [](const std::string& out) {
         EXPECT_TRUE(fs::is_symlink(out + "/ORDER.TXT"));
         EXPECT_EQ(testfiles::Names(out + "/../real"), Names{"orders.txt"});
       }},
      {"a folder that takes no new file",
       [](const std::string& out) {
         Write(out + "/ORDER.TXT", std::string(100000, '#'));  // no tail of it stays
         chmod((out + "/ORDER.TXT").c_str(), 0640);
       },
       {"ORDER.TXT"},
       [&](const std::string& out) { EXPECT_EQ(mode(out + "/ORDER.TXT"), 0640); },
       true},
#endif
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string out = dir / ("out" + std::to_string(++n));
    fs::create_directory(out);
    c.prepare(out);
    Write(source, beta + acme);
    {
      std::unique_ptr<testfiles::LockedFolder> locked;
      if (c.lockedFolder) {
        locked = std::make_unique<testfiles::LockedFolder>(out);
        ASSERT_FALSE(locked->TakesNewFiles());
      }
      ASSERT_TRUE(SequenceShipmentFile(source, out + "/ORDER.TXT", provinces, {sfCustomerName}));
    }
    EXPECT_EQ(Read(out + "/ORDER.TXT"), acme + beta);
    EXPECT_FALSE(testfiles::Exists(source));
    EXPECT_EQ(testfiles::Names(out), c.names);
    c.check(out);
  }
}

// Without the zone tables in the host's folder, sorting by zone sorts with no
// zones and creates nothing there.
TEST_F(Sequencing, ZoneSortWithoutZoneTablesCreatesNone) {
  ASSERT_NE(OpenData(), 0);
  TSetup setup(dir / "prog");
  setup.MultiShipperPath = dir.path();
  AppSetup = &setup;
  const std::string b = Header({{5, "B"}, {13, "K1A0B1"}, {14, "ON"}}), a = Header({{5, "A"}, {13, "K1A0B1"}, {14, "ON"}});
  const bool ok = Run(b + a, {sfZoneCode, sfZoneLocation, sfCustomerName});
  AppSetup = nullptr;
  CloseData(AppEngine);
  ASSERT_TRUE(ok);
  EXPECT_EQ(Read(result), a + b);
  EXPECT_EQ(testfiles::Names(dir.path()), std::vector<std::string>{"ORDER.TXT"});
}

TEST_F(Sequencing, DropsLinesBeforeFirstHeaderAndKeepsTiesInFileOrder) {
  const std::string a = Header({{4, "1"}, {13, "K1A0B1"}}) + "D,a\n";
  const std::string b = Header({{4, "2"}, {13, "K1A0B1"}}) + "D,b\n";
  const std::string c = Header({{4, "3"}, {13, "A0A0A0"}});
  ASSERT_TRUE(Run("PRELUDE,1\nD,2\n" + a + b + c, {sfPostalCode}));
  EXPECT_EQ(Read(result), c + a + b);
}

TEST_F(Sequencing, AllDetailLinesGiveEmptyResultAndConsumeSource) {
  ASSERT_TRUE(Run("D,1\nD,2\n", {sfCustomerId}, std::string(5000, 'x')));
  EXPECT_EQ(Read(result), "");
  EXPECT_FALSE(testfiles::Exists(source));
}

TEST_F(Sequencing, LongerOldResultLeavesNoTail) {
  const std::string a = Header({{5, "B"}}), b = Header({{5, "A"}});
  ASSERT_TRUE(Run(a + b, {sfCustomerName}, std::string(100000, '#')));
  EXPECT_EQ(Read(result), b + a);
}

TEST_F(Sequencing, LastLineWithoutLineEndIsCopiedWhole) {
  const std::string a = Header({{5, "Z"}}) + "D,no line end";
  const std::string b = Header({{5, "A"}});
  ASSERT_TRUE(Run(b + a, {sfCustomerName}));
  EXPECT_EQ(Read(result), b + a);
  // Sorted first, it runs straight into the next block's header line.
  const std::string z = Header({{5, "Z"}});
  const std::string last = Header({{5, "A"}}, 80, "");
  ASSERT_TRUE(Run(z + last, {sfCustomerName}));
  EXPECT_EQ(Read(result), last + z);
}

// Header lines with fewer fields never read into the next line, and still
// start their own block.
TEST_F(Sequencing, ShortHeaderLineStopsAtItsLineEnd) {
  const std::string shortLine = "H,x,x,ID1\n";
  const std::string detail = "MMM,x\n";
  const std::string other = Header({{4, "ID2"}, {5, "BBB"}}, 80, "\n");
  ASSERT_TRUE(Run(other + shortLine + detail, {sfCustomerName}));
  EXPECT_EQ(Read(result), shortLine + detail + other);  // its name is empty, not "MMM"

  // Five fields: the skip of positions 6 to 12 must not take the next header line.
  const std::string first = "H,1,2,3,ZZZ\n";
  const std::string second = Header({{5, "AAA"}}, 80, "\n");
  ASSERT_TRUE(Run(first + second, {sfCustomerName}));
  EXPECT_EQ(Read(result), second + first);
}

TEST_F(Sequencing, HeaderEndingAtProvinceCodeGetsProvinceLocation) {
  auto p = std::make_unique<TProvince>();
  p->Country = "CA";
  p->Province = "ON";
  p->Sequence = 6;
  provinces.push_back(std::move(p));
  const std::string endsAt14 = Header({{13, "K1A0B1"}, {14, "ON"}}, 14, "\n");
  const std::string outside = Header({{13, "V1V1V1"}, {14, "ZZ"}}, 80, "\n");
  ASSERT_TRUE(Run(endsAt14 + outside, {sfProvinceLocation}));
  EXPECT_EQ(Read(result), outside + endsAt14);  // "" before "006"
}

TEST_F(Sequencing, FailsTouchingNothing) {
  const std::string content = Header({{5, "B"}}) + Header({{5, "A"}});
  const std::string old = "old result";
  // Result held open by another open of the result file.
  Write(source, content);
  Write(result, old);
  {
    auto holder = plat::OpenExclusive(result, plat::OpenMode::ReadWrite);
    ASSERT_TRUE(holder);
    EXPECT_FALSE(SequenceShipmentFile(source, result, provinces, {sfCustomerName}));
  }
  EXPECT_EQ(Read(source), content);
  EXPECT_EQ(Read(result), old);
  // Source held open.
  {
    auto holder = plat::OpenExclusive(source, plat::OpenMode::ReadWrite);
    ASSERT_TRUE(holder);
    EXPECT_FALSE(SequenceShipmentFile(source, result, provinces, {sfCustomerName}));
  }
  EXPECT_EQ(Read(source), content);
  EXPECT_EQ(Read(result), old);
  // Result missing: it is not created here.
  std::filesystem::remove(result);
  EXPECT_FALSE(SequenceShipmentFile(source, result, provinces, {sfCustomerName}));
  EXPECT_EQ(Read(source), content);
  EXPECT_FALSE(testfiles::Exists(result));
  // Source missing.
  Write(result, old);
  EXPECT_FALSE(SequenceShipmentFile(dir / "none", result, provinces, {sfCustomerName}));
  EXPECT_EQ(Read(result), old);
  // Source and result the same file.
  EXPECT_FALSE(SequenceShipmentFile(source, source, provinces, {sfCustomerName}));
  EXPECT_EQ(Read(source), content);
}

// Random files, well-formed and not, against the plain model.
std::string RandomFile(std::mt19937& rng, bool garbage) {
  static const char* names[] = {"ACME", "beta", "Zed", "", " acme ", "\"Q,R\"", "\"a\"\"b\"", "\xb1x"};
  std::string s;
  if (rng() % 3 == 0) s += "PRELUDE,1\n";
  for (unsigned n = rng() % 30; n > 0; --n) {
    std::map<int, std::string> f;
    for (int pos : {4, 5, 13, 14, 74, 75, 76, 77, 78, 79}) f[pos] = names[rng() % 8];
    if (rng() % 2) f[1] = rng() % 2 ? " h " : "\"H\"";
    s += Header(f, rng() % 4 ? 80 : static_cast<int>(1 + rng() % 80), rng() % 2 ? "\n" : "\r\n");
    for (unsigned d = rng() % 3; d > 0; --d) s += "D," + std::string(names[rng() % 8]) + "\n";
    if (garbage) {
      for (unsigned g = rng() % 8; g > 0; --g) {
        switch (rng() % 6) {
          case 0: s += '\0'; break;
          case 1: s += '\r'; break;
          case 2: s += '"'; break;
          case 3: s += "H,"; break;
          case 4: s += static_cast<char>(rng() % 256); break;
          default: s += '\n';
        }
      }
    }
  }
  if (rng() % 2 && !s.empty()) s.pop_back();  // no line end at the end
  return s;
}

TEST_F(Sequencing, RandomFilesMatchModel) {
  std::mt19937 rng(2024);
  for (int round = 0; round < 300; ++round) {
    const bool garbage = round % 2;
    const std::string content = RandomFile(rng, garbage);
    TSortOrderArray order;
    const TSortField fields[] = {sfCustomerId, sfCustomerName, sfPostalCode, sfProvinceCode,
                                 sfShipmentRef1, sfShipmentRef2, sfPackageRef1, sfPackageRef4};
    for (unsigned k = 1 + rng() % 3; k > 0; --k) order.push_back(fields[rng() % 8]);
    if (round % 3 == 0) {
      order.DescendingMask = rng() % 8;
      order.Reverse = rng() % 2;
    }
    const std::string expected = model::Sequence(content, order);
    // The preview's blocks, in its order, are the result the pass writes.
    ASSERT_EQ(Previewed(content, order), expected) << "round " << round;
    ASSERT_TRUE(Run(content, order)) << "round " << round;
    ASSERT_EQ(Read(result), expected) << "round " << round;
  }
  // Large enough to be read and sorted on two threads, with derived keys
  // (the last of two entries of a code gives its location).
  const std::pair<const char*, int> codes[] = {{"ZED", 3}, {"ACME", 40}, {"ACME", 7}, {"Q,R", 12}};
  for (const auto& [code, sequence] : codes) {
    provinces.push_back(std::make_unique<TProvince>());
    provinces.back()->Province = code;
    provinces.back()->Sequence = sequence;
  }
  std::string big;
  while (big.size() < (8u << 20)) big += RandomFile(rng, true);
  const TSortOrderArray order = {sfProvinceLocation, sfCustomerName, sfPostalCode};
  ASSERT_TRUE(Run(big, order));
  EXPECT_TRUE(Read(result) == model::Sequence(big, order, provinces));
}

// Zone keys on a file large enough to be scanned in parts on two threads,
// whose keys are derived part by part while the host's 3,000 zones load:
// the same result as the preview. Postal codes are range ends and zips of the
// zones (some lower-case), and misses.
TEST_F(Sequencing, LargeFileByZoneMatchesPreview) {
  ASSERT_NE(OpenData(), 0);
  TSetup setup(dir / "prog");
  setup.RatingPath = setup.MultiShipperPath = dir.path();
  AppSetup = &setup;
  for (const char* t : {"Zones", "AreaToZone", "Provinces"})
    for (const char* ext : {".dbf", ".cdx"})
      ASSERT_TRUE(vvtest::CopyFile(std::string(VV_FIXTURES) + "/xbase/medium/" + t + ext, dir / (std::string(t) + ext)));
  std::vector<std::pair<std::string, std::string>> places;  // province code, postal code
  {
    TZoneArray zones;
    LoadZones(zones);
    for (const auto& z : zones)
      for (const auto& e : z->Provinces) {
        places.push_back({e->Province, e->Areas.empty() ? "A1A1A1" : e->Areas[0]});
        if (!e->AreasTo.empty()) places.push_back({e->Province, e->AreasTo.back()});
      }
    FreeZones(zones);
  }
  ASSERT_GT(places.size(), 3000u);
  std::mt19937 rng(11);
  std::string content;
  while (content.size() < (3u << 20)) {
    auto [province, postal] = places[rng() % places.size()];
    if (rng() % 8 == 0)
      for (char& c : postal) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (rng() % 8 == 0) postal = "Q" + postal;
    content += Header({{5, std::to_string(rng() % 90)}, {13, postal}, {14, province}}, 16) + "D,1\r\n";
  }
  TSortOrderArray byZoneDown = {sfZoneCode, sfCustomerName};
  byZoneDown.DescendingMask = 1;
  for (const TSortOrderArray& order : {TSortOrderArray{sfZoneLocation, sfZoneCode, sfPostalCode}, byZoneDown}) {
    LoadPassProvinces(order, provinces);
    const std::string expected = Previewed(content, order);
    ASSERT_TRUE(Run(content, order));
    EXPECT_TRUE(Read(result) == expected);
  }
  AppSetup = nullptr;
  CloseData(AppEngine);
}

TEST_F(Sequencing, BadInput) {
  const std::string longField(3 << 20, 'q');
  struct {
    const char* name;
    std::string content;
  } cases[] = {
      {"empty", ""},
      {"no header line", "D,1\nD,2"},
      {"NUL bytes", std::string("H,1,2,3,\0B\nH,1,2,3,A\0,x\n\0\0H,,,,C", 30)},
      {"CR without LF", "H,1,2,3,B\rH,1,2,3,A\r\rD\r"},
      {"megabyte lines", Header({{5, longField}}) + "D," + longField + "\n" + Header({{5, "A"}})},
      {"unclosed quotes", "H,1,2,3,\"B,x\nH,1,2,3,\"A\nD,\"\n"},
      // Large enough to be read in two halves, split after the NUL.
      {"NUL past the middle", "H,1,2,3,B\nD," + std::string(700000, 'x') + std::string("\0H,1,2,3,A\r\nD,", 14) +
                                  std::string(700000, 'y') + "\nH,1,2,3,\"C\""},
      {"only quotes", std::string(1000, '"')},
      {"binary", [] {
         std::string s;
         std::mt19937 rng(5);
         for (int i = 0; i < 200000; ++i) s += static_cast<char>(rng() % 256);
         return s;
       }()},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(Run(c.content, {sfCustomerName, sfCustomerId})) << c.name;
    EXPECT_EQ(Read(result), model::Sequence(c.content, {sfCustomerName, sfCustomerId})) << c.name;
  }
}

// A file past the size of one copy window (64 MB): the result is gathered in
// several windows, with blocks that straddle their borders.
TEST_F(Sequencing, LargeFileAcrossCopyWindows) {
  const int n = 100000;
  const std::string detail = "D," + std::string(560, 'd') + "\r\n";
  std::vector<std::string> blocks(n);
  std::string content = "PRELUDE\n";
  for (int i = 0; i < n; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "%06d", n - 1 - i);
    blocks[i] = Header({{5, name}}, 20) + detail + (i % 7 ? detail : "");
    if (i == n - 1) blocks[i].pop_back();  // no line end at the very end
    content += blocks[i];
  }
  ASSERT_GT(content.size(), 64u << 20);
  ASSERT_TRUE(Run(content, {sfCustomerName}));
  std::string().swap(content);
  std::string expected;
  for (int i = n - 1; i >= 0; --i) expected += blocks[i];
  const std::string got = Read(result);
  ASSERT_EQ(got.size(), expected.size());
  EXPECT_TRUE(got == expected);
}

// Killing the process at any moment loses nothing: the source stays until
// the complete result is durable in its place, whether it replaces the old
// result or, in a folder that takes no new file, is written over it. The pass
// runs in a second process, killed as a crash would end it.
TEST_F(Sequencing, KilledAtAnyMomentLosesNothing) {
  std::string content;
  std::mt19937 rng(3);
  for (int i = 0; i < 15000; ++i)
    content += Header({{5, std::to_string(rng() % 1000)}}) + "D,detail line of the shipment\n";
  const std::string old = "previous result\n";
  const std::string folder = dir / "out";
  std::filesystem::create_directory(folder);
  const std::string target = folder + "/ORDER.TXT";
  auto pass = [&](bool inPlace) {
    std::vector<std::string> argv = {VV_HELPER_shipment_helper, source, target};
    if (inPlace) argv.push_back("locked");
    return std::make_unique<vvtest::Process>(argv);
  };
  // A whole run, process start included, spaces the kill points.
  Write(source, content);
  Write(target, old);
  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_EQ(pass(false)->Wait(), 0);
  const auto full = std::chrono::steady_clock::now() - t0;
  const std::string sorted = Read(target);
  ASSERT_EQ(sorted, model::Sequence(content, {sfCustomerName}));
  for (const bool inPlace : {false, true}) {
    if (inPlace && !testfiles::kCanLockFolders) continue;
    SCOPED_TRACE(inPlace ? "in place" : "beside");
    int completed = 0;
    const int rounds = 10;
    for (int round = 0; round < rounds; ++round) {
      Write(source, content);
      Write(target, old);
      std::unique_ptr<testfiles::LockedFolder> locked;
      if (inPlace) locked = std::make_unique<testfiles::LockedFolder>(folder);
      const auto running = pass(inPlace);
      ASSERT_TRUE(running->Started());
      // Kill points spread over the whole run; the last two rounds are not
      // killed, so that a loaded machine still sees complete runs.
      if (round < rounds - 2) {
        std::this_thread::sleep_for(full * round / (rounds - 3));
        running->Kill();
      } else {
        running->Wait();
      }
      locked.reset();
      const std::string now = Read(target);
      if (testfiles::Exists(source)) {
        EXPECT_EQ(Read(source), content) << "round " << round;
        // Written over, the result may be cut short; the source still has it
        // all. Windows always writes over the result (it refuses to replace
        // a file that is held open).
        if (!inPlace && !plat::os::kWindowsNames) {
          EXPECT_TRUE(now == old || now == sorted) << "round " << round;
        }
      } else {
        EXPECT_EQ(now, sorted) << "round " << round;
        ++completed;
      }
      for (const auto& name : testfiles::Names(folder))  // a killed run's new file
        if (name != "ORDER.TXT") std::filesystem::remove(folder + "/" + name);
    }
    EXPECT_GT(completed, 0);  // the later rounds leave time to finish
  }
}

// The reader itself.
class Reader : public ::testing::Test {
 protected:
  testfiles::TempDir dir;
  std::unique_ptr<plat::File> file;
  std::unique_ptr<TFieldReader> r;
  void Open(const std::string& bytes) {
    Write(dir / "f", bytes);
    file = plat::OpenFile(dir / "f", plat::OpenMode::Read);
    ASSERT_TRUE(file);
    r = std::make_unique<TFieldReader>(*file);
  }
};

TEST_F(Reader, Fields) {
  struct {
    std::string line;
    std::vector<std::string> fields;
  } cases[] = {
      {"a,b,c\n", {"A", "B", "C"}},
      {" h ,x", {"H", "X"}},
      {"\"B,Z\",y", {"B,Z", "Y"}},
      {"\"a\"\"b\",c", {"A\"\"B", "C"}},
      {"\"q\"x,y", {"Q\"X,Y"}},  // a quote not before a comma does not end it
      {",,a", {"", "", "A"}},
      {"a\r,\rb\r\n", {"A", "B"}},
      {"\"unclosed,x\n", {"UNCLOSED,X"}},
      {"\"end\"\n", {"END"}},
      {"\t\xe9t\xe9 ,\x01z\x01", {"\xe9T\xe9", "Z"}},
      {std::string(300, 'a') + "b,c", {std::string(255, 'A'), "C"}},
      {"\"" + std::string(300, 'a') + "\",c", {std::string(254, 'A'), "C"}},
      {"\"" + std::string(251, 'a') + "\"\"b\",c", {std::string(251, 'A') + "\"\"B", "C"}},
      {"\"" + std::string(252, 'a') + "\"\"b\",c", {std::string(252, 'A'), "C"}},
  };
  for (const auto& c : cases) {
    Open(c.line);
    std::vector<std::string> got;
    while (!r->AtLineEnd && !r->AtEnd) got.push_back(r->ReadField());
    EXPECT_EQ(got, c.fields) << c.line;
  }
}

TEST_F(Reader, CharsLinesAndPosition) {
  Open(std::string("a\r\nb\0c,d,e\nf", 12));
  EXPECT_EQ(r->ReadChar(), "a");
  EXPECT_EQ(r->ReadChar(), "");
  EXPECT_TRUE(r->AtLineEnd);
  EXPECT_EQ(r->Position, 3);
  EXPECT_EQ(r->ReadChar(), "b");
  EXPECT_EQ(r->ReadChar(), "");  // NUL ends the line
  EXPECT_EQ(r->Position, 5);
  EXPECT_EQ(r->ReadField(), "C");
  r->SkipFields(5);  // stops at the end of the line "c,d,e"
  EXPECT_TRUE(r->AtLineEnd);
  EXPECT_EQ(r->Position, 11);
  r->SkipLine();  // the line has ended: nothing more is dropped
  EXPECT_EQ(r->Position, 11);
  r->SkipFields(1);  // nor here
  EXPECT_EQ(r->Position, 11);
  EXPECT_EQ(r->ReadFieldInLine(), "");
  EXPECT_EQ(r->ReadField(), "F");  // ReadField starts the next line
  EXPECT_TRUE(r->AtEnd);
  EXPECT_EQ(r->Position, 12);
  EXPECT_EQ(r->ReadChar(), "");
}

TEST_F(Reader, SkipLineAcrossBuffers) {
  const std::string big(200000, 'z');
  Open("x," + big + "\nnext\n");
  EXPECT_EQ(r->ReadField(), "X");
  r->SkipLine();
  EXPECT_TRUE(r->AtLineEnd);
  EXPECT_EQ(r->Position, static_cast<int64_t>(big.size() + 3));
  EXPECT_EQ(r->ReadField(), "NEXT");
}

}  // namespace
