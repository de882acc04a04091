// The table-access calls, used the way the program's parts use them.
#include "setup/TableAccess.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/platform/xbase_test_util.h"

using namespace xbtest;

namespace {

class TableAccess : public ::testing::Test {
 protected:
  void SetUp() override { engine = OpenData(); }
  void TearDown() override { CloseData(engine); }
  // Windows-style name, as the callers form it.
  std::string Name(const std::string& table) const { return dir.path() + "\\" + table; }
  void Copy(const std::string& table) { CopyTable("small", table, dir.path()); }

  TempDir dir;
  int engine = 0;
};

std::vector<std::string> ReadAll(int t, const std::string& field) {
  std::vector<std::string> out;
  for (int rc = d4top(t); rc == 0; rc = d4skip(t, 1)) out.push_back(fetch(t, field));
  return out;
}

std::vector<std::string> ReadByKey(int t, const std::string& key, const std::string& field) {
  std::vector<std::string> out;
  for (int rc = d4seek(t, key); rc == 0; rc = d4seekNext(t, key)) out.push_back(fetch(t, field));
  return out;
}

}  // namespace

TEST_F(TableAccess, EngineHandleIsSetAndCleared) {
  EXPECT_NE(engine, 0);
  EXPECT_EQ(AppEngine, engine);
  int other = OpenData();
  EXPECT_NE(other, engine);
  CloseData(other);
  EXPECT_EQ(AppEngine, 0);
  EXPECT_EQ(mOpen(other, Name("Labels"), ""), 0);
  AppEngine = engine;
}

TEST_F(TableAccess, ReadAllInTagOrderWithoutPadBlanks) {
  Copy("Labels");
  Copy("Mixed");
  int t = mOpen(engine, Name("Labels"), "document");
  ASSERT_NE(t, 0) << LastErrorText();
  EXPECT_EQ(ReadAll(t, "file_name"),
            (std::vector<std::string>{"labels/0001000001_001_0.zpl", "labels/0001000003_002_0.zpl",
                                      "labels/0001000001_001_1.zpl", "labels/0001000002_001_2.zpl",
                                      "labels/0001000004_001_2.zpl"}));
  ASSERT_EQ(d4top(t), 0);
  EXPECT_EQ(fetch(t, "DOCUMENT"), "0");
  EXPECT_EQ(ifetch(t, "shipment"), 1000001);
  EXPECT_EQ(fetch(t, "shipment"), "1000001");
  EXPECT_EQ(d4recNo(t), 2);
  EXPECT_EQ(d4deleted(t), 0);
  EXPECT_EQ(d4recCountDo(t), 6);
  EXPECT_EQ(d4close(t), 0);

  int m = mOpen(engine, Name("Mixed"), "");
  ASSERT_NE(m, 0);
  ASSERT_EQ(d4go(m, 12), 0);
  EXPECT_EQ(fetch(m, "NAME"), " lead space");  // leading blanks are data
  EXPECT_EQ(fetch(m, "NUM"), "1.00");
  EXPECT_EQ(ifetch(m, "NUM"), 1);
  ASSERT_EQ(d4go(m, 3), 0);
  EXPECT_EQ(d4deleted(m), 1);
  EXPECT_EQ(ifetch(m, "NUM"), -10);
  EXPECT_EQ(fetch(m, "DAY"), "20231231");
  EXPECT_EQ(fetch(m, "FLAG"), "T");
  ASSERT_EQ(d4go(m, 7), 0);
  EXPECT_EQ(fetch(m, "NUM"), "");
  EXPECT_EQ(d4numFields(m), 6);
  EXPECT_EQ(d4fieldName(m, 1), "ID");
  EXPECT_EQ(d4fieldName(m, 6), "FLAG");
  EXPECT_EQ(d4fieldName(m, 7), "");
  EXPECT_NE(d4go(m, 16), 0);
  EXPECT_EQ(fetch(m, "NAME"), "");  // no current record
  EXPECT_EQ(d4close(m), 0);
}

// The read in one call gives what d4top, d4skip(1) and fetch give, field for
// field, in record order and in tags with deleted records, a filter, a
// descending order and unique keys.
TEST_F(TableAccess, ReadAllInOneCallIsTheWalk) {
  Copy("Mixed");
  Copy("Labels");
  const std::pair<const char*, const char*> cases[] = {
      {"Mixed", ""}, {"Mixed", "NAME_F"}, {"Mixed", "NUM_D"}, {"Mixed", "CODE_U"}, {"Labels", "document"}};
  std::vector<std::string> rows;
  for (const auto& [table, tag] : cases) {
    SCOPED_TRACE(std::string(table) + " " + tag);
    const int t = mOpen(engine, Name(table), tag);
    ASSERT_NE(t, 0) << LastErrorText();
    std::vector<std::string> fields, walked;
    for (int i = 1; i <= d4numFields(t); ++i) fields.push_back(d4fieldName(t, i));
    for (int rc = d4top(t); rc == 0; rc = d4skip(t, 1))
      for (const auto& f : fields) walked.push_back(fetch(t, f));
    rows = {"stale"};
    EXPECT_EQ(d4readAll(t, fields, rows), 0) << LastErrorText();
    EXPECT_EQ(rows, walked);
    EXPECT_EQ(d4recNo(t), 0);
    EXPECT_NE(d4readAll(t, {fields[0], "NOFIELD"}, rows), 0);
    EXPECT_TRUE(rows.empty());
    EXPECT_EQ(d4close(t), 0);
  }
  EXPECT_NE(d4readAll(0, {}, rows), 0);
}

TEST_F(TableAccess, ReadByNumericKey) {
  Copy("Package");
  int t = mOpen(engine, Name("Package"), "shipmentid");
  ASSERT_NE(t, 0) << LastErrorText();
  std::vector<int> pkgs;
  for (int rc = d4seekDouble(t, 1000015); rc == 0; rc = d4seekNextDouble(t, 1000015)) pkgs.push_back(ifetch(t, "pkg_no"));
  EXPECT_EQ(pkgs, (std::vector<int>{1, 2, 3}));  // package 4 is deleted
  EXPECT_NE(d4seekDouble(t, 1000016), 0);
  EXPECT_EQ(d4seekDouble(t, 1000027), 0);
  EXPECT_EQ(fetch(t, "reference1"), "PKG 2/2");
  EXPECT_NE(d4seekNextDouble(t, 1000027), 0);
  EXPECT_EQ(d4close(t), 0);
}

TEST_F(TableAccess, RewriteByKeyKeepsOtherZonesRows) {
  Copy("Zones");
  int t = mOpen(engine, Name("Zones"), "zone");
  ASSERT_NE(t, 0) << LastErrorText();
  ASSERT_EQ(d4lockFile(t), 0);
  int deleted = 0;
  for (int rc = d4seek(t, "1 "); rc == 0; rc = d4seekNext(t, "1 ")) {
    EXPECT_EQ(d4delete(t), 0);
    ++deleted;
  }
  EXPECT_EQ(deleted, 1);
  EXPECT_EQ(d4pack(t), 0);
  EXPECT_EQ(d4unlock(t), 0);
  for (const char* name : {"Zone 1 - first", "Zone 1 - second"}) {
    ASSERT_EQ(d4appendBlank(t), 0);
    EXPECT_EQ(replace(t, "zone", "1"), 0);
    EXPECT_EQ(replace(t, "name", name), 0);
  }
  EXPECT_EQ(d4flush(t), 0);
  EXPECT_EQ(d4close(t), 0);

  t = mOpen(engine, Name("Zones"), "zone");
  ASSERT_NE(t, 0);
  EXPECT_EQ(d4recCountDo(t), 12);  // 12 - 2 packed + 2 new
  EXPECT_EQ(ReadByKey(t, "1 ", "name"), (std::vector<std::string>{"Zone 1 - first", "Zone 1 - second"}));
  EXPECT_EQ(ReadByKey(t, "10 ", "name"), (std::vector<std::string>{"Zone 10 - Toronto"}));
  EXPECT_EQ(ReadByKey(t, "1", "zone"), (std::vector<std::string>{"1", "1", "10", "100", "101", "11", "1A"}));
  EXPECT_EQ(d4close(t), 0);
}

TEST_F(TableAccess, TagsAddedToAnUnindexedTable) {
  Copy("Postal");
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    int t = mOpen(engine, Name("Postal"), "");
    ASSERT_NE(t, 0) << LastErrorText();
    int index = d4index(t, "");
    ASSERT_NE(index, 0);
    std::vector<TAG4INFO> tags(2);
    tags[0].name = "postal_cod";
    tags[0].expression = "postal_cod";
    EXPECT_EQ(i4tagAdd(index, tags), 0) << LastErrorText();
    int tag = d4tag(t, "postal_cod");
    ASSERT_NE(tag, 0);
    EXPECT_EQ(d4tagSelectP(t, tag), 0);
    EXPECT_EQ(ReadByKey(t, "C", "postal_cod"), (std::vector<std::string>{"C3W5V3", "C5B8R6", "C5Y5S6", "C6S3Z9"}));
    EXPECT_EQ(ReadByKey(t, "J8", "town"), (std::vector<std::string>{"Edmonton"}));
    EXPECT_EQ(d4tag(t, "nosuch"), 0);
    EXPECT_EQ(d4tagSelectP(t, 0), 0);  // record order again
    ASSERT_EQ(d4top(t), 0);
    EXPECT_EQ(fetch(t, "postal_cod"), "T8X0K3");
    EXPECT_EQ(d4close(t), 0);
  }
  EXPECT_TRUE(d4exists(Name("POSTAL")));
}

TEST_F(TableAccess, CreateZoneTablesAndZapLabels) {
  std::vector<FIELD4INFO> fields = {{"zone", 'C', 9, 0}, {"area", 'C', 10, 0}, {"area_to", 'C', 10, 0}};
  std::vector<TAG4INFO> tags(1);
  tags[0].name = "zone";
  tags[0].expression = "zone";
  EXPECT_FALSE(d4exists(Name("AreaToZone")));
  int t = d4create(engine, Name("AreaToZone"), fields, tags);
  ASSERT_NE(t, 0) << LastErrorText();
  EXPECT_TRUE(d4exists(Name("areatozone")));
  EXPECT_EQ(d4create(engine, Name("AREATOZONE"), fields, tags), 0);
  EXPECT_FALSE(LastErrorText().empty());
  for (const char* z : {"2", "10", "1", "1"}) {
    ASSERT_EQ(d4appendBlank(t), 0);
    ASSERT_EQ(replace(t, "zone", z), 0);
    ASSERT_EQ(replace(t, "area", std::string("CAON") + "******"), 0);
  }
  EXPECT_EQ(d4close(t), 0);
  EXPECT_EQ(ReadFile(dir / "AreaToZone.dbf").substr(0, 1), "\x03");

  t = mOpen(engine, Name("AreaToZone"), "zone");
  ASSERT_NE(t, 0) << LastErrorText();
  std::vector<int> recs;
  for (int rc = d4seek(t, "1 "); rc == 0; rc = d4seekNext(t, "1 ")) recs.push_back(d4recNo(t));
  EXPECT_EQ(recs, (std::vector<int>{3, 4}));
  ASSERT_EQ(d4lockFile(t), 0);
  EXPECT_EQ(d4zap(t, 1, 0), 0);  // nothing to remove
  EXPECT_EQ(d4recCountDo(t), 4);
  EXPECT_EQ(d4zap(t, 1, 3), 0);
  EXPECT_EQ(d4recCountDo(t), 1);
  EXPECT_EQ(d4unlock(t), 0);
  ASSERT_EQ(d4top(t), 0);
  EXPECT_EQ(fetch(t, "zone"), "1");
  EXPECT_NE(d4skip(t, 1), 0);
  EXPECT_EQ(d4close(t), 0);
}

TEST_F(TableAccess, CountSeesAnotherWritersAppends) {
  Copy("Labels");
  int reader = mOpen(engine, Name("Labels"), "");
  int writer = mOpen(engine, Name("labels"), "DOCUMENT");
  ASSERT_NE(reader, 0);
  ASSERT_NE(writer, 0);
  EXPECT_EQ(d4recCountDo(reader), 6);
  ASSERT_EQ(d4appendBlank(writer), 0);
  ASSERT_EQ(replace(writer, "document", "1"), 0);
  EXPECT_EQ(d4recCountDo(reader), 7);
  // One lock at a time, released by close.
  EXPECT_EQ(d4lockFile(writer), 0);
  EXPECT_NE(d4lockFile(reader), 0);
  EXPECT_NE(LastErrorText().find("locked"), std::string::npos);
  EXPECT_EQ(d4close(writer), 0);
  EXPECT_EQ(d4lockFile(reader), 0);
  EXPECT_EQ(d4close(reader), 0);
}

TEST_F(TableAccess, FailuresAreResultsWithAText) {
  Copy("Mixed");
  EXPECT_EQ(mOpen(engine, Name("NoSuchTable"), ""), 0);
  EXPECT_NE(LastErrorText().find("NoSuchTable"), std::string::npos);
  EXPECT_EQ(mOpen(engine, Name("Mixed"), "NOTAG"), 0);
  EXPECT_NE(LastErrorText().find("NOTAG"), std::string::npos);
  EXPECT_EQ(mOpen(engine, "Q:\\nowhere\\Mixed", ""), 0);  // a drive that names nothing

  for (int bad : {0, -5, 999999}) {
    EXPECT_NE(d4top(bad), 0);
    EXPECT_NE(d4seek(bad, "x"), 0);
    EXPECT_NE(d4close(bad), 0);
    EXPECT_NE(replace(bad, "a", "b"), 0);
    EXPECT_EQ(fetch(bad, "a"), "");
    EXPECT_EQ(ifetch(bad, "a"), 0);
    EXPECT_EQ(d4index(bad, ""), 0);
    EXPECT_NE(i4tagAdd(bad, {}), 0);
    EXPECT_EQ(d4tag(bad, "x"), 0);
    EXPECT_LT(d4recCountDo(bad), 0);
  }

  int t = mOpen(engine, Name("Mixed"), "");
  ASSERT_NE(t, 0);
  EXPECT_NE(replace(t, "NAME", "x"), 0);  // no current record
  ASSERT_EQ(d4go(t, 1), 0);
  EXPECT_NE(replace(t, "NOFIELD", "x"), 0);
  EXPECT_NE(replace(t, "NUM", "12345678.9"), 0);  // does not fit N(10,2)
  EXPECT_NE(LastErrorText().find("NUM"), std::string::npos);
  EXPECT_EQ(fetch(t, "NUM"), "10.50");  // unchanged
  EXPECT_NE(replace(t, "NUM", "abc"), 0);
  EXPECT_EQ(replace(t, "NUM", "-99999.999"), 0);
  EXPECT_EQ(fetch(t, "NUM"), "-100000.00");
  EXPECT_NE(d4seek(t, "A"), 0);  // no tag selected
  int index = d4index(t, "");
  std::vector<TAG4INFO> tags(1);
  tags[0].name = "BADTAG";
  tags[0].expression = "NAME +";
  EXPECT_NE(i4tagAdd(index, tags), 0);
  EXPECT_NE(LastErrorText().find("NAME +"), std::string::npos);
  EXPECT_EQ(d4tag(t, "BADTAG"), 0);
  EXPECT_EQ(d4index(t, "other"), 0);
  EXPECT_NE(d4tagSelectP(t, index), 0);  // an index handle is not a tag
  EXPECT_EQ(d4close(t), 0);
  EXPECT_NE(d4close(t), 0);  // closed already
}
