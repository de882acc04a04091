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

}  // namespace
