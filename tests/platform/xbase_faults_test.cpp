// Table writes under every injected fault: whatever failed, the table that is
// opened afterwards holds each record at most once, none lost that the
// operation was not to remove, no end-of-file mark inside a record, and a tag
// that agrees with the records.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/fault.h"
#include "platform/xbase/error.h"
#include "platform/xbase/table.h"
#include "tests/fault_points.h"
#include "xbase_test_util.h"

namespace {

using xbase::Table;

// Ids 1..8; the odd ones marked deleted.
void MakeTable(const std::string& base) {
  auto t = Table::Create(base, {{"ID", 'N', 5, 0}, {"NAME", 'C', 10, 0}}, {{"ID", "ID", "", false, false}});
  for (int id = 1; id <= 8; ++id) {
    t->AppendBlank();
    t->Replace(0, std::to_string(id));
    t->Replace(1, "N" + std::to_string(id));
    if (id % 2) t->Delete();
  }
  t->Flush();
}

struct State {
  std::multiset<int> live, deleted;
};

// Reads the table back through a fresh open and checks what must hold after
// any failure.
State Check(const std::string& base) {
  State s;
  auto t = Table::Open(base);
  const int tag = t->FindTag("ID");
  EXPECT_GE(tag, 0);
  std::map<uint32_t, std::string> keys;
  for (uint32_t r = 1; r <= t->RecordCount(); ++r) {
    EXPECT_TRUE(t->Go(r));
    const char flag = t->Record()[0];
    EXPECT_TRUE(flag == ' ' || flag == '*') << "record " << r << " starts with byte " << int(flag);
    const int id = static_cast<int>(t->FieldNumber(0));
    (t->Deleted() ? s.deleted : s.live).insert(id);
    keys[r] = xbase::EncodeNumericKey(id);
  }
  std::map<uint32_t, std::string> indexed;
  for (const auto& e : t->TagEntries(tag)) EXPECT_TRUE(indexed.emplace(e.recno, e.key).second) << "recno twice";
  EXPECT_EQ(indexed, keys) << "the tag disagrees with the records";
  return s;
}

TEST(XBaseFaults, WritesLeaveASoundTable) {
  struct Case {
    const char* what;
    std::function<void(Table&)> op;
    std::multiset<int> mustStay;  // live records the operation may not remove
    std::multiset<int> mayGo;     // live records it removes when it succeeds
  };
  const std::vector<Case> cases = {
      {"pack", [](Table& t) { t.Pack(); }, {2, 4, 6, 8}, {}},
      {"zap of records 3..5", [](Table& t) { t.Zap(3, 5); }, {2, 6, 8}, {4}},
      {"key change", [](Table& t) {
         t.SelectTag(t.FindTag("ID"));
         ASSERT_TRUE(t.Top());
         t.Replace(0, "99");
         t.Flush();
       }, {4, 6, 8}, {2}},
  };
  xbtest::TempDir dir;
  const std::string base = dir / "t";
  int fired = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fired += faults::ForEachPoint(
        [&] {
          xbtest::TempDir::Remove(base + ".dbf");
          xbtest::TempDir::Remove(base + ".cdx");
          MakeTable(base);
        },
        [&] {
          try {
            auto t = Table::Open(base);
            t->LockFile();
            c.op(*t);
            t->Unlock();
          } catch (const xbase::XBaseError&) {
          }
        },
        [&](const faults::Point&, bool) {
          State s;
          try {
            s = Check(base);
          } catch (const xbase::XBaseError& e) {
            ADD_FAILURE() << "the table cannot be read back: " << e.what();
            return;
          }
          for (int id : s.live) {
            EXPECT_EQ(s.live.count(id), 1u) << "record " << id << " is there twice";
            EXPECT_TRUE(c.mustStay.count(id) || c.mayGo.count(id) || id == 99) << "record " << id << " came back";
          }
          for (int id : c.mustStay) EXPECT_EQ(s.live.count(id), 1u) << "record " << id << " was lost";
        });
  }
  EXPECT_GT(fired, 20);
}

}  // namespace
