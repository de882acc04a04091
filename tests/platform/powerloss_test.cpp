// Power cuts during the platform's own writes: the simulation itself (that it
// finds the faults it is there to find) and the settings and sort files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>
#include <memory>
#include <set>

#include "platform/ini.h"
#include "platform/os.h"
#include "platform/xbase/table.h"
#include "tests/support/files.h"
#include "tests/support/powerloss_os.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using vvtest::CrashState;
using plat::os::Os;
using vvtest::PowerLossOs;

namespace {

class PowerLoss : public ::testing::Test {
 protected:
  // Each case starts in a fresh, empty folder.
  void Fresh() {
    dir_ = std::make_unique<vvtest::TempDir>();
    root_ = dir_->path();
  }
  std::string At(const std::string& rel) const { return *dir_ / rel; }
  void Put(const std::string& rel, const std::string& bytes) {
    fs::create_directories(fs::path(At(rel)).parent_path());
    ASSERT_TRUE(vvtest::WriteFile(At(rel), bytes));
  }

  std::unique_ptr<vvtest::TempDir> dir_;
  std::string root_;
};

// Through the seam, as product code writes.
void Write(const std::string& path, const std::string& bytes, bool sync,
           plat::os::Disposition how = plat::os::Disposition::CreateOrTruncate) {
  auto f = plat::os::Os().Open(path, {plat::os::Access::ReadWrite, how});
  ASSERT_TRUE(f) << path;
  ASSERT_TRUE(f->WriteAt(0, bytes.data(), bytes.size()));
  if (sync) {
    ASSERT_TRUE(f->Sync());
  }
  ASSERT_TRUE(f->Close());
}

const std::string kOld(1024, 'o'), kNew(1024, 'n');

std::string Label(const std::string* bytes) {
  if (!bytes) return "-";
  if (*bytes == kOld) return "old";
  if (*bytes == kNew) return "new";
  return bytes->empty() ? "empty" : "torn";
}

// The simulation must show the states that expose the classic ordering
// faults, and no state the ordering rules out.
TEST_F(PowerLoss, StatesFollowWhatWasMadeDurable) {
  struct Case {
    const char* name;
    std::map<std::string, std::string> before;
    std::function<void(const std::function<std::string(const char*)>& at)> op;
    std::vector<std::string> watch;
    std::set<std::string> somewhere;  // each shows up at some point
    std::set<std::string> never;
    std::set<std::string> atEnd;      // exactly what the last point can show ({}: not checked)
  };
  const std::vector<Case> cases = {
      {"replace: data synced, rename, folder synced", {{"f", kOld}},
       [&](auto at) { Write(at("t"), kNew, true); Os().RenameReplace(at("t"), at("f")); Os().SyncFolder(at("")); },
       {"f"}, {"old", "new"}, {"empty", "torn", "-"}, {"new"}},
      {"rename before the data is synced", {{"f", kOld}},
       [&](auto at) { Write(at("t"), kNew, false); Os().RenameReplace(at("t"), at("f")); Os().SyncFolder(at("")); },
       {"f"}, {"old", "new", "empty", "torn"}, {"-"}, {}},
      {"rename whose folder is not synced", {{"f", kOld}},
       [&](auto at) { Write(at("t"), kNew, true); Os().RenameReplace(at("t"), at("f")); },
       {"f"}, {}, {"empty", "torn"}, {"old", "new"}},
      {"overwrite in place, no sync", {{"f", kOld}},
       [&](auto at) { Write(at("f"), kNew, false, plat::os::Disposition::OpenExisting); },
       {"f"}, {"old", "new", "torn"}, {"empty", "-"}, {}},
      {"overwrite in place, synced", {{"f", kOld}},
       [&](auto at) { Write(at("f"), kNew, true, plat::os::Disposition::OpenExisting); },
       {"f"}, {"torn"}, {}, {"new"}},
      {"truncate and rewrite, synced", {{"f", kOld}},
       [&](auto at) { Write(at("f"), kNew, true); },
       {"f"}, {"empty"}, {"-"}, {"new"}},
      {"remove, folder not synced", {{"f", kOld}},
       [&](auto at) { Os().Remove(at("f")); },
       {"f"}, {}, {}, {"old", "-"}},
      {"remove, folder synced", {{"f", kOld}},
       [&](auto at) { Os().Remove(at("f")); Os().SyncFolder(at("")); },
       {"f"}, {}, {}, {"-"}},
      // A move between folders is durable only when both folders are synced:
      // with the source's alone the file can be lost altogether.
      {"move, only the source folder synced", {{"s/t", kNew}},
       [&](auto at) { Os().RenameReplace(at("s/t"), at("f")); Os().SyncFolder(at("s")); },
       {"f", "s/t"}, {"new new"}, {}, {"new -", "- -"}},
      {"move, both folders synced", {{"s/t", kNew}},
       [&](auto at) { Os().RenameReplace(at("s/t"), at("f")); Os().SyncFolder(at("s")); Os().SyncFolder(at("")); },
       {"f", "s/t"}, {"- new"}, {}, {"new -"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh();
    for (const auto& [name, bytes] : c.before) Put(name, bytes);
    std::set<std::string> seen, atEnd;
    size_t end = 0;
    vvtest::SimulatePowerLoss(
        root_,
        [&](PowerLossOs& sim) {
          c.op([&](const char* rel) { return At(rel); });
          end = sim.Events();
        },
        [&](const CrashState& state, const PowerLossOs& sim) {
          std::string shown;
          for (const std::string& w : c.watch) shown += (shown.empty() ? "" : " ") + Label(state.Bytes(w));
          EXPECT_FALSE(c.never.count(shown)) << shown << " (" << state.how << ")\n" << sim.Describe(state.point);
          seen.insert(shown);
          if (state.point == end) atEnd.insert(shown);
        },
        {.mixes = 16});
    for (const std::string& s : c.somewhere) EXPECT_TRUE(seen.count(s)) << s;
    if (!c.atEnd.empty()) {
      EXPECT_EQ(atEnd, c.atEnd);
    }
  }
}

// A settings or sort file shows, after a cut, the content it had after the
// last write that returned, or after the one in flight: never older, never
// torn; and the program writes it again after the restart.
TEST_F(PowerLoss, SettingsAndSortFilesHoldOldOrNewContent) {
  using Call = std::function<void(const std::string&)>;
  struct Case {
    const char* name;
    const char* file;
    std::optional<std::string> before;
    std::vector<Call> calls;
  };
  std::string longSettings = "[Paths]\r\nSource=C:\\IN\r\n[Printers]\r\n";
  for (int i = 0; i < 60; ++i) longSettings += "Printer" + std::to_string(i) + "=Label printer " + std::to_string(i) + "\r\n";
  auto set = [](const char* sec, const char* key, const char* value) {
    return [=](const std::string& f) { plat::IniWriteString(f, sec, key, value); };
  };
  const std::vector<Case> cases = {
      {"settings: a key changes", "Vadoviver.ini", "[Paths]\r\nSource=C:\\IN\r\n[Labels]\r\nPrinter=A\r\n",
       {set("Paths", "Source", "C:\\OUT")}},
      {"settings: the file is new", "Vadoviver.ini", std::nullopt, {set("Labels", "Printer", "Zebra 2")}},
      {"settings: a file of several sectors, two keys", "Mondarix.ini", longSettings,
       {set("Printers", "Printer7", "Spare"), set("Paths", "Source", "D:\\ORDERS")}},
      {"sort file saved over an older one", "Orders.qry", "[Keys]\r\nKey1=3\r\nKey2=1\r\nDesc2=1\r\n",
       {[](const std::string& f) { plat::IniEraseSection(f, "Keys"); },
        [](const std::string& f) { plat::IniWriteInteger(f, "Keys", "Key1", 2); },
        [](const std::string& f) { plat::IniWriteInteger(f, "Keys", "Desc1", 1); },
        [](const std::string& f) { plat::IniWriteInteger(f, "Keys", "Reverse", 1); }}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh();
    const std::string path = At(c.file);
    if (c.before) Put(c.file, *c.before);
    // The content after each call, and the point where each call ended.
    std::vector<std::optional<std::string>> after = {c.before};
    std::vector<size_t> ends = {0};
    auto stats = vvtest::SimulatePowerLoss(
        root_,
        [&](PowerLossOs& sim) {
          for (const Call& call : c.calls) {
            call(path);
            after.push_back(vvtest::ReadFile(path));
            EXPECT_GT(sim.Events(), ends.back()) << "the write did not go through the seam";
            ends.push_back(sim.Events());
          }
        },
        [&](const CrashState& state, const PowerLossOs& sim) {
          size_t done = 0;
          while (done + 1 < ends.size() && ends[done + 1] <= state.point) ++done;
          const std::string* now = state.Bytes(c.file);
          const std::optional<std::string> shown = now ? std::optional<std::string>(*now) : std::nullopt;
          const bool ok = shown == after[done] || (done + 1 < after.size() && shown == after[done + 1]);
          EXPECT_TRUE(ok) << "after " << done << " of " << c.calls.size() << " writes, " << state.how << ":\n"
                          << shown.value_or("(no file)") << "\n" << sim.Describe(state.point);
          // The restart: the program reads and writes the file again.
          plat::IniWriteString(path, "Check", "Restart", "1");
          EXPECT_EQ(plat::IniReadString(path, "Check", "Restart", ""), "1");
        });
    vvtest::PrintFigures(c.name, stats);
  }
}

// Ids 1..n, every fourth marked deleted; (id, deleted) in record order as a
// fresh open reads them, or "?" and why when the table does not open or its
// tag disagrees with its records.
void MakeTable(const std::string& base, int n) {
  auto t = xbase::Table::Create(base, {{"ID", 'N', 5, 0}, {"NAME", 'C', 20, 0}}, {{"ID", "ID", "", false, false}});
  for (int id = 1; id <= n; ++id) {
    t->AppendBlank();
    t->Replace(0, std::to_string(id));
    t->Replace(1, "name " + std::to_string(id));
    if (id % 4 == 0) t->Delete();
  }
  t->Flush();
}
std::string Rows(const std::string& base) {
  try {
    auto t = xbase::Table::Open(base);
    std::string rows;
    std::set<uint32_t> byRecord, byTag;
    for (uint32_t r = 1; r <= t->RecordCount(); ++r) {
      t->Go(r);
      rows += std::to_string(static_cast<int>(t->FieldNumber(0))) + (t->Deleted() ? "* " : " ");
      byRecord.insert(r);
    }
    for (const auto& e : t->TagEntries(t->FindTag("ID"))) byTag.insert(e.recno);
    return byTag == byRecord ? rows : "? the tag disagrees with the records";
  } catch (const std::exception& e) {
    return std::string("? ") + e.what();
  }
}

// A cut during a pack or a remove leaves the table as before or as after
// (after: possibly with the places behind the moved records still there,
// marked deleted), and after the call returned, as after.
TEST_F(PowerLoss, PackAndRemoveLeaveBeforeOrAfter) {
  struct Case {
    const char* what;
    std::vector<uint32_t> remove;  // none: a pack
  };
  const Case cases[] = {{"pack", {}}, {"remove", {3, 6, 9, 30}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Fresh();
    const std::string base = At("t");
    MakeTable(base, 40);
    const std::string before = Rows(base);
    std::string after;
    for (int id = 1; id <= 40; ++id)
      if (id % 4 != 0 && std::find(c.remove.begin(), c.remove.end(), static_cast<uint32_t>(id)) == c.remove.end())
        after += std::to_string(id) + " ";
    size_t end = 0;
    const auto stats = vvtest::SimulatePowerLoss(
        root_,
        [&](PowerLossOs& sim) {
          auto t = xbase::Table::Open(base);
          ASSERT_TRUE(t->LockFile());
          if (c.remove.empty()) {
            t->Pack();
          } else {
            t->Remove(c.remove);
          }
          t->Unlock();
          t.reset();
          end = sim.Events();
          EXPECT_TRUE(sim.Recorded("sync t.")) << "the table does not go through the seam";
        },
        [&](const CrashState& state, const PowerLossOs& sim) {
          std::string now = Rows(base);
          // Places left behind the moved records, marked deleted.
          std::string trimmed = now;
          while (trimmed.size() > 1 && trimmed[trimmed.size() - 2] == '*') trimmed.erase(trimmed.rfind(' ', trimmed.size() - 2) + 1);
          const bool ok = state.point == end ? now == after : (now == before || trimmed == after);
          EXPECT_TRUE(ok) << now << "\n(" << state.how << ")\n" << sim.Describe(state.point);
        });
    vvtest::PrintFigures(c.what, stats);
  }
}

}  // namespace
