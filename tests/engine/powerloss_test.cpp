// Power cuts during the passes and the zone edits: at every point of the
// operation, each state the disk could be left in is put in place, and the
// restarted program must find the guarantees kept.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/uSequncr.h"
#include "geo/uXZone.h"
#include "reliability.h"
#include "test_files.h"
#include "tests/support/powerloss_os.h"

namespace {

using rel::Installation;
using rel::Read;
using rel::Write;
using vvtest::CrashState;
using vvtest::PowerLossOs;

// The source stays as it was until the complete result is durable, and the
// result is durable once the pass has returned; also when the result's folder
// takes no new file and the result is written over. A source still there is
// sequenced by the next pass.
TEST(PowerLoss, ShipmentPassKeepsSourceOrCompleteResult) {
  std::string content;
  for (int i = 0; i < 12; ++i) {
    content += "H,2024," + std::to_string(i) + ",C" + std::to_string(i) + ",NAME " + std::to_string((i * 7) % 12);
    for (int f = 6; f <= 80; ++f) content += ",f" + std::to_string(f);
    content += "\r\nD,detail " + std::to_string(i) + "," + std::string(300, 'd') + "\r\n";
  }
  const TProvinceArray provinces;
  const TSortOrderArray order = {sfCustomerName};
  for (const bool inPlace : {false, true}) {
    SCOPED_TRACE(inPlace ? "written over" : "beside");
    if (inPlace && !testfiles::kCanLockFolders) continue;
    Installation inst;
    const std::string source = inst.in + "/ORDER.TXT", result = inst.out + "/ORDER.TXT";
    Write(source, content);
    Write(result, "");
    ASSERT_TRUE(SequenceShipmentFile(source, result, provinces, order));
    const std::string sorted = Read(result);
    ASSERT_NE(sorted, content);
    Write(source, content);
    Write(result, "previous result\r\n");

    size_t end = 0;
    const auto stats = vvtest::SimulatePowerLoss(
        inst.root.string(),
        [&](PowerLossOs& sim) {
          std::unique_ptr<testfiles::LockedFolder> locked;
          if (inPlace) {
            locked = std::make_unique<testfiles::LockedFolder>(inst.out);
            ASSERT_FALSE(locked->TakesNewFiles());
          }
          EXPECT_TRUE(SequenceShipmentFile(source, result, provinces, order));
          end = sim.Events();
          EXPECT_TRUE(sim.Recorded("remove in/ORDER.TXT")) << "the pass does not go through the seam";
        },
        [&](const CrashState& state, const PowerLossOs& sim) {
          const std::string *src = state.Bytes("in/ORDER.TXT"), *res = state.Bytes("out/ORDER.TXT");
          const std::string where = state.how + "\n" + sim.Describe(state.point);
          if (state.point == end) {
            EXPECT_TRUE(res && *res == sorted) << "the pass returned before its result was durable, " << where;
          }
          if (src) {
            EXPECT_TRUE(*src == content) << "the source changed, " << where;
            if (!inPlace) {
              EXPECT_TRUE(res && (*res == sorted || *res == "previous result\r\n")) << "half-written result, " << where;
            }
            EXPECT_TRUE(SequenceShipmentFile(source, result, provinces, order)) << where;
            EXPECT_TRUE(Read(result) == sorted) << where;
          } else {
            EXPECT_TRUE(res && *res == sorted) << "source gone without the complete result, " << where;
          }
        });
    vvtest::PrintFigures(inPlace ? "shipment pass, result written over" : "shipment pass", stats);
  }
}

// Notes, for each label that comes out, how far the disk had come by then.
class TimedPrinter : public rel::RecordingPrinter {
 public:
  PowerLossOs* sim = nullptr;
  std::vector<size_t> at;  // beside printed

  std::unique_ptr<plat::PrintJob> StartJob(int copies, const std::string& title) override {
    auto job = RecordingPrinter::StartJob(copies, title);
    if (!job) return nullptr;
    return std::make_unique<Job>(*this, std::move(job));
  }

 private:
  class Job : public plat::PrintJob {
   public:
    Job(TimedPrinter& p, std::unique_ptr<plat::PrintJob> inner) : p_(p), inner_(std::move(inner)) {}
    bool SendBlock(const std::string& bytes) override { return inner_->SendBlock(bytes); }
    bool End(bool ok) override {
      const bool done = inner_->End(ok);
      while (p_.at.size() < p_.printed.size()) p_.at.push_back(p_.sim ? p_.sim->Events() : 0);
      return done;
    }

   private:
    TimedPrinter& p_;
    std::unique_ptr<plat::PrintJob> inner_;
  };
};

// Whatever the cut left: no waiting label lost (the next pass prints every
// label not printed before the cut), none printed twice but the one in
// flight, and once the pass has returned a cut brings none back.
TEST(PowerLoss, LabelPassLosesNoLabel) {
  const int n = 3;
  const int engine = OpenData();
  ASSERT_NE(engine, 0);
  auto printer = std::make_shared<TimedPrinter>();
  plat::SetPrinting(printer);
  {
    Installation inst;
    inst.CreateTables(engine, n);
    TSetup setup(inst.prog);
    AppSetup = &setup;
    const TProvinceArray provinces;
    const TSortOrderArray order = {sfCustomerName};
    size_t end = 0;
    std::vector<int> printed;
    std::vector<size_t> at;
    const auto stats = vvtest::SimulatePowerLoss(
        inst.root.string(),
        [&](PowerLossOs& sim) {
          printer->sim = &sim;
          EXPECT_TRUE(SequenceLabels(provinces, order));
          printer->sim = nullptr;
          end = sim.Events();
          printed = printer->printed;
          at = printer->at;
          EXPECT_EQ(printed.size(), static_cast<size_t>(n));
          EXPECT_TRUE(sim.Recorded("sync multi/")) << "the marks do not go through the seam";
        },
        [&](const CrashState& state, const PowerLossOs& sim) {
          std::map<int, int> counts;
          for (size_t i = 0; i < printed.size(); ++i)
            if (at[i] <= state.point) ++counts[printed[i]];
          printer->printed.clear();
          printer->at.clear();
          EXPECT_TRUE(SequenceLabels(provinces, order)) << "the queue is stuck after the cut, " << state.how << "\n"
                                                        << sim.Describe(state.point) << "\n" << rel::Describe(inst);
          for (int id : printer->printed) ++counts[id];
          SCOPED_TRACE(state.how + "\n" + sim.Describe(state.point));
          rel::ExpectEachLabelOnce(counts, n);
          if (state.point == end) {
            EXPECT_TRUE(printer->printed.empty()) << "a label of a finished pass printed again";
          }
        });
    vvtest::PrintFigures("label pass", stats);
    AppSetup = nullptr;
  }
  plat::SetPrinting(nullptr);
  CloseData(engine);
}

// ---------------------------------------------------------------------------
// Zones

TZone MakeZone(const std::string& code, const std::string& name, const std::vector<std::string>& provinces) {
  TZone z;
  z.Zone = code;
  z.Name = name;
  for (const std::string& p : provinces) {
    z.SetProvinceCount(z.ProvinceCount() + 1);
    z.GetProvince(z.ProvinceCount() - 1)->Country = p.substr(0, 2);
    z.GetProvince(z.ProvinceCount() - 1)->Province = p.substr(2);
  }
  return z;
}

// The Zones name of a code ("-" without a row) and its area rows in record
// order; "?" when a table does not open or its tag disagrees with it.
std::pair<std::string, std::vector<std::string>> ZoneOnDisk(int engine, const Installation& inst, const std::string& code) {
  std::pair<std::string, std::vector<std::string>> out{"-", {}};
  for (const char* name : {"Zones", "AreaToZone"}) {
    std::vector<int32_t> byTag, byRecord;
    for (const char* tag : {"zone", ""}) {
      const int t = mOpen(engine, inst.multi + "\\" + name, tag);
      if (!t) return {"?", {LastErrorText()}};
      for (int rc = d4top(t); rc == 0; rc = d4skip(t, 1)) {
        (*tag ? byTag : byRecord).push_back(d4recNo(t));
        if (*tag || fetch(t, "zone") != code) continue;
        if (name[0] == 'Z') out.first = fetch(t, "name");
        else out.second.push_back(fetch(t, "area"));
      }
      d4close(t);
    }
    std::sort(byTag.begin(), byTag.end());
    if (byTag != byRecord) return {"?", {std::string(name) + ": the zone tag disagrees with the table"}};
  }
  return out;
}

// A cut during a zone save or delete leaves the zone as it was or as it is
// to be (the area rows, by design, possibly a beginning of the new ones),
// the other zones untouched and the tables sound; after the call returned,
// the new state.
TEST(PowerLoss, ZoneSaveAndDeleteOldOrNew) {
  const int engine = OpenData();
  ASSERT_NE(engine, 0);
  {
    Installation inst;
    TSetup setup(inst.prog);
    AppSetup = &setup;
    TZone oldA = MakeZone("1", "Old one", {"CAON", "USNY"}), newA = MakeZone("1", "New one", {"CAQC", "USVT", "USNJ"});
    TZone other = MakeZone("10", "Neighbour", {"CAMB"});
    ASSERT_TRUE(oldA.Save(true));
    ASSERT_TRUE(other.Save(true));
    const auto before = ZoneOnDisk(engine, inst, "1"), neighbour = ZoneOnDisk(engine, inst, "10");
    const auto snapshot = inst.Snapshot();
    ASSERT_TRUE(newA.Save(false));
    const auto saved = ZoneOnDisk(engine, inst, "1");
    ASSERT_EQ(saved.first, "New one");
    const decltype(before) none{"-", {}};

    struct Case {
      const char* what;
      std::function<bool()> op;
      decltype(before) after;
    };
    const std::vector<Case> cases = {{"save over", [&] { return newA.Save(false); }, saved},
                                     {"delete", [&] { return oldA.Delete(); }, none}};
    for (const Case& c : cases) {
      SCOPED_TRACE(c.what);
      inst.Restore(snapshot);
      size_t end = 0;
      const auto stats = vvtest::SimulatePowerLoss(
          inst.root.string(),
          [&](PowerLossOs& sim) {
            EXPECT_TRUE(c.op());
            end = sim.Events();
            EXPECT_TRUE(sim.Recorded("sync multi/")) << "the edit does not go through the seam";
          },
          [&](const CrashState& state, const PowerLossOs& sim) {
            const auto now = ZoneOnDisk(engine, inst, "1");
            const bool prefixOfNew = now.second.size() <= c.after.second.size() &&
                                     std::equal(now.second.begin(), now.second.end(), c.after.second.begin());
            const bool ok = state.point == end ? now == c.after
                                               : (now.first == before.first || now.first == c.after.first) &&
                                                     (now.second == before.second || prefixOfNew);
            EXPECT_TRUE(ok) << now.first << " " << ::testing::PrintToString(now.second) << ", " << state.how << "\n"
                            << sim.Describe(state.point);
            EXPECT_EQ(ZoneOnDisk(engine, inst, "10"), neighbour) << "another zone was touched";
          });
      vvtest::PrintFigures(std::string("zone ") + c.what, stats);
    }
    AppSetup = nullptr;
  }
  CloseData(engine);
}

}  // namespace
