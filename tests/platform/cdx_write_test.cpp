// Writing index files: round trips of every fixture tag, large generated
// trees, the file kept in place, refused input, and agreement with an
// independent reader (Debian's index_dump).
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <cstdio>
#include <random>
#include <set>

#include "cdx_fixtures.h"
#include "platform/os.h"
#include "platform/xbase/cdx.h"
#include "platform/xbase/error.h"

namespace {

using namespace cdxtest;
using xbase::CdxEntry;
using xbase::CdxFile;
using xbase::CdxTagData;
using xbase::EncodeNumericKey;
using xbase::WriteCdx;
using xbase::XBaseError;

struct FixtureFile {
  std::string dir, table;
  std::string Cdx() const { return XbaseDir() + "/" + dir + "/" + table + ".cdx"; }
  std::string Dbf() const { return XbaseDir() + "/" + dir + "/" + table + ".dbf"; }
};

std::vector<FixtureFile> AllFixtures() {
  std::vector<FixtureFile> out;
  for (const char* dir : {"small", "medium"}) {
    for (const auto& name : ListDir(XbaseDir() + "/" + dir, ".cdx")) out.push_back({dir, name.substr(0, name.size() - 4)});
  }
  return out;
}

// Reopens a written file and checks it holds exactly the given tags.
void ExpectHolds(const std::string& path, const std::vector<CdxTagData>& tags) {
  auto cdx = CdxFile::Open(path);
  ASSERT_EQ(cdx->Tags().size(), tags.size());
  for (const CdxTagData& want : tags) {
    SCOPED_TRACE(want.header.name);
    const int t = cdx->FindTag(want.header.name);
    ASSERT_GE(t, 0);
    const auto& h = cdx->Tags()[t];
    EXPECT_EQ(h.expr, want.header.expr);
    EXPECT_EQ(h.filter, want.header.filter);
    EXPECT_EQ(h.keyLen, want.header.keyLen);
    EXPECT_EQ(h.unique, want.header.unique);
    EXPECT_EQ(h.descending, want.header.descending);
    EXPECT_TRUE(h.machineCollation);
    EXPECT_EQ(h.collation, "");
    cdx->SetPadByte(t, want.pad);
    EXPECT_EQ(Flatten(cdx->ReadAll(t)), Flatten(want.entries));
    auto c = cdx->OpenCursor(t);
    EXPECT_EQ(Flatten(WalkForward(*c)), Flatten(want.entries));
  }
}

// --- Debian's independent reader -------------------------------------------

bool HavePerlReader() { return std::system("command -v index_dump >/dev/null 2>&1") == 0; }

std::vector<std::string> RunLines(const std::string& cmd) {
  std::vector<std::string> lines;
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return lines;
  std::string cur;
  for (int ch; (ch = std::fgetc(p)) != EOF;) {
    if (ch == '\n') {
      lines.push_back(cur);
      cur.clear();
    } else {
      cur.push_back(static_cast<char>(ch));
    }
  }
  const int status = ::pclose(p);
  if (!cur.empty()) lines.push_back(cur);
  if (status != 0) lines.push_back("<exit status " + std::to_string(status) + ">");
  return lines;
}

// What index_dump prints for our entries: "key recno", character keys without
// their trailing blanks, numbers with 15 significant digits (NaN for the
// all-zero key of -0.0).
std::vector<std::string> PerlView(const std::vector<CdxEntry>& entries, bool numeric) {
  std::vector<std::string> out;
  char buf[64];
  for (const auto& e : entries) {
    std::string key;
    if (numeric) {
      if (e.key == std::string(8, '\0')) {
        key = "NaN";
      } else {
        std::snprintf(buf, sizeof buf, "%.15g", xbase::DecodeNumericKey(e.key));
        key = buf;
      }
    } else {
      key = e.key.substr(0, e.key.find_last_not_of(' ') + 1);
      if (e.key.find_last_not_of(' ') == std::string::npos) key.clear();
    }
    out.push_back(key + " " + std::to_string(e.recno));
  }
  return out;
}

void ExpectPerlAgrees(const std::string& path, const CdxTagData& tag) {
  SCOPED_TRACE("index_dump " + path + " " + tag.header.name);
  const bool numeric = tag.pad == '\0';
  const auto lines = RunLines(std::string("index_dump -type ") + (numeric ? "num" : "char") + " '" + path + "' " +
                              tag.header.name + " 2>&1");
  const auto want = PerlView(tag.entries, numeric);
  ASSERT_EQ(lines.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) ASSERT_EQ(lines[i], want[i]) << "entry " << i;
}

// --- Round trips of the real files --------------------------------------------

TEST(CdxWrite, EveryFixtureRoundTrips) {
  TempDir dir;
  for (const FixtureFile& f : AllFixtures()) {
    SCOPED_TRACE(f.dir + "/" + f.table);
    auto original = CdxFile::Open(f.Cdx());
    const auto tags = LoadAllTags(*original, MiniDbf(f.Dbf()));
    const std::string out = dir.File(f.table + ".cdx");
    WriteCdx(out, tags, original->ChangeCounter() + 1);
    ExpectHolds(out, tags);
    EXPECT_EQ(CdxFile::Open(out)->ChangeCounter(), original->ChangeCounter() + 1);
  }
}

// One-leaf tags come out byte for byte as the other engine writes them: same
// bit-field widths, same duplicate and trailing compression, same free space,
// same headers and layout.
TEST(CdxWrite, SingleLeafPagesMatchTheOtherEngine) {
  TempDir dir;
  auto leafPages = [](const std::string& bytes) {
    std::multiset<std::string> pages;
    for (size_t at = 1024; at + 512 <= bytes.size(); at += 512) {
      if (bytes[at] == 3 && bytes[at + 1] == 0) pages.insert(bytes.substr(at, 512));
    }
    return pages;
  };
  int compared = 0;
  for (const FixtureFile& f : AllFixtures()) {
    if (f.dir != "small") continue;
    SCOPED_TRACE(f.table);
    auto original = CdxFile::Open(f.Cdx());
    const auto tags = LoadAllTags(*original, MiniDbf(f.Dbf()));
    const std::string out = dir.File(f.table + ".cdx");
    WriteCdx(out, tags, original->ChangeCounter());
    // With one tag the layout is fixed, so the whole file must be the same.
    if (tags.size() == 1) {
      EXPECT_TRUE(ReadFile(out) == ReadFile(f.Cdx())) << "files differ";
    }
    const auto theirs = leafPages(ReadFile(f.Cdx()));
    const auto ours = leafPages(ReadFile(out));
    // Ours has one more root leaf than tags: the directory, which matches
    // too when the tag headers happen to sit where the other engine put them.
    ASSERT_EQ(ours.size(), tags.size() + 1);
    size_t matched = 0;
    for (const auto& page : ours) matched += theirs.count(page) ? 1 : 0;
    EXPECT_GE(matched, tags.size());
    compared += static_cast<int>(matched);
  }
  EXPECT_GE(compared, 14);
}

TEST(CdxWrite, PerlReaderAgreesWithRewrittenFixtures) {
  if (!HavePerlReader()) GTEST_SKIP() << "index_dump (libdbd-xbase-perl) not installed";
  TempDir dir;
  const std::set<std::string> mediumSample = {"Zones", "Labels", "Provinces", "AreaToZone", "NUM", "NAME_U",
                                              "CODE_U", "A", "D", "SD"};
  for (const FixtureFile& f : AllFixtures()) {
    auto original = CdxFile::Open(f.Cdx());
    const auto tags = LoadAllTags(*original, MiniDbf(f.Dbf()));
    const std::string out = dir.File(f.table + ".cdx");
    WriteCdx(out, tags, original->ChangeCounter() + 1);
    for (const auto& t : tags) {
      if (f.dir == "medium" && !mediumSample.count(f.table) && !mediumSample.count(t.header.name)) continue;
      ExpectPerlAgrees(out, t);
    }
  }
}

// --- Generated trees --------------------------------------------------------

std::vector<CdxEntry> Sorted(std::vector<CdxEntry> v) {
  std::sort(v.begin(), v.end(), [](const CdxEntry& a, const CdxEntry& b) {
    return a.key != b.key ? a.key < b.key : a.recno < b.recno;
  });
  return v;
}

std::vector<CdxEntry> CharEntries(size_t n, int keyLen, std::mt19937& rng) {
  static const char* words[] = {"AMSTERDAM", "Berlin", "berlin", " lead", "Z", "zz", "Montr\xe9" "al", "0001", "",
                                "O'HARE", "~tilde", "\x01low"};
  std::vector<CdxEntry> v;
  for (size_t i = 0; i < n; ++i) {
    std::string k = words[rng() % std::size(words)];
    if (rng() % 3) k += std::to_string(rng() % 5000);
    k.resize(static_cast<size_t>(keyLen), ' ');
    v.push_back({k, static_cast<uint32_t>(i + 1)});
  }
  return Sorted(std::move(v));
}

std::vector<CdxEntry> NumericEntries(size_t n, std::mt19937& rng) {
  std::uniform_real_distribution<double> dist(-1e6, 1e6);
  std::vector<CdxEntry> v;
  for (size_t i = 0; i < n; ++i) {
    double x = dist(rng);
    switch (rng() % 6) {
      case 0: x = std::round(x); break;
      case 1: x = -0.0; break;
      case 2: x = std::round(x * 100) / 100; break;
      default: break;
    }
    v.push_back({EncodeNumericKey(x), static_cast<uint32_t>(i + 1)});
  }
  return Sorted(std::move(v));
}

CdxTagData MakeTag(const std::string& name, const std::string& expr, int keyLen, char pad,
                   std::vector<CdxEntry> entries) {
  CdxTagData t;
  t.header.name = name;
  t.header.expr = expr;
  t.header.keyLen = keyLen;
  t.pad = pad;
  t.entries = std::move(entries);
  return t;
}

uint32_t Le32(const std::string& b, size_t at) {
  return static_cast<uint8_t>(b[at]) | (static_cast<uint8_t>(b[at + 1]) << 8) |
         (static_cast<uint8_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3])) << 24);
}

// Levels of the first tag's tree; the writer puts the first tag's header
// right after the file header.
int DepthOfFirstTag(const std::string& path) {
  const std::string b = ReadFile(path);
  const int keyLen = static_cast<uint8_t>(b[1024 + 12]) | (static_cast<uint8_t>(b[1024 + 13]) << 8);
  uint32_t page = Le32(b, 1024);
  int depth = 1;
  while (!(b[page] & 2)) {
    const size_t at = page + 12 + keyLen + 4;
    page = (static_cast<uint32_t>(static_cast<uint8_t>(b[at])) << 24) | (static_cast<uint8_t>(b[at + 1]) << 16) |
           (static_cast<uint8_t>(b[at + 2]) << 8) | static_cast<uint8_t>(b[at + 3]);
    ++depth;
  }
  return depth;
}

void CheckSeeksAgainstScan(CdxFile& cdx, int t, const std::vector<CdxEntry>& all, std::mt19937& rng) {
  auto c = cdx.OpenCursor(t);
  for (int i = 0; i < 300; ++i) {
    std::string probe = all[rng() % all.size()].key;
    probe.resize(1 + rng() % probe.size());
    if (rng() % 2) probe.back() = static_cast<char>(probe.back() + 1);
    auto it = std::find_if(all.begin(), all.end(), [&](const CdxEntry& e) {
      return e.key.compare(0, probe.size(), probe) >= 0;
    });
    ASSERT_EQ(c->Seek(probe), it != all.end());
    if (it != all.end()) {
      ASSERT_EQ(c->Key(), it->key);
      ASSERT_EQ(c->Recno(), it->recno);
    }
  }
}

TEST(CdxWrite, LargeTagsBuildSeveralLevels) {
  TempDir dir;
  std::mt19937 rng(5);
  const std::vector<CdxTagData> tags = {
      MakeTag("NAME", "UPPER(NAME)", 20, ' ', CharEntries(100000, 20, rng)),
      MakeTag("AMOUNT", "AMOUNT", 8, '\0', NumericEntries(100000, rng)),
  };
  const std::string path = dir.File("big.cdx");
  WriteCdx(path, tags, 41);
  EXPECT_GE(DepthOfFirstTag(path), 3);
  ExpectHolds(path, tags);

  auto cdx = CdxFile::Open(path);
  for (const auto& t : tags) {
    const int i = cdx->FindTag(t.header.name);
    cdx->SetPadByte(i, t.pad);
    CheckSeeksAgainstScan(*cdx, i, t.entries, rng);
    auto c = cdx->OpenCursor(i);
    auto back = WalkBackward(*c);
    std::reverse(back.begin(), back.end());
    EXPECT_EQ(Flatten(back), Flatten(t.entries));
  }
  if (HavePerlReader()) {
    for (const auto& t : tags) ExpectPerlAgrees(path, t);
  }
}

// Keys of the greatest length leave two entries per interior node: a deep
// tree. Large record numbers need wider leaf entries.
TEST(CdxWrite, LongKeysAndWideRecordNumbers) {
  TempDir dir;
  std::mt19937 rng(9);
  std::vector<CdxEntry> longKeys;
  for (uint32_t i = 0; i < 3000; ++i) {
    std::string k(240, ' ');
    for (int j = 0; j < 200; ++j) k[j] = static_cast<char>('A' + rng() % 26);
    longKeys.push_back({k, 4000000000u - i * 997u});
  }
  std::vector<CdxEntry> wide;
  for (uint32_t i = 0; i < 5000; ++i) wide.push_back({EncodeNumericKey(i / 3), 16777000u + i * 5u});
  const std::vector<CdxTagData> tags = {
      MakeTag("LONG", "LONGTEXT", 240, ' ', Sorted(longKeys)),
      MakeTag("WIDE", "N", 8, '\0', Sorted(wide)),
  };
  const std::string path = dir.File("long.cdx");
  WriteCdx(path, tags, 0);
  EXPECT_GE(DepthOfFirstTag(path), 8);
  ExpectHolds(path, tags);
  if (HavePerlReader()) {
    for (const auto& t : tags) ExpectPerlAgrees(path, t);
  }
}

// Other engines may leave a separator larger than what remains below it
// after deletions; seeks must then continue along the leaves.
TEST(CdxWrite, SeeksSurviveASeparatorLargerThanItsSubtree) {
  TempDir dir;
  std::mt19937 rng(8);
  const auto tag = MakeTag("CITY", "CITY", 10, ' ', CharEntries(3000, 10, rng));
  const std::string path = dir.File("stale.cdx");
  WriteCdx(path, {tag}, 1);
  std::string b = ReadFile(path);
  const uint32_t root = Le32(b, 1024);
  ASSERT_FALSE(b[root] & 2);
  ASSERT_GE(static_cast<uint8_t>(b[root + 2]), 2);
  // First separator := second separator.
  b.replace(root + 12, 10, b.substr(root + 12 + 18, 10));
  WriteFile(path, b);

  auto cdx = CdxFile::Open(path);
  const auto all = cdx->ReadAll(0);
  EXPECT_EQ(Flatten(all), Flatten(tag.entries));
  CheckSeeksAgainstScan(*cdx, 0, all, rng);
  // Every distinct key, exactly.
  auto c = cdx->OpenCursor(0);
  for (size_t i = 0; i < all.size(); ++i) {
    if (i > 0 && all[i - 1].key == all[i].key) continue;
    ASSERT_TRUE(c->Seek(all[i].key));
    ASSERT_EQ(c->Recno(), all[i].recno);
  }
}

TEST(CdxWrite, EmptyTagsAndAManyTagDirectory) {
  TempDir dir;
  std::mt19937 rng(2);
  std::vector<CdxTagData> tags;
  for (int i = 0; i < 70; ++i) {
    const std::string name = "T" + std::to_string(i * 7919 % 1000);
    tags.push_back(MakeTag(name, "FIELD" + std::to_string(i), 10, ' ', i % 5 ? CharEntries(i, 10, rng) : std::vector<CdxEntry>{}));
  }
  tags[3].header.unique = true;
  tags[3].entries.clear();
  tags[3].entries.push_back({"UNIQUE    ", 7});
  tags[4].header.descending = true;
  tags[6].header.filter = "DELETED() .AND. FLAG";
  const std::string path = dir.File("many.cdx");
  WriteCdx(path, tags, 5);
  ExpectHolds(path, tags);

  auto cdx = CdxFile::Open(path);
  const int empty = cdx->FindTag(tags[0].header.name);
  auto c = cdx->OpenCursor(empty);
  EXPECT_FALSE(c->First());
  EXPECT_FALSE(c->Last());
  EXPECT_FALSE(c->Seek(""));
  EXPECT_FALSE(c->Next());
  EXPECT_TRUE(cdx->ReadAll(empty).empty());
  if (HavePerlReader()) {
    ExpectPerlAgrees(path, tags[0]);
    ExpectPerlAgrees(path, tags[69]);
  }
}

TEST(CdxWrite, RewritesInPlaceAndShrinks) {
  TempDir dir;
  std::mt19937 rng(4);
  const std::string path = dir.File("place.cdx");
  WriteCdx(path, {MakeTag("BIG", "X", 12, ' ', CharEntries(20000, 12, rng))}, 1);
  plat::os::FileInfo before, after;
  ASSERT_TRUE(plat::os::Os().Stat(path, true, &before));
  auto held = CdxFile::Open(path);  // another reader keeps the file open
  auto cursor = held->OpenCursor(0);
  // Twice: the second seek is served from pages read before.
  ASSERT_TRUE(cursor->Seek(""));
  ASSERT_TRUE(cursor->Seek(""));

  const std::vector<CdxTagData> small = {MakeTag("BIG", "X", 12, ' ', CharEntries(10, 12, rng))};
  WriteCdx(path, small, 2);
  // The reader that kept the file open sees the new index, not its cache.
  ASSERT_TRUE(cursor->Seek(""));
  EXPECT_EQ(cursor->Key(), small[0].entries.front().key);
  EXPECT_EQ(cursor->Recno(), small[0].entries.front().recno);
  ASSERT_TRUE(plat::os::Os().Stat(path, true, &after));
  EXPECT_EQ(after.id, before.id);
  EXPECT_LT(after.size, before.size);
  EXPECT_EQ(after.size % 512, 0u);
  ExpectHolds(path, small);
  EXPECT_EQ(CdxFile::Open(path)->ChangeCounter(), 2u);
  EXPECT_EQ(held->ChangeCounter(), 1u);
  EXPECT_TRUE(held->ChangedOnDisk());
  EXPECT_FALSE(CdxFile::Open(path)->ChangedOnDisk());
}

TEST(CdxWrite, RefusesBadInput) {
  TempDir dir;
  auto good = [] {
    return MakeTag("CODE", "CODE", 4, ' ', {{"A1  ", 1}, {"A1  ", 2}, {"B1  ", 3}});
  };
  struct Case {
    const char* what;
    std::function<void(std::vector<CdxTagData>&)> spoil;
  } cases[] = {
      {"unsorted keys", [](auto& t) { std::swap(t[0].entries[0], t[0].entries[2]); }},
      {"same entry twice", [](auto& t) { t[0].entries[1].recno = 1; }},
      {"key of the wrong length", [](auto& t) { t[0].entries[2].key = "B1"; }},
      {"record number zero", [](auto& t) { t[0].entries[0].recno = 0; }},
      {"unique tag with a repeated key", [](auto& t) { t[0].header.unique = true; }},
      {"tag name too long", [](auto& t) { t[0].header.name = "ELEVENCHARS"; }},
      {"empty tag name", [](auto& t) { t[0].header.name = ""; }},
      {"tag name with a blank", [](auto& t) { t[0].header.name = "A B"; }},
      {"two tags of one name", [](auto& t) { t.push_back(t[0]); t[1].header.name = "code"; }},
      {"key length zero", [](auto& t) { t[0].header.keyLen = 0; t[0].entries.clear(); }},
      {"key length too big", [](auto& t) { t[0].header.keyLen = 241; t[0].entries.clear(); }},
      {"foreign collation", [](auto& t) { t[0].header.machineCollation = false; t[0].header.collation = "GENERAL"; }},
      {"expressions too long", [](auto& t) { t[0].header.filter = std::string(600, 'X'); }},
      {"empty expression", [](auto& t) { t[0].header.expr = ""; }},
  };
  const std::string path = dir.File("bad.cdx");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<CdxTagData> tags = {good()};
    c.spoil(tags);
    EXPECT_THROW(WriteCdx(path, tags, 1), XBaseError);
  }
  EXPECT_NO_THROW(WriteCdx(path, {good()}, 1));
  EXPECT_THROW(WriteCdx(dir.File("no/such/dir.cdx"), {good()}, 1), XBaseError);
}

}  // namespace
