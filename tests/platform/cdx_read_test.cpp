// Reading the index files written by the other engine: tag headers, every
// entry in its order, seeks, numeric keys, and damaged files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>

#include "cdx_fixtures.h"
#include "platform/xbase/cdx.h"
#include "platform/xbase/error.h"

namespace {

using namespace cdxtest;
using xbase::CdxEntry;
using xbase::CdxFile;
using xbase::DecodeNumericKey;
using xbase::EncodeNumericKey;
using xbase::XBaseError;

std::string Small(const std::string& name) { return XbaseDir() + "/small/" + name; }
std::string Medium(const std::string& name) { return XbaseDir() + "/medium/" + name; }

TEST(CdxNumericKey, EncodesLikeTheFixtures) {
  struct Case {
    double value;
    const char* hex;
  } cases[] = {
      {0.0, "8000000000000000"},  {1.0, "bff0000000000000"},   {-10.5, "3fdaffffffffffff"},
      {-0.0, "0000000000000000"}, {10.5, "c025000000000000"}, {-0.01, "407b851eb851eb84"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ToHex(EncodeNumericKey(c.value)), c.hex) << c.value;
    const double back = DecodeNumericKey(FromHex(c.hex));
    EXPECT_EQ(back, c.value);
    EXPECT_EQ(std::signbit(back), std::signbit(c.value)) << c.hex;
  }
  EXPECT_THROW(DecodeNumericKey("1234"), XBaseError);
}

TEST(CdxNumericKey, ByteOrderFollowsNumericOrder) {
  std::mt19937_64 rng(7);
  std::vector<double> values = {0.0, 1e-300, -1e-300, 1e300, -1e300, INFINITY, -INFINITY, 0.5, -0.5};
  std::uniform_real_distribution<double> dist(-1e7, 1e7);
  for (int i = 0; i < 2000; ++i) values.push_back(i % 3 ? dist(rng) : std::round(dist(rng)) / 100);
  for (double a : values) {
    EXPECT_EQ(DecodeNumericKey(EncodeNumericKey(a)), a);
    for (int j = 0; j < 5; ++j) {
      const double b = values[rng() % values.size()];
      EXPECT_EQ(a < b, EncodeNumericKey(a) < EncodeNumericKey(b)) << a << " vs " << b;
    }
  }
  // The all-zero key of -0.0 sorts before every negative number.
  EXPECT_LT(EncodeNumericKey(-0.0), EncodeNumericKey(-1e300));
}

// Every tag of every small table, checked against the engine's own dump.
TEST(CdxReadSmall, EveryTagMatchesTheDump) {
  int tagsChecked = 0;
  for (const std::string& dumpName : ListDir(XbaseDir() + "/small/expected", ".dump")) {
    SCOPED_TRACE(dumpName);
    const Dump dump = ParseDump(XbaseDir() + "/small/expected/" + dumpName);
    const std::string table = dumpName.substr(0, dumpName.size() - 5);
    if (dump.tags.empty()) continue;
    auto cdx = CdxFile::Open(Small(table + ".cdx"));
    ASSERT_EQ(cdx->Tags().size(), dump.tags.size());
    for (size_t i = 0; i < dump.tags.size(); ++i) {
      const DumpTag& want = dump.tags[i];
      SCOPED_TRACE(want.name);
      const int t = cdx->FindTag(want.name);
      ASSERT_GE(t, 0);
      const xbase::CdxTagHeader& h = cdx->Tags()[t];
      EXPECT_EQ(h.name, want.name);
      EXPECT_EQ(h.expr, want.expr);
      EXPECT_EQ(h.filter, want.filter);
      EXPECT_EQ(h.keyLen, want.keyLen);
      EXPECT_EQ(h.unique, want.unique);
      EXPECT_EQ(h.descending, want.descending);
      EXPECT_EQ(h.collation, want.sortSeq);
      EXPECT_TRUE(h.machineCollation);

      cdx->SetPadByte(t, want.numeric ? '\0' : ' ');
      std::vector<CdxEntry> expected;
      for (const DumpEntry& e : want.entries) expected.push_back({e.key, e.recno});
      auto cursor = cdx->OpenCursor(t);
      // Tag order is stored order, or stored order walked backwards.
      if (want.descending) {
        EXPECT_EQ(Flatten(WalkBackward(*cursor)), Flatten(expected));
        std::reverse(expected.begin(), expected.end());
      } else {
        EXPECT_EQ(Flatten(WalkForward(*cursor)), Flatten(expected));
      }
      EXPECT_EQ(Flatten(cdx->ReadAll(t)), Flatten(expected));

      for (const DumpEntry& e : want.entries) {
        if (!want.numeric) continue;
        const double v = std::strtod(e.value.c_str(), nullptr);
        EXPECT_EQ(ToHex(EncodeNumericKey(v)), ToHex(e.key)) << e.value;
        EXPECT_EQ(DecodeNumericKey(e.key), v) << e.value;
      }
      ++tagsChecked;
    }
  }
  EXPECT_GE(tagsChecked, 14);
}

// The multi-level sets: every entry, in order, including keys that begin with
// a blank.
TEST(CdxReadMedium, EveryOrderFileMatches) {
  const auto orders = ListDir(XbaseDir() + "/medium/expected", ".order");
  ASSERT_GE(orders.size(), 20u);
  for (const std::string& orderName : orders) {
    SCOPED_TRACE(orderName);
    const auto dot = orderName.find('.');
    const std::string table = orderName.substr(0, dot);
    const std::string tag = orderName.substr(dot + 1, orderName.size() - dot - 7);
    auto cdx = CdxFile::Open(Medium(table + ".cdx"));
    const MiniDbf dbf(Medium(table + ".dbf"));
    const int t = cdx->FindTag(tag);
    ASSERT_GE(t, 0);
    const auto& h = cdx->Tags()[t];
    cdx->SetPadByte(t, dbf.NumericExpr(h.expr) ? '\0' : ' ');

    const auto all = cdx->ReadAll(t);
    auto expected = ParseOrder(XbaseDir() + "/medium/expected/" + orderName, h.keyLen);
    if (h.descending) std::reverse(expected.begin(), expected.end());
    EXPECT_EQ(Flatten(all), Flatten(expected));

    // Cursors walk the leaves by their sibling links; they must agree with
    // the top-down walk in both directions.
    auto cursor = cdx->OpenCursor(t);
    EXPECT_EQ(Flatten(WalkForward(*cursor)), Flatten(all));
    auto backward = WalkBackward(*cursor);
    std::reverse(backward.begin(), backward.end());
    EXPECT_EQ(Flatten(backward), Flatten(all));
  }
}

// Numeric keys against the values actually stored in the records, including
// "-0.00" (eight zero bytes) and values that round awkwardly.
TEST(CdxReadMedium, NumProbeKeysEncodeTheFieldValues) {
  auto cdx = CdxFile::Open(Medium("NumProbe.cdx"));
  const MiniDbf dbf(Medium("NumProbe.dbf"));
  size_t checked = 0, negativeZero = 0;
  for (const char* name : {"A", "B", "C", "D", "E", "F"}) {
    SCOPED_TRACE(name);
    const int t = cdx->FindTag(name);
    ASSERT_GE(t, 0);
    cdx->SetPadByte(t, '\0');
    const auto* field = dbf.Find(cdx->Tags()[t].expr);
    ASSERT_NE(field, nullptr);
    for (const auto& e : cdx->ReadAll(t)) {
      std::string text = dbf.Text(e.recno, *field);
      if (text.find('*') != std::string::npos) continue;  // overflowed field
      const double v = std::strtod(text.c_str(), nullptr);
      ASSERT_EQ(ToHex(EncodeNumericKey(v)), ToHex(e.key)) << "record " << e.recno << " [" << text << "]";
      ++checked;
      if (v == 0 && std::signbit(v)) ++negativeZero;
    }
  }
  EXPECT_GT(checked, 250000u);
  EXPECT_GT(negativeZero, 0u);
}

// A probe finds the first entry whose key, cut to the probe's length, is not
// smaller; checked against a scan of the whole tag.
void CheckSeeks(CdxFile& cdx, int t, const std::vector<std::string>& probes) {
  const auto all = cdx.ReadAll(t);
  auto cursor = cdx.OpenCursor(t);
  for (const std::string& probe : probes) {
    const size_t m = std::min(probe.size(), all.empty() ? 0 : all[0].key.size());
    auto it = std::find_if(all.begin(), all.end(),
                           [&](const CdxEntry& e) { return e.key.compare(0, m, probe, 0, m) >= 0; });
    const bool found = cursor->Seek(probe);
    ASSERT_EQ(found, it != all.end()) << "[" << probe << "]";
    if (!found) continue;
    ASSERT_EQ(cursor->Key(), it->key) << "[" << probe << "]";
    ASSERT_EQ(cursor->Recno(), it->recno) << "[" << probe << "]";
    // The cursor continues from there in order.
    for (auto next = it + 1; next != all.end() && next != it + 3; ++next) {
      ASSERT_TRUE(cursor->Next());
      ASSERT_EQ(cursor->Recno(), next->recno);
    }
  }
}

TEST(CdxSeek, PrefixSemanticsOnZones) {
  auto cdx = CdxFile::Open(Medium("Zones.cdx"));
  const int t = cdx->FindTag("zone");
  ASSERT_GE(t, 0);
  auto c = cdx->OpenCursor(t);
  // "1" finds the first key beginning with it; padded to the key length it
  // finds "1" itself, followed by "10".
  ASSERT_TRUE(c->Seek("1"));
  EXPECT_EQ(c->Key(), "1        ");
  ASSERT_TRUE(c->Seek("1        "));
  EXPECT_EQ(c->Key(), "1        ");
  int ones = 0;
  do {
    ++ones;
    ASSERT_TRUE(c->Next());
  } while (c->Key() == "1        ");
  EXPECT_GT(ones, 1);  // zone "1" is used by several records
  EXPECT_EQ(c->Key().substr(0, 2), "10");
  EXPECT_FALSE(c->Seek("\xff"));
  EXPECT_TRUE(c->Seek(""));

  const auto all = cdx->ReadAll(t);
  std::vector<std::string> probes = {"", " ", "0", "1", "10", "19", "2", "9", "99999", "A", "Z", "~"};
  for (size_t i = 0; i < all.size(); i += 37) {
    const std::string& k = all[i].key;
    probes.push_back(k);
    probes.push_back(k.substr(0, 1));
    probes.push_back(k.substr(0, 2));
    std::string bumped = k.substr(0, 3);
    bumped.back() = static_cast<char>(bumped.back() + 1);
    probes.push_back(bumped);
    probes.push_back(k + "EXTRA");  // longer than the key: cut to it
  }
  CheckSeeks(*cdx, t, probes);
}

TEST(CdxSeek, EveryMediumTagAgainstAScan) {
  std::mt19937 rng(11);
  for (const std::string& name : ListDir(XbaseDir() + "/medium", ".cdx")) {
    SCOPED_TRACE(name);
    auto cdx = CdxFile::Open(Medium(name));
    const MiniDbf dbf(Medium(name.substr(0, name.size() - 4) + ".dbf"));
    for (size_t t = 0; t < cdx->Tags().size(); ++t) {
      const bool numeric = dbf.NumericExpr(cdx->Tags()[t].expr);
      cdx->SetPadByte(static_cast<int>(t), numeric ? '\0' : ' ');
      const auto all = cdx->ReadAll(static_cast<int>(t));
      std::vector<std::string> probes;
      for (int i = 0; i < 60 && !all.empty(); ++i) {
        const std::string& k = all[rng() % all.size()].key;
        probes.push_back(k);
        probes.push_back(k.substr(0, 1 + rng() % k.size()));
        if (numeric) {
          const double v = DecodeNumericKey(k);
          probes.push_back(EncodeNumericKey(std::nextafter(v, INFINITY)));
          probes.push_back(EncodeNumericKey(std::nextafter(v, -INFINITY)));
        }
      }
      CheckSeeks(*cdx, static_cast<int>(t), probes);
    }
  }
}

TEST(CdxSeek, NumericSeeksOnNumProbe) {
  auto cdx = CdxFile::Open(Medium("NumProbe.cdx"));
  const int t = cdx->FindTag("A");
  cdx->SetPadByte(t, '\0');
  auto c = cdx->OpenCursor(t);
  // -0.00 keys come first of all; a seek for 0 skips every negative number.
  ASSERT_TRUE(c->Seek(EncodeNumericKey(-0.0)));
  EXPECT_EQ(ToHex(c->Key()), "0000000000000000");
  ASSERT_TRUE(c->Seek(EncodeNumericKey(0.0)));
  EXPECT_GE(DecodeNumericKey(c->Key()), 0.0);
  ASSERT_TRUE(c->Prev());
  EXPECT_LT(DecodeNumericKey(c->Key()), 0.0);
  EXPECT_FALSE(c->Seek(EncodeNumericKey(1e300)));
  EXPECT_FALSE(c->Next());
}

TEST(CdxOpen, ChangeCounterIsBigEndianAtByteEight) {
  for (const std::string& name : {Small("Mixed.cdx"), Medium("AreaToZone.cdx")}) {
    const std::string bytes = ReadFile(name);
    const uint32_t raw = (static_cast<uint32_t>(static_cast<uint8_t>(bytes[8])) << 24) |
                         (static_cast<uint8_t>(bytes[9]) << 16) | (static_cast<uint8_t>(bytes[10]) << 8) |
                         static_cast<uint8_t>(bytes[11]);
    EXPECT_NE(raw, 0u);
    EXPECT_EQ(CdxFile::Open(name)->ChangeCounter(), raw);
  }
}

TEST(CdxOpen, LooksUpTagsWithoutRegardToCase) {
  auto cdx = CdxFile::Open(Small("Mixed.cdx"));
  EXPECT_EQ(cdx->FindTag("name_u"), cdx->FindTag("NAME_U"));
  EXPECT_GE(cdx->FindTag("Name_U"), 0);
  EXPECT_EQ(cdx->FindTag("NAME"), -1);
  EXPECT_EQ(cdx->FindTag(""), -1);
  EXPECT_THROW(cdx->OpenCursor(99), XBaseError);
  EXPECT_THROW(CdxFile::Open(Small("NoSuchTable.cdx")), XBaseError);
}

TEST(CdxOpen, CursorOutlivesItsFile) {
  auto cdx = CdxFile::Open(Medium("Zones.cdx"));
  auto c = cdx->OpenCursor(0);
  cdx.reset();
  EXPECT_EQ(WalkForward(*c).size(), 3000u);
}

// A tag in another collation reads in stored order, but a seek in it is
// refused rather than answered wrongly.
TEST(CdxOpen, ForeignCollationReadsButDoesNotSeek) {
  TempDir dir;
  std::string bytes = ReadFile(Medium("Zones.cdx"));
  const size_t tagHeader = 1024;  // the single tag of Zones
  std::memcpy(&bytes[tagHeader + 0x1EE], "GENERAL", 7);
  const std::string path = dir.File("general.cdx");
  WriteFile(path, bytes);

  auto cdx = CdxFile::Open(path);
  const auto& h = cdx->Tags()[0];
  EXPECT_FALSE(h.machineCollation);
  EXPECT_EQ(h.collation, "GENERAL");
  EXPECT_EQ(cdx->ReadAll(0).size(), 3000u);
  auto c = cdx->OpenCursor(0);
  EXPECT_EQ(WalkForward(*c).size(), 3000u);
  EXPECT_THROW(c->Seek("1"), XBaseError);

  // "MACHINE" spelled out is the machine collation.
  std::memcpy(&bytes[tagHeader + 0x1EE], "MACHINE", 7);
  WriteFile(path, bytes);
  EXPECT_TRUE(CdxFile::Open(path)->Tags()[0].machineCollation);
}

// --- Damaged files ---------------------------------------------------------

uint32_t Le32(const std::string& b, size_t at) {
  return static_cast<uint8_t>(b[at]) | (static_cast<uint8_t>(b[at + 1]) << 8) |
         (static_cast<uint8_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3])) << 24);
}
void PutLe32(std::string& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
}
void PutBe32(std::string& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (24 - 8 * i));
}

// Opens and walks every tag completely; returns normally only if the file reads.
void ReadEverything(const std::string& path) {
  auto cdx = CdxFile::Open(path);
  for (size_t t = 0; t < cdx->Tags().size(); ++t) {
    cdx->ReadAll(static_cast<int>(t));
    auto c = cdx->OpenCursor(static_cast<int>(t));
    WalkForward(*c);
    WalkBackward(*c);
    c->Seek("M");
  }
}

struct Damage {
  const char* what;
  const char* file;
  std::function<void(std::string&)> apply;
};

TEST(CdxCorrupt, DamagedFilesRaiseClearErrors) {
  // Offsets found from the files themselves, not hard-coded: the first tag's
  // header and root, and the root's first child in a multi-level tag.
  const std::string mixed = ReadFile(Small("Mixed.cdx"));
  const std::string zones = ReadFile(Medium("Zones.cdx"));
  const uint32_t zonesHeader = 1024;  // the single tag of Zones
  const uint32_t zonesRoot = Le32(zones, zonesHeader);
  const uint32_t zonesKeyLen = static_cast<uint8_t>(zones[zonesHeader + 12]);
  const size_t firstChildAt = zonesRoot + 12 + zonesKeyLen + 4;

  std::vector<Damage> cases = {
      {"truncated inside the header", "mixed", [](std::string& b) { b.resize(700); }},
      {"truncated inside the pages", "zones", [](std::string& b) { b.resize(b.size() / 2); }},
      {"directory root past the end", "mixed", [](std::string& b) { PutLe32(b, 0, 0x7FFFFE00); }},
      {"directory root into the header", "mixed", [](std::string& b) { PutLe32(b, 0, 512); }},
      {"directory root not aligned", "mixed", [](std::string& b) { PutLe32(b, 0, Le32(b, 0) + 3); }},
      {"not a compound index", "mixed", [](std::string& b) { b[14] = 0; }},
      {"tag root past the end", "zones",
       [&](std::string& b) { PutLe32(b, zonesHeader, static_cast<uint32_t>(b.size())); }},
      {"absurd key length", "zones", [&](std::string& b) { b[zonesHeader + 12] = char(0xE8), b[zonesHeader + 13] = 3; }},
      {"zero key length", "zones", [&](std::string& b) { b[zonesHeader + 12] = 0, b[zonesHeader + 13] = 0; }},
      {"child points to its parent", "zones", [&](std::string& b) { PutBe32(b, firstChildAt, zonesRoot); }},
      {"child pointer not aligned", "zones",
       [&](std::string& b) { PutBe32(b, firstChildAt, zonesRoot + 100); }},
      {"child points to the header", "zones", [&](std::string& b) { PutBe32(b, firstChildAt, 0); }},
      {"bad node attributes", "zones", [&](std::string& b) { b[zonesRoot] = 9; }},
      {"interior node claims too many keys", "zones", [&](std::string& b) { b[zonesRoot + 2] = 100; }},
  };

  // Leaf damage: find the first leaf of Zones by following first children.
  uint32_t leaf = zonesRoot;
  while (!(zones[leaf] & 2)) leaf = static_cast<uint32_t>(
      (static_cast<uint8_t>(zones[leaf + 12 + zonesKeyLen + 4]) << 24) |
      (static_cast<uint8_t>(zones[leaf + 12 + zonesKeyLen + 5]) << 16) |
      (static_cast<uint8_t>(zones[leaf + 12 + zonesKeyLen + 6]) << 8) | static_cast<uint8_t>(zones[leaf + 12 + zonesKeyLen + 7]));
  const uint32_t secondLeaf = Le32(zones, leaf + 8);
  cases.push_back({"leaf is its own right sibling", "zones", [=](std::string& b) { PutLe32(b, leaf + 8, leaf); }});
  cases.push_back({"sibling cycle between two leaves", "zones",
                   [=](std::string& b) { PutLe32(b, secondLeaf + 8, leaf); }});
  cases.push_back({"entry size zero", "zones", [=](std::string& b) { b[leaf + 23] = 0; }});
  cases.push_back({"record bits wider than the entry", "zones", [=](std::string& b) { b[leaf + 20] = 40; }});
  cases.push_back({"masks disagree with bit counts", "zones", [=](std::string& b) { b[leaf + 18] = 0x3; }});
  cases.push_back({"leaf claims too many keys", "zones", [=](std::string& b) { b[leaf + 2] = char(0xFF); }});
  cases.push_back({"keys out of order", "zones", [=](std::string& b) { b[leaf + 511] = '~'; }});

  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bytes = std::string(c.file) == "mixed" ? mixed : zones;
    c.apply(bytes);
    const std::string path = dir.File(std::string(c.file) + ".cdx");
    WriteFile(path, bytes);
    try {
      ReadEverything(path);
      ADD_FAILURE() << "no error";
    } catch (const XBaseError& e) {
      EXPECT_NE(std::string(e.what()).find(".cdx"), std::string::npos) << e.what();
    }
  }
}

// Random damage never crashes or hangs the reader: it either reads or raises
// XBaseError.
TEST(CdxCorrupt, RandomByteDamage) {
  TempDir dir;
  std::mt19937 rng(3);
  int failures = 0, rounds = 0;
  for (const std::string& src : {Small("Mixed.cdx"), Medium("Zones.cdx"), Medium("Provinces.cdx")}) {
    const std::string original = ReadFile(src);
    for (int round = 0; round < 100; ++round, ++rounds) {
      std::string bytes = original;
      const int flips = 1 + static_cast<int>(rng() % 8);
      for (int i = 0; i < flips; ++i) {
        // Aim half of the damage at page headers, where the pointers are.
        size_t at = rng() % bytes.size();
        if (rng() % 2) at = (at & ~size_t{511}) + rng() % 24;
        bytes[at] = static_cast<char>(rng());
      }
      const std::string path = dir.File("fuzz.cdx");
      WriteFile(path, bytes);
      try {
        ReadEverything(path);
      } catch (const XBaseError&) {
        ++failures;
      }
    }
  }
  EXPECT_GT(failures, rounds / 10);
}

}  // namespace
