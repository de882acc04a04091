// Table writes under every injected fault: whatever failed, the table that is
// opened afterwards holds each record at most once, none lost that the
// operation was not to remove, no end-of-file mark inside a record, and a tag
// that agrees with the records.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <thread>
#include <utility>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/fault.h"
#include "platform/xbase/error.h"
#include "platform/xbase/table.h"
#include "platform/xbase/undo.h"
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

// ---------------------------------------------------------------------------
// Removing records is all or nothing: a pack or remove that fails, or whose
// process dies, leaves the table exactly as before or exactly as after.

// (id, marked deleted) in record order.
using Rows = std::vector<std::pair<int, bool>>;

std::string NameOf(int id) { return "name-" + std::to_string(id) + "-" + std::to_string(id * 7919 % 10007); }

// Ids 1..n with a name that depends on the id (a torn or misplaced record
// shows); every 7th marked deleted.
void MakeNumbered(const std::string& base, int n) {
  auto t = Table::Create(base, {{"ID", 'N', 7, 0}, {"NAME", 'C', 93, 0}}, {{"ID", "ID", "", false, false}});
  for (int id = 1; id <= n; ++id) {
    t->AppendBlank();
    t->Replace(0, std::to_string(id));
    t->Replace(1, NameOf(id));
    if (id % 7 == 0) t->Delete();
  }
  t->Flush();
}

// Opens the table afresh (which puts back a remove left half done), then reads
// every record from the file's bytes (one read: every fault point reads these
// large tables, and record-by-record reads cost far more on some systems);
// checks flags, names and that the tag agrees with the records.
Rows ReadRows(const std::string& base) {
  Rows rows;
  auto t = Table::Open(base);
  const uint32_t count = t->RecordCount();
  const size_t header = static_cast<size_t>(t->Data().HeaderLength());
  const size_t len = static_cast<size_t>(t->Data().RecordLength());
  std::map<uint32_t, std::string> indexed;
  for (const auto& e : t->TagEntries(t->FindTag("ID"))) indexed.emplace(e.recno, e.key);
  t.reset();
  const std::string bytes = xbtest::ReadFile(base + ".dbf");
  if (len != 101 || bytes.size() < header + len * count) {
    ADD_FAILURE() << "record length " << len << ", " << count << " records in " << bytes.size() << " bytes";
    return rows;
  }
  std::map<uint32_t, std::string> keys;
  for (uint32_t r = 1; r <= count; ++r) {
    const std::string_view rec(bytes.data() + header + len * (r - 1), len);
    EXPECT_TRUE(rec[0] == ' ' || rec[0] == '*') << "record " << r << " starts with byte " << int(rec[0]);
    const int id = std::atoi(std::string(rec.substr(1, 7)).c_str());
    std::string name = NameOf(id);
    name.resize(93, ' ');
    EXPECT_EQ(rec.substr(8), name) << "record " << r << " is damaged";
    rows.emplace_back(id, rec[0] == '*');
    keys[r] = xbase::EncodeNumericKey(id);
  }
  EXPECT_EQ(indexed, keys) << "the tag disagrees with the records";
  return rows;
}

Rows AfterRemoving(const Rows& before, int every) {
  Rows after;
  for (const auto& [id, deleted] : before)
    if (!deleted && (every == 0 || id % every != 0)) after.emplace_back(id, false);
  return after;
}

// Once the records are moved and the places behind them marked deleted the
// remove has happened; a failure cutting the count leaves those places.
Rows WithoutDeletedTail(Rows rows) {
  while (!rows.empty() && rows.back().second) rows.pop_back();
  return rows;
}

std::vector<uint32_t> RecordsOf(const Rows& rows, int every) {
  std::vector<uint32_t> recs;
  if (every == 0) return recs;
  for (size_t i = 0; i < rows.size(); ++i)
    if (rows[i].first % every == 0) recs.push_back(static_cast<uint32_t>(i + 1));
  return recs;
}

// The table's files as bytes, put back over the same files (other handles
// would keep them) with no undo file beside them.
struct Files {
  std::string dbf, cdx;
  void Take(const std::string& base) {
    dbf = xbtest::ReadFile(base + ".dbf");
    cdx = xbtest::ReadFile(base + ".cdx");
  }
  void Put(const std::string& base) const {
    xbtest::WriteFile(base + ".dbf", dbf);
    xbtest::WriteFile(base + ".cdx", cdx);
    std::remove(xbase::UndoPathFor(base + ".dbf").c_str());
    std::remove((base + ".cdx.tags").c_str());
  }
};

using vvtest::Exists;

TEST(XBaseRemoveAtomic, AllOrNothingUnderEveryFault) {
  struct Case {
    const char* what;
    int records;
    int every;  // remove ids divisible by it too (0: a plain pack)
  };
  // 25,000 records of 101 bytes take several of the 1 MB steps a pack
  // moves records in, so a disk that fills half way leaves moved and
  // unmoved steps behind.
  const Case cases[] = {{"pack of a small table", 60, 0},
                        {"remove from a small table", 60, 3},
                        {"pack of a table over 1 MB", 25000, 0},
                        {"remove from a table over 1 MB", 25000, 5}};
  xbtest::TempDir dir;
  const std::string base = dir / "t", undo = xbase::UndoPathFor(base + ".dbf");
  int fired = 0, putBackAtOpen = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    xbtest::TempDir::Remove(base + ".dbf");
    xbtest::TempDir::Remove(base + ".cdx");
    MakeNumbered(base, c.records);
    Files files;
    files.Take(base);
    const Rows before = ReadRows(base);
    const Rows after = AfterRemoving(before, c.every);
    const std::vector<uint32_t> recs = RecordsOf(before, c.every);
    ASSERT_NE(before, after);
    fired += faults::ForEachPoint(
        [&] { files.Put(base); },
        [&] {
          try {
            auto t = Table::Open(base);
            if (!t->LockFile()) return;
            if (c.every == 0) {
              t->Pack();
            } else {
              t->Remove(recs);
            }
            t->Unlock();
          } catch (const xbase::XBaseError&) {
          }
        },
        [&](const faults::Point&, bool hit) {
          if (Exists(undo)) ++putBackAtOpen;
          Rows now;
          try {
            now = ReadRows(base);
          } catch (const xbase::XBaseError& e) {
            ADD_FAILURE() << "the table cannot be read back: " << e.what();
            return;
          }
          EXPECT_TRUE(now == before || WithoutDeletedTail(now) == after)
              << now.size() << " records, neither before nor after";
          if (!hit) {
            EXPECT_EQ(now, after);
          }
          EXPECT_FALSE(Exists(undo)) << "the undo file outlived the open";
        });
  }
  EXPECT_GT(fired, 100);
  std::printf("[ figures  ] remove injection points: %d (%d put back at the next open)\n", fired, putBackAtOpen);
  // A disk that stays full also fails the undo at once: those runs are put
  // back by the next open.
  EXPECT_GT(putBackAtOpen, 0);
}

// The remove runs in a second process killed at random moments; whoever opens
// the table next finds it as before or as after.
TEST(XBaseRemoveAtomic, KilledAtRandomMomentsLeavesBeforeOrAfter) {
  xbtest::TempDir dir;
  const std::string base = dir / "t", undo = xbase::UndoPathFor(base + ".dbf");
  MakeNumbered(base, 25000);
  Files files;
  files.Take(base);
  const Rows before = ReadRows(base), after = AfterRemoving(before, 4);

  // One run with the helper: start, wait for "ready", release, read "done";
  // killed after delay when given. span: from the release to the answer.
  std::chrono::microseconds span{};
  auto run = [&](std::chrono::microseconds delay, bool kill) {
    xbtest::HelperProcess h({VV_HELPER_remover_helper, base, "4"});
    std::string said = h.ReadLine();
    if (said == "ready") {
      const auto released = std::chrono::steady_clock::now();
      h.Write("g");
      if (kill) {
        std::this_thread::sleep_for(delay);
        h.Kill();
      }
      said = h.ReadLine();
      span = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - released);
    }
    h.Finish();
    return said;
  };

  ASSERT_EQ(run({}, false), "done");
  EXPECT_EQ(ReadRows(base), after);
  const auto whole = span;

  std::mt19937 rng(20261208);
  int asBefore = 0, asAfter = 0, leftUndo = 0;
  for (int i = 0; i < 40; ++i) {
    SCOPED_TRACE("run " + std::to_string(i));
    const auto delay = std::chrono::microseconds(rng() % static_cast<unsigned>(whole.count() + 1));
    if (!faults::Kept(static_cast<size_t>(i), 40, 8)) continue;  // a second process costs much more on Windows
    files.Put(base);
    run(delay, true);
    if (Exists(undo)) ++leftUndo;
    const Rows now = ReadRows(base);
    EXPECT_TRUE(now == before || WithoutDeletedTail(now) == after) << now.size() << " records, neither before nor after";
    asBefore += now == before;
    asAfter += WithoutDeletedTail(now) == after;
    EXPECT_FALSE(Exists(undo));
  }
  std::printf("[ figures  ] remove kills: %d as before (%d put back from the undo file), %d as after\n", asBefore,
              leftUndo, asAfter);
}

// Undo files found at open: a whole one is applied under the table's lock;
// none is touched while another process holds the lock (it may be removing
// right now); a cut-short one means the change never began; a read-only open
// cannot put the table right and says so.
TEST(XBaseRemoveAtomic, UndoFileFoundAtOpen) {
  xbtest::TempDir dir;
  const std::string base = dir / "t", dbf = base + ".dbf", undo = xbase::UndoPathFor(dbf);
  MakeNumbered(base, 50);
  const Rows before = ReadRows(base);
  const std::string original = xbtest::ReadFile(dbf);

  // What a process killed half way through leaves: the undo file and a table
  // with records moved over (the count is cut only after the undo file goes).
  const int64_t headerLen = 32 + 32 * 2 + 1, recordLen = 101;
  auto halfDone = [&] {
    plat::os::OpenRequest how;
    how.access = plat::os::Access::ReadWrite;
    const auto file = plat::os::Os().Open(dbf, how);
    ASSERT_TRUE(file);
    // A remove first marks the table's index as not to be trusted.
    const char pending = 1;
    ASSERT_TRUE(file->WriteAt(14, &pending, 1));
    xbase::SaveUndo(undo, *file, dbf, headerLen + recordLen * 3);
    const std::string junk(recordLen * 10, 'x');
    ASSERT_TRUE(file->WriteAt(headerLen + recordLen * 3, junk.data(), junk.size()));
  };
  halfDone();
  EXPECT_EQ(ReadRows(base), before);
  EXPECT_EQ(xbtest::ReadFile(dbf), original);
  EXPECT_FALSE(Exists(undo));

  halfDone();
  EXPECT_THROW(Table::Open(base, true), xbase::XBaseError);
  try {
    Table::Open(base, true);
  } catch (const xbase::XBaseError& e) {
    EXPECT_NE(std::string(e.what()).find("half way through removing records"), std::string::npos) << e.what();
  }
  EXPECT_TRUE(Exists(undo));
  EXPECT_EQ(ReadRows(base), before);

  {
    // Another handle with the lock stands for a process removing right now.
    auto holder = Table::Open(base);
    ASSERT_TRUE(holder->LockFile());
    halfDone();
    auto reader = Table::Open(base);
    EXPECT_TRUE(Exists(undo)) << "an undo file was applied under another's lock";
      std::string rec;
    ASSERT_TRUE(reader->Data().ReadRecord(5, rec));
    EXPECT_EQ(rec, std::string(recordLen, 'x'));
  }
  EXPECT_EQ(ReadRows(base), before);
  EXPECT_FALSE(Exists(undo));

  // Another program appended two records after the remove stopped: they
  // stay, behind the records put back.
  halfDone();
  {
    std::string added;
    for (int id : {51, 52}) {
      std::string num = std::to_string(id), name = NameOf(id);
      added += " " + std::string(7 - num.size(), ' ') + num + name + std::string(93 - name.size(), ' ');
    }
    added += '\x1A';
    plat::os::OpenRequest how;
    how.access = plat::os::Access::ReadWrite;
    const auto file = plat::os::Os().Open(dbf, how);
    ASSERT_TRUE(file);
    ASSERT_TRUE(file->WriteAt(headerLen + recordLen * 50, added.data(), added.size()));
    const unsigned char count[4] = {52, 0, 0, 0};
    ASSERT_TRUE(file->WriteAt(4, count, 4));
  }
  Rows withAdded = before;
  withAdded.emplace_back(51, false);
  withAdded.emplace_back(52, false);
  EXPECT_EQ(ReadRows(base), withAdded);
  EXPECT_FALSE(Exists(undo));
  {
    auto t = Table::Open(base);
    t->Zap(51, 52);
  }
  EXPECT_EQ(xbtest::ReadFile(dbf).substr(32), original.substr(32));

  // Cut short: written before the table was touched, so it is dropped.
  halfDone();
  xbtest::WriteFile(dbf, original);
  const std::string whole = xbtest::ReadFile(undo);
  xbtest::WriteFile(undo, whole.substr(0, whole.size() - 9));
  EXPECT_EQ(ReadRows(base), before);
  EXPECT_FALSE(Exists(undo));
  EXPECT_EQ(xbtest::ReadFile(dbf), original);
}

}  // namespace

namespace {

// A tag added under every fault: afterwards the table opens, lists its old
// tags (and the new one or not), and every tag agrees with the records. The
// index is rewritten in place, so a write cut short can leave the old header
// page over a new directory.
TEST(XBaseFaults, TagAddLeavesAnIndexThatOpens) {
  xbtest::TempDir dir;
  const std::string base = dir / "t";
  MakeNumbered(base, 300);
  Files files;
  files.Take(base);
  const Rows rows = ReadRows(base);
  int fired = faults::ForEachPoint(
      [&] { files.Put(base); },
      [&] {
        try {
          auto t = Table::Open(base);
          t->AddTags({{"NAME", "UPPER(NAME)", "", false, false}, {"BACK", "ID", "", false, true}});
        } catch (const xbase::XBaseError&) {
        }
      },
      [&](const faults::Point& p, bool hit) {
        std::unique_ptr<Table> t;
        try {
          t = Table::Open(base);
        } catch (const xbase::XBaseError& e) {
          ADD_FAILURE() << "the table no longer opens: " << e.what();
          return;
        }
        ASSERT_GE(t->FindTag("ID"), 0);
        if (!hit) {
          EXPECT_GE(t->FindTag("NAME"), 0);
          EXPECT_GE(t->FindTag("BACK"), 0);
        }
        for (int tag = 0; tag < t->TagCount(); ++tag) {
          SCOPED_TRACE(t->TagHeader(tag).name);
          std::multiset<uint32_t> indexed;
          for (const auto& e : t->TagEntries(tag)) indexed.insert(e.recno);
          EXPECT_EQ(indexed.size(), rows.size()) << "the tag disagrees with the records";
          EXPECT_EQ(std::set<uint32_t>(indexed.begin(), indexed.end()).size(), indexed.size());
        }
        t.reset();
        // (Left behind when its removal or the index's sync failed, which
        // does no harm.)
        if (p.op != plat::Op::Delete && p.op != plat::Op::Flush) {
          EXPECT_FALSE(Exists(base + ".cdx.tags")) << "the index was not written anew";
        }
        EXPECT_EQ(ReadRows(base), rows);
      });
  EXPECT_GT(fired, 5);
  std::printf("[ figures  ] tag add injection points: %d\n", fired);
}

// Every failed sync (of a table, the tag definitions beside its index, the
// undo file or the folder entry of any of them) is the operation's failure:
// callers such as the label pass count on the change being durable.
TEST(XBaseFaults, EverySyncFailureIsReported) {
  struct Case {
    const char* what;
    std::function<void(Table&)> op;
    long syncs;  // at least this many syncs, each one of them failed in turn
  };
  const std::vector<Case> cases = {
      {"a record changed", [](Table& t) { t.Replace(1, "changed"); }, 1},
      {"a record marked deleted", [](Table& t) { t.Delete(); }, 1},
      {"a tag added", [](Table& t) { t.AddTags({{"NAME", "NAME", "", false, false}}); }, 2},
      {"a pack", [](Table& t) { t.Pack(); }, 4},
  };
  xbtest::TempDir dir;
  const std::string base = dir / "t";
  MakeNumbered(base, 40);
  Files files;
  files.Take(base);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    bool threw = false;
    long syncs = 0;
    faults::ForEachPoint(
        [&] { files.Put(base); },
        [&] {
          threw = false;
          try {
            auto t = Table::Open(base);
            if (!t->LockFile() || !t->Go(3)) return;
            c.op(*t);
            t->Unlock();
          } catch (const xbase::XBaseError&) {
            threw = true;
          }
        },
        [&](const faults::Point& p, bool hit) {
          if (p.op != plat::Op::Flush) return;
          ++syncs;
          EXPECT_TRUE(hit);
          EXPECT_TRUE(threw) << "a failed sync was reported as success";
        },
        false);
    EXPECT_GE(syncs, c.syncs);
  }
}

}  // namespace
