// Power cuts during the passes and the zone edits: at every point of the
// operation, each state the disk could be left in is put in place, and the
// restarted program must find the guarantees kept.
#include <gtest/gtest.h>

#include "engine/uSequncr.h"
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
            EXPECT_TRUE(SequenceShipmentFile(source, result, provinces, order)) << where;
            EXPECT_TRUE(Read(result) == sorted) << where;
          } else {
            EXPECT_TRUE(res && *res == sorted) << "source gone without the complete result, " << where;
          }
        });
    vvtest::PrintFigures(inPlace ? "shipment pass, result written over" : "shipment pass", stats);
  }
}

}  // namespace
