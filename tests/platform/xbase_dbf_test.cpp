// DBF files: field storage, header upkeep, other layouts, and damaged headers.
#include "platform/xbase/dbf.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>

#include "platform/xbase/error.h"
#include "tests/platform/xbase_test_util.h"

using namespace xbase;
using namespace xbtest;

namespace {

uint32_t HeaderCount(const std::string& bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  return p[4] | (p[5] << 8) | (p[6] << 16) | (static_cast<uint32_t>(p[7]) << 24);
}

// A header for one C(5) field, fixed up by the caller.
std::string MakeHeader(uint8_t version, int backlink = 0) {
  int headerLen = 32 + 32 + 1 + backlink;
  std::string h(static_cast<size_t>(headerLen), '\0');
  h[0] = static_cast<char>(version);
  h[8] = static_cast<char>(headerLen & 0xFF);
  h[9] = static_cast<char>(headerLen >> 8);
  h[10] = 6;
  std::memcpy(&h[32], "NAME", 4);
  h[32 + 11] = 'C';
  h[32 + 16] = 5;
  h[64] = 0x0D;
  return h;
}

}  // namespace

TEST(Dbf, FieldsStoreAndReadBack) {
  TempDir dir;
  auto t = Dbf::Create(dir / "f.dbf",
                       {{"name", 'C', 6, 0}, {"amt", 'N', 9, 2}, {"n0", 'N', 4, 0}, {"day", 'D', 8, 0},
                        {"ok", 'L', 1, 0}, {"i", 'I', 4, 0}, {"b", 'B', 8, 3}, {"y", 'Y', 8, 4}, {"t", 'T', 8, 0}},
                       false);
  std::string rec = t->BlankRecord();
  struct Case {
    const char* field;
    const char* in;
    const char* raw_or_text;
  } cases[] = {
      {"NAME", "abc", "abc   "},          {"NAME", "abcdefgh", "abcdef"},   {"NAME", "", "      "},
      {"AMT", "10.5", "    10.50"},       {"AMT", "-3.456", "    -3.46"}, {"AMT", "2.675", "     2.68"},
      {"AMT", "-0.001", "    -0.00"},     {"AMT", " 7 ", "     7.00"},   {"AMT", "", "         "},
      {"N0", "12", "  12"},               {"N0", "-999", "-999"},        {"DAY", "20240115", "20240115"},
      {"OK", "T", "T"},                   {"OK", ".f.", "F"},            {"OK", "y", "T"},
      {"I", "-123456", "-123456"},        {"B", "1.5", "1.500"},         {"Y", "12.34567", "12.3457"},
      {"T", "20240115103000", "20240115103000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.field) + "=" + c.in);
    int f = t->FieldIndex(c.field);
    ASSERT_GE(f, 0);
    t->SetField(rec, f, c.in);
    EXPECT_EQ(t->FieldText(rec, f), c.raw_or_text);
  }
  EXPECT_DOUBLE_EQ(t->FieldNumber(rec, t->FieldIndex("I")), -123456);
  EXPECT_DOUBLE_EQ(t->FieldNumber(rec, t->FieldIndex("Y")), 12.3457);
  EXPECT_DOUBLE_EQ(t->FieldNumber(rec, t->FieldIndex("DAY")), DateTextToJulian("20240115"));
  // Values that cannot be stored leave the record as it was.
  std::string before = rec;
  for (auto [field, value] : {std::pair{"AMT", "1234567.1"}, {"N0", "12345"}, {"AMT", "12x"}, {"OK", "maybe"},
                              {"I", "3000000000"}, {"T", "2024"}}) {
    SCOPED_TRACE(field);
    EXPECT_THROW(t->SetField(rec, t->FieldIndex(field), value), XBaseError);
  }
  EXPECT_EQ(rec, before);
  EXPECT_EQ(t->FieldIndex("nosuch"), -1);
  EXPECT_EQ(t->FieldIndex("amt"), 1);
}

TEST(Dbf, AppendZapPackKeepHeaderAndEndMark) {
  TempDir dir;
  std::string path = dir / "a.dbf";
  {
    auto t = Dbf::Create(path, {{"N", 'N', 3, 0}}, true);
    EXPECT_TRUE(t->IndexFlag());
    for (int i = 1; i <= 6; ++i) {
      std::string rec = t->BlankRecord();
      t->SetField(rec, 0, std::to_string(i));
      if (i % 2 == 0) rec[0] = '*';
      EXPECT_EQ(t->AppendRecord(rec), static_cast<uint32_t>(i));
    }
    EXPECT_EQ(t->RecordCount(), 6u);
    std::string b = ReadFile(path);
    EXPECT_EQ(HeaderCount(b), 6u);
    EXPECT_EQ(b.size(), 32u + 32u + 1u + 6u * 4u + 1u);
    EXPECT_EQ(b.back(), '\x1A');
    EXPECT_EQ(t->Pack(), 3u);
    EXPECT_EQ(t->RecordCount(), 3u);
    std::string rec;
    ASSERT_TRUE(t->ReadRecord(2, rec));
    EXPECT_EQ(t->FieldText(rec, 0), "  3");
    EXPECT_EQ(t->Zap(1, 2), 2u);
    ASSERT_TRUE(t->ReadRecord(1, rec));
    EXPECT_EQ(t->FieldText(rec, 0), "  5");
    EXPECT_FALSE(t->ReadRecord(2, rec));
    t->Flush();
  }
  std::string b = ReadFile(path);
  EXPECT_EQ(HeaderCount(b), 1u);
  EXPECT_EQ(b.size(), 65u + 4u + 1u);
  EXPECT_EQ(b.back(), '\x1A');
  EXPECT_EQ(static_cast<unsigned char>(b[0]), 0x03);
  EXPECT_EQ(static_cast<unsigned char>(b[28]), 0x01);
  EXPECT_GE(static_cast<unsigned char>(b[2]), 1);  // month of the update
  EXPECT_THROW(Dbf::Create(path, {{"N", 'N', 3, 0}}, false), XBaseError);
}

TEST(Dbf, CountIsReadFromTheFileEachTime) {
  TempDir dir;
  std::string path = dir / "c.dbf";
  auto writer = Dbf::Create(path, {{"A", 'C', 2, 0}}, false);
  auto reader = Dbf::Open(path);
  EXPECT_EQ(reader->RecordCount(), 0u);
  writer->AppendRecord(writer->BlankRecord());
  writer->AppendRecord(writer->BlankRecord());
  EXPECT_EQ(reader->RecordCount(), 2u);
  // A header that counts more than the file holds is not believed.
  std::string b = ReadFile(path);
  b[4] = 9;
  WriteFile(path, b);
  EXPECT_EQ(reader->RecordCount(), 2u);
  // Caught in the middle of another program's append (count ahead, half a
  // record written): the table opens with its whole records.
  b[4] = 3;
  b.back() = ' ';
  WriteFile(path, b + " ");
  auto during = Dbf::Open(path);
  EXPECT_EQ(during->RecordCount(), 2u);
  EXPECT_TRUE(during->MayBeAppending(3));
  EXPECT_FALSE(during->MayBeAppending(2));
  EXPECT_FALSE(during->MayBeAppending(3 + Dbf::kAppendsInFlight + 1));
}

TEST(Dbf, OtherLayoutsOpen) {
  TempDir dir;
  for (uint8_t version : {0x03, 0x83, 0xF5, 0x30, 0x31}) {
    SCOPED_TRACE(static_cast<int>(version));
    bool vfp = version == 0x30 || version == 0x31;
    std::string h = MakeHeader(version, vfp ? 263 : 0);
    std::string path = dir / ("v" + std::to_string(version) + ".DBF");
    h[4] = 1;
    WriteFile(path, h + " hello\x1A");
    auto t = Dbf::Open(path);
    ASSERT_EQ(t->Fields().size(), 1u);
    EXPECT_EQ(t->RecordCount(), 1u);
    std::string rec;
    ASSERT_TRUE(t->ReadRecord(1, rec));
    EXPECT_EQ(t->FieldText(rec, 0), "hello");
  }
  // Memo fields read as empty text and cannot be written.
  auto m = Dbf::Create(dir / "m.dbf", {{"NOTE", 'M', 10, 0}, {"A", 'C', 1, 0}}, false);
  EXPECT_EQ(m->Version(), 0xF5);
  std::string rec = m->BlankRecord();
  std::memcpy(&rec[1], "        12", 10);
  EXPECT_EQ(m->FieldText(rec, 0), "");
  EXPECT_THROW(m->SetField(rec, 0, "x"), XBaseError);
  EXPECT_EQ(::access((dir / "m.fpt").c_str(), F_OK), 0);
}

TEST(Dbf, DamagedHeadersFailClearly) {
  TempDir dir;
  std::string good = MakeHeader(0x03);
  auto with = [&](size_t at, char v) {
    std::string h = good;
    h[at] = v;
    return h;
  };
  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"empty", ""},
      {"short", good.substr(0, 20)},
      {"unknown version", with(0, 0x7F)},
      {"header length past the file", with(9, 0x10)},
      {"header length too small", with(8, 0x20)},
      {"no terminator", with(64, 'X') + std::string(40, 'Y')},
      {"record length mismatch", with(10, 9)},
      {"count past any append in progress", with(4, 10) + "     \x1A"},
      {"zero-length field", with(48, 0)},
      {"unknown field type", with(43, '?')},
      {"date of length 5", [&] {
         std::string h = with(43, 'D');
         return h;
       }()},
      {"too many decimals", [&] {
         std::string h = with(43, 'N');
         h[49] = 5;
         return h;
       }()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string path = dir / "bad.dbf";
    WriteFile(path, c.bytes);
    try {
      Dbf::Open(path);
      ADD_FAILURE() << "opened";
    } catch (const XBaseError& e) {
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
  }
#ifndef _WIN32
  // A FIFO under the table's name neither hangs nor opens (FIFOs are POSIX's).
  std::string fifo = dir / "fifo.dbf";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_THROW(Dbf::Open(fifo), XBaseError);
#endif
  EXPECT_THROW(Dbf::Open(dir / "missing.dbf"), XBaseError);
}
