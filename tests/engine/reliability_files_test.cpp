// Shipment sequencing, zone save and delete, settings and sort-file saves
// under every injected fault.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "engine/uSequncr.h"
#include "geo/uXZone.h"
#include "platform/error.h"
#include "tests/support/fault.h"
#include "platform/ini.h"
#include "reliability.h"
#include "test_files.h"
#include "tests/fault_points.h"
#include "tests/support/powerloss_os.h"

namespace {

using rel::Installation;
using rel::Read;
using rel::Write;

// Shipments with long detail lines, so that the file takes several buffer
// loads while the number of blocks (and so of calls) stays small.
std::string ShipmentFile(int shipments, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s = "stray line before the first header\r\n";
  for (int i = 0; i < shipments; ++i) {
    s += "H,2024," + std::to_string(i) + ",C" + std::to_string(i) + ",NAME " + std::to_string(rng() % 50);
    for (int f = 6; f <= 80; ++f) s += ",f" + std::to_string(f);
    s += "\r\nD,detail " + std::to_string(i) + "," + std::string(2000, 'd') + "\r\n";
  }
  return s;
}

// Which of two expected contents a file holds, for short failure messages.
std::string Which(const std::string& now, const std::string& old, const std::string& sorted) {
  if (now == old) return "old";
  if (now == sorted) return "sorted";
  return "other content of " + std::to_string(now.size()) + " bytes";
}

// The source is never lost, and the result is either the old one or the
// complete sorted one, never anything between, whatever call fails. In a
// folder that takes no new file the result is written over: a failure may
// then leave it empty (or, while writes keep failing, cut short), but the
// source stays until the complete result is durable.
TEST(ShipmentReliability, SequencingUnderEveryFault) {
  for (const bool inPlace : {false, true}) {
    SCOPED_TRACE(inPlace ? "in place" : "beside");
    Installation inst;
    const std::string source = inst.in + "/ORDER.TXT", result = inst.out + "/ORDER.TXT";
    // Large enough for several reads and writes of the buffered file layer.
    const std::string content = ShipmentFile(60, 1);
    const std::string old = "previous result\r\n";
    const TProvinceArray provinces;
    const TSortOrderArray order = {sfCustomerName};
    Write(source, content);
    Write(result, old);
    std::unique_ptr<testfiles::LockedFolder> locked;
    if (inPlace && !testfiles::kCanLockFolders) continue;
    if (inPlace) {
      locked = std::make_unique<testfiles::LockedFolder>(inst.out);
      ASSERT_FALSE(locked->TakesNewFiles());
    }
    ASSERT_TRUE(SequenceShipmentFile(source, result, provinces, order));
    const std::string sorted = Read(result);
    ASSERT_EQ(sorted.size(), content.size() - std::string("stray line before the first header\r\n").size());
    ASSERT_NE(sorted, content);

    bool ok = false;
    int sourceKept = 0;
    const int fired = faults::ForEachPoint(
        [&] {
          Write(source, content);
          Write(result, old);
        },
        [&] { ok = SequenceShipmentFile(source, result, provinces, order); },
        [&](const faults::Point& p, bool hit) {
          const std::string now = Read(result);
          if (rel::Exists(source)) {
            ++sourceKept;
            EXPECT_FALSE(ok) << "success reported with the source still there";
            EXPECT_TRUE(Read(source) == content) << "the source changed";
            if (!inPlace) {
              EXPECT_TRUE(now == old || now == sorted) << "half-written result: " << Which(now, old, sorted);
            } else if (!p.sticky) {
              EXPECT_TRUE(now == old || now == sorted || now.empty()) << "half-written result: " << Which(now, old, sorted);
            }
          } else {
            EXPECT_TRUE(now == sorted) << "source gone without the complete result: " << Which(now, old, sorted);
          }
          if (!hit) {
            EXPECT_TRUE(ok);
          }
          if (p.op != plat::Op::Delete) {
            EXPECT_EQ(testfiles::Names(inst.out), std::vector<std::string>{"ORDER.TXT"}) << "temporary file left behind";
          } else {
            for (const auto& name : testfiles::Names(inst.out))
              if (name != "ORDER.TXT") std::filesystem::remove(inst.out + "/" + name);
          }
          // The next clean pass finishes the job.
          if (rel::Exists(source)) {
            EXPECT_TRUE(SequenceShipmentFile(source, result, provinces, order));
            EXPECT_TRUE(Read(result) == sorted);
            EXPECT_FALSE(rel::Exists(source));
          }
        });
    EXPECT_GT(fired, 10);
    EXPECT_GT(sourceKept, 5);
    faults::Figure(inPlace ? "shipment sequencing injection points, result written over"
                           : "shipment sequencing injection points",
                   fired);
  }
}

// The real OS, with a reader (the host showing the previous result) that has
// the result open whenever one of the first `readerRenames` replacements
// comes: Windows refuses to replace an open file.
class ReaderAtReplace final : public plat::os::Env {
 public:
  explicit ReaderAtReplace(int readerRenames) : readerRenames_(readerRenames) {}
  int renames = 0;

  bool RenameReplace(const std::string& from, const std::string& to) override {
    std::unique_ptr<plat::os::File> reader;
    if (++renames <= readerRenames_) {
      reader = os_.Open(to, plat::os::OpenRequest{});
      EXPECT_TRUE(reader) << "the reader could not open the result";
    }
    return os_.RenameReplace(from, to);
  }
  std::unique_ptr<plat::os::File> Open(const std::string& p, const plat::os::OpenRequest& how) override {
    return os_.Open(p, how);
  }
  std::unique_ptr<plat::os::Mapping> MapReadOnly(const std::string& p, const plat::os::FileInfo& e) override {
    return os_.MapReadOnly(p, e);
  }
  bool Stat(const std::string& p, bool follow, plat::os::FileInfo* info) override { return os_.Stat(p, follow, info); }
  bool Remove(const std::string& p) override { return os_.Remove(p); }
  bool SyncFolder(const std::string& f) override { return os_.SyncFolder(f); }
  bool ListFolder(const std::string& f, std::vector<std::string>* n) override { return os_.ListFolder(f, n); }
  std::string Resolve(const std::string& p) override { return os_.Resolve(p); }
  std::string ExeFolder() override { return os_.ExeFolder(); }
  std::string DefaultPortDevice(int n) override { return os_.DefaultPortDevice(n); }
  std::chrono::system_clock::time_point Now() override { return os_.Now(); }
  std::chrono::steady_clock::time_point Monotonic() override { return os_.Monotonic(); }
  void Sleep(std::chrono::milliseconds d) override { os_.Sleep(d); }
  bool LocalTime(std::time_t t, plat::os::LocalTm* out) override { return os_.LocalTime(t, out); }
  void InstallStopHandler(void (*onStop)()) override { os_.InstallStopHandler(onStop); }

 private:
  plat::os::Env& os_ = plat::os::RealOs();
  int readerRenames_;
};

// A reader that opens the result just before it is replaced delays the
// replacement while it reads; one that stays makes the pass fail with the
// source and the old result kept, and nothing left beside them.
TEST(ShipmentReliability, ResultOpenedByReaderAtReplacement) {
  struct {
    const char* what;
    int readerRenames;
    bool refused;  // the pass gives up
  } cases[] = {
      {"a reader for a moment", 2, false},
      {"a reader that stays", 1000, plat::os::kWindowsNames},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Installation inst;
    const std::string source = inst.in + "/ORDER.TXT", result = inst.out + "/ORDER.TXT";
    const std::string content = ShipmentFile(5, 2), old = "previous result\r\n";
    Write(source, content);
    Write(result, old);
    const TProvinceArray provinces;
    const TSortOrderArray order = {sfCustomerName};
    ReaderAtReplace os(c.readerRenames);
    bool ok;
    {
      vvtest::ScopedOs installed(&os);
      ok = SequenceShipmentFile(source, result, provinces, order);
    }
    EXPECT_EQ(ok, !c.refused);
    if (!plat::os::kWindowsNames) {
      EXPECT_EQ(os.renames, 1);
    } else if (!c.refused) {
      EXPECT_EQ(os.renames, c.readerRenames + 1);
    } else {
      EXPECT_GT(os.renames, 2) << "given up without trying again";
    }
    EXPECT_EQ(rel::Exists(source), c.refused);
    if (c.refused) {
      EXPECT_EQ(Read(source), content);
      EXPECT_EQ(Read(result), old);
    } else {
      EXPECT_EQ(Read(result).size(), content.size() - std::string("stray line before the first header\r\n").size());
    }
    EXPECT_EQ(testfiles::Names(inst.out), std::vector<std::string>{"ORDER.TXT"}) << "temporary file left behind";
  }
}

// ---------------------------------------------------------------------------
// Zones

class ZoneReliability : public ::testing::Test {
 protected:
  void SetUp() override {
    engine = OpenData();
    setup = std::make_unique<TSetup>(inst.prog);
    AppSetup = setup.get();
  }
  void TearDown() override {
    plat::ResetFaults();
    AppSetup = nullptr;
    CloseData(engine);
  }

  static TZone Make(const std::string& code, const std::string& name,
                    const std::vector<std::vector<std::string>>& entries) {
    TZone z;
    z.Zone = code;
    z.Name = name;
    for (const auto& e : entries) {
      z.SetProvinceCount(z.ProvinceCount() + 1);
      TProvince* p = z.GetProvince(z.ProvinceCount() - 1);
      p->Country = e[0];
      p->Province = e[1];
      for (size_t i = 2; i + 1 < e.size(); i += 2) {
        p->Areas.push_back(e[i]);
        if (e[0] == "CA") p->AreasTo.push_back(e[i + 1]);
      }
    }
    return z;
  }
  // The Zones name of a code ("-" when there is no row), and its AreaToZone
  // rows in record order, straight from the tables.
  std::string NameOf(const std::string& code) const {
    const int t = mOpen(engine, inst.multi + "\\Zones", "");
    std::string name = "-";
    for (int rc = t ? d4top(t) : 1; rc == 0; rc = d4skip(t, 1))
      if (fetch(t, "zone") == code) name = fetch(t, "name");
    if (t) d4close(t);
    return name;
  }
  std::vector<std::string> Rows(const std::string& code) const {
    const int t = mOpen(engine, inst.multi + "\\AreaToZone", "");
    std::vector<std::string> rows;
    for (int rc = t ? d4top(t) : 1; rc == 0; rc = d4skip(t, 1))
      if (fetch(t, "zone") == code) rows.push_back(fetch(t, "area") + "/" + fetch(t, "area_to"));
    if (t) d4close(t);
    return rows;
  }
  static bool IsPrefix(const std::vector<std::string>& a, const std::vector<std::string>& of) {
    return a.size() <= of.size() && std::equal(a.begin(), a.end(), of.begin());
  }
  // Both tables open, and the "zone" tag lists exactly the records that the
  // table holds (the index agrees with the data).
  void ExpectTablesSound() {
    for (const char* name : {"Zones", "AreaToZone"}) {
      SCOPED_TRACE(name);
      auto records = [&](const char* tag) {
        std::multiset<int32_t> recs;
        const int t = mOpen(engine, inst.multi + "\\" + name, tag);
        EXPECT_NE(t, 0) << "the table no longer opens: " << LastErrorText();
        for (int rc = t ? d4top(t) : 1; rc == 0; rc = d4skip(t, 1)) recs.insert(d4recNo(t));
        if (t) d4close(t);
        return recs;
      };
      EXPECT_EQ(records("zone"), records("")) << "the zone tag disagrees with the table";
    }
  }

  void RunUnderEveryFault(bool full);

  Installation inst;
  int engine = 0;
  std::unique_ptr<TSetup> setup;
};

// Saves zone "1" over itself, deletes it and adds zone "2", each with every
// injection point failing in turn. A true result must mean the new state is
// on disk, and a run where no fault fired must succeed. With full, also: a
// false result leaves one of the states the design allows, both tables stay
// sound, and a clean save or delete afterwards puts everything right.
void ZoneReliability::RunUnderEveryFault(bool full) {
  TZone oldA = Make("1", "Old one", {{"CA", "ON", "K1A0A0", "K1A9Z9", "K2B0A0", "K2B9Z9"}, {"US", "NY", "10001", ""}});
  TZone newA = Make("1", "New one", {{"CA", "QC", "H1A0A0", "H1A9Z9"}, {"US", "VT"}, {"US", "NY", "10002", "", "10003", ""}});
  TZone other = Make("10", "Neighbour", {{"CA", "ON", "K1A0A0", "K1A9Z9"}, {"CA", "MB"}});
  ASSERT_TRUE(oldA.Save(true));
  ASSERT_TRUE(other.Save(true));
  const std::vector<std::string> oldRows = Rows("1"), otherRows = Rows("10");
  ASSERT_TRUE(newA.Save(false));
  const std::vector<std::string> newRows = Rows("1");
  ASSERT_EQ(newRows.size(), 4u);
  ASSERT_EQ(NameOf("1"), "New one");
  ASSERT_TRUE(oldA.Save(false));
  ASSERT_EQ(Rows("1"), oldRows);
  const auto snapshot = inst.Snapshot();

  bool ok = false;
  int fired = faults::ForEachPoint(
      [&] { inst.Restore(snapshot); }, [&] { ok = newA.Save(false); },
      [&](const faults::Point&, bool hit) {
        if (full) ExpectTablesSound();
        EXPECT_EQ(NameOf("10"), "Neighbour");
        EXPECT_EQ(Rows("10"), otherRows) << "another zone was touched";
        const std::string name = NameOf("1");
        const std::vector<std::string> rows = Rows("1");
        if (ok) {
          EXPECT_EQ(name, "New one") << "failure reported as success";
          EXPECT_EQ(rows, newRows) << "failure reported as success";
        } else if (full) {
          // The row keeps its old or new name; the area rows are the old ones
          // or, by design, the new ones appended before the failure.
          EXPECT_TRUE(name == "Old one" || name == "New one") << name;
          EXPECT_TRUE(rows == oldRows || IsPrefix(rows, newRows)) << ::testing::PrintToString(rows);
        }
        if (!hit) {
          EXPECT_TRUE(ok);
        }
        if (!full) return;
        // A clean save afterwards puts everything right.
        EXPECT_TRUE(newA.Save(false));
        EXPECT_EQ(Rows("1"), newRows);
      });
  faults::Figure("zone save injection points", fired);
  int total = fired;

  fired = faults::ForEachPoint(
      [&] { inst.Restore(snapshot); }, [&] { ok = oldA.Delete(); },
      [&](const faults::Point&, bool hit) {
        if (full) ExpectTablesSound();
        EXPECT_EQ(NameOf("10"), "Neighbour");
        EXPECT_EQ(Rows("10"), otherRows) << "another zone was touched";
        const std::string name = NameOf("1");
        const std::vector<std::string> rows = Rows("1");
        if (ok) {
          EXPECT_EQ(name, "-") << "failure reported as success";
          EXPECT_EQ(rows.size(), 0u) << "failure reported as success";
        } else if (full) {
          // Still listed, with all its rows or (by design) without them; or,
          // when the failure came while packing Zones or writing its index
          // after the pack, gone from the data with its rows already removed:
          // the outcome is unknown there, so the delete is not confirmed.
          if (name == "-") {
            EXPECT_TRUE(rows.empty()) << ::testing::PrintToString(rows);
          } else {
            EXPECT_EQ(name, "Old one");
            EXPECT_TRUE(rows == oldRows || rows.empty()) << ::testing::PrintToString(rows);
          }
        }
        if (!hit) {
          EXPECT_TRUE(ok);
        }
        if (!full) return;
        if (name != "-") {
          EXPECT_TRUE(oldA.Delete());
        }
        EXPECT_EQ(NameOf("1"), "-");
        EXPECT_EQ(Rows("1").size(), 0u);
      });
  faults::Figure("zone delete injection points", fired);
  total += fired;

  // A new zone: a failed save may leave no row or, by design, the new row
  // with some of its area rows, but never touches the zones already there.
  TZone added = Make("2", "Added", {{"US", "NY", "10004", ""}, {"CA", "MB"}});
  const std::vector<std::string> addedRows = {"USNY10004/", "CAMB******/"};
  fired = faults::ForEachPoint(
      [&] { inst.Restore(snapshot); }, [&] { ok = added.Save(true); },
      [&](const faults::Point&, bool hit) {
        if (full) ExpectTablesSound();
        EXPECT_EQ(Rows("10"), otherRows) << "another zone was touched";
        EXPECT_EQ(Rows("1"), oldRows) << "another zone was touched";
        const std::string name = NameOf("2");
        const std::vector<std::string> rows = Rows("2");
        if (ok) {
          EXPECT_EQ(name, "Added") << "failure reported as success";
          EXPECT_EQ(rows, addedRows) << "failure reported as success";
        } else if (full) {
          EXPECT_TRUE(name == "-" || name == "Added") << name;
          EXPECT_TRUE(IsPrefix(rows, addedRows)) << ::testing::PrintToString(rows);
        }
        if (!hit) {
          EXPECT_TRUE(ok);
        }
      });
  faults::Figure("zone add injection points", fired);
  total += fired;
  faults::Figure("zone injection points", total);
}

TEST_F(ZoneReliability, SaveAndDeleteNeverReportFailureAsSuccess) { RunUnderEveryFault(false); }

// Also: a failed save or delete leaves the old rows (or, by design, a
// beginning of the new ones), both tables stay sound, and a clean retry puts
// everything right.
TEST_F(ZoneReliability, SaveAndDeleteUnderEveryFault) { RunUnderEveryFault(true); }

// ---------------------------------------------------------------------------
// Settings and sort files

TEST(SettingsReliability, SaveUnderEveryFault) {
  Installation inst;
  const std::string ini = inst.prog + "/Vadoviver.ini";
  Write(ini, "; written by hand\r\n" + Read(ini) + "[Drives]\r\nC=" + inst.root.string() + "\r\n");
  const std::string before = Read(ini), host = Read(inst.host + "/Mondarix.ini");
  TSetup reference(inst.prog);
  const std::string oldSource = reference.SourcePath, message = "Unable to write to " + reference.IniFileName;

  std::string error;
  std::unique_ptr<TSetup> s;
  auto prepare = [&] {
    Write(ini, before);
    s = std::make_unique<TSetup>(inst.prog);
    s->QueryFile = "C:\\SORTS\\NEW.QRY";
    s->SourcePath = "C:\\NEW\\IN";
    s->ResultPath = "C:\\NEW\\OUT";
  };
  auto save = [&] {
    error.clear();
    try {
      s->Save();
    } catch (const plat::Error& e) {
      error = e.what();
    }
  };
  const int fired = faults::ForEachPoint(
      prepare, save,
      [&](const faults::Point&, bool hit) {
        TSetup now(inst.prog);
        EXPECT_EQ(now.HostPath, reference.HostPath);
        EXPECT_TRUE(now.QueryFile == "" || now.QueryFile == "C:\\SORTS\\NEW.QRY") << now.QueryFile;
        EXPECT_TRUE(now.SourcePath == oldSource || now.SourcePath == "C:\\NEW\\IN") << now.SourcePath;
        EXPECT_TRUE(now.ResultPath == reference.ResultPath || now.ResultPath == "C:\\NEW\\OUT") << now.ResultPath;
        // Keys are written in order; a later key is never new while an earlier one is old.
        const bool q = now.QueryFile != "", s = now.SourcePath != oldSource, r = now.ResultPath != reference.ResultPath;
        EXPECT_TRUE((q || !s) && (s || !r));
        const std::string text = Read(ini);
        EXPECT_NE(text.find("; written by hand\r\n"), std::string::npos);
        EXPECT_NE(text.find("[Drives]\r\nC=" + inst.root.string() + "\r\n"), std::string::npos);
        if (hit) {
          EXPECT_EQ(error, message);
        } else {
          EXPECT_EQ(error, "");
          EXPECT_TRUE(q && s && r);
        }
        EXPECT_EQ(Read(inst.host + "/Mondarix.ini"), host) << "the host's settings were written";
      });
  EXPECT_GT(fired, 20);
  faults::Figure("settings save injection points", fired);
}

// The sort-order window erases Keys and writes Key1..Keyn; a failure leaves
// the old order or a beginning of the new one, never a mix, and the rest of
// the file untouched.
TEST(SettingsReliability, SortFileSaveUnderEveryFault) {
  Installation inst;
  const std::string qry = inst.root.string() + "/route.qry";
  const std::string before = "[Note]\r\nby=dock\r\n[Keys]\r\nKey1=6\r\nKey2=3\r\nKey3=8\r\n";
  const TSortOrderArray oldOrder = {sfPostalCode, sfProvinceCode, sfShipmentRef2};
  const TSortOrderArray newOrder = {sfZoneLocation, sfCustomerName};
  std::string error;
  auto save = [&] {
    error.clear();
    try {
      plat::IniEraseSection(qry, "Keys");
      for (size_t i = 0; i < newOrder.size(); ++i)
        plat::IniWriteInteger(qry, "Keys", "Key" + std::to_string(i + 1), newOrder[i]);
    } catch (const plat::Error& e) {
      error = e.what();
    }
  };
  const int fired = faults::ForEachPoint(
      [&] { Write(qry, before); }, save,
      [&](const faults::Point&, bool hit) {
        TSortOrderArray now;
        ReadSortFile(qry, now);
        const bool prefixOfNew = now.size() <= newOrder.size() && std::equal(now.begin(), now.end(), newOrder.begin());
        EXPECT_TRUE(now == oldOrder || prefixOfNew);
        EXPECT_EQ(plat::IniReadString(qry, "Note", "by", ""), "dock");
        if (hit) {
          EXPECT_EQ(error, "Unable to write to " + qry);
        } else {
          EXPECT_EQ(now, newOrder);
        }
      });
  EXPECT_GT(fired, 10);
  faults::Figure("sort file save injection points", fired);
}

}  // namespace
