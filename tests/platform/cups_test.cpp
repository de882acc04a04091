// The CUPS printing service against the private scheduler of scripts/test-cups
// (queues Closed_Q: stopped and rejecting, Dock_B: default, alpha_desk).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/cups_printing.h"
#include "platform/os.h"
#include "tests/cups_capture.h"

namespace {

using vvtest::Marker;
using vvtest::WaitForJobs;

const char* kTitle = "Kavlo Shipping Label";

class CupsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!vvtest::CaptureDir()) GTEST_SKIP() << "no test scheduler (run under scripts/test)";
    service_ = plat::MakeCupsPrinterService();
  }
  // Where a queue stands in the service's list (Windows keeps its own order).
  int Pos(const std::string& name) {
    const std::vector<std::string> names = service_->Printers();
    return static_cast<int>(std::find(names.begin(), names.end(), name) - names.begin());
  }
  std::shared_ptr<plat::PrinterService> service_;
};

TEST_F(CupsTest, ListsPrintersInByteOrderWithDefault) {
  // Queues that other tests add for a while ("zz_tmp_...") do not count.
  std::vector<std::string> names = service_->Printers();
  std::erase_if(names, [](const std::string& n) { return n.starts_with("zz_tmp_"); });
  // The Windows spooler lists printers in an order of its own.
  if (plat::os::kWindowsNames) std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Closed_Q", "Dock_B", "alpha_desk"}));
  EXPECT_TRUE(service_->HasDefault());
}

TEST_F(CupsTest, JobsGoToTheChosenPrinterWithTitleAndExactBytes) {
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  struct Case {
    int position;
    const char* printer;
    std::vector<std::string> blocks;
  };
  std::string m = Marker("cups");
  std::vector<Case> cases = {
      {Pos("Dock_B"), "Dock_B", {m + "\r\n", "line two\r\n", "tail"}},
      {-1, "Dock_B", {m, all}},  // the default printer; every byte value untouched
      {Pos("alpha_desk"), "alpha_desk", {m + std::string(254, 'x'), std::string(3, '\0')}},
  };
  auto before = vvtest::DoneJobs();
  for (const auto& c : cases) {
    auto job = service_->StartJob(c.position, kTitle);
    ASSERT_NE(job, nullptr) << c.printer;
    for (const auto& b : c.blocks) ASSERT_TRUE(job->SendBlock(b));
    ASSERT_TRUE(job->End(true));
  }
  auto jobs = WaitForJobs(before, m, cases.size());
  ASSERT_EQ(jobs.size(), cases.size());
  // Jobs of different queues may finish in any order; job ids keep submission order.
  for (size_t i = 0; i < cases.size(); ++i) {
    std::string expected;
    for (const auto& b : cases[i].blocks) expected += b;
    EXPECT_EQ(jobs[i].title, kTitle);
    EXPECT_EQ(jobs[i].printer, cases[i].printer);
    EXPECT_EQ(jobs[i].data, expected) << i;
  }
}

TEST_F(CupsTest, RejectingQueueAndUnknownPositionsStartNoJob) {
  EXPECT_EQ(service_->StartJob(Pos("Closed_Q"), kTitle), nullptr);
  EXPECT_EQ(service_->StartJob(3, kTitle), nullptr);
  EXPECT_EQ(service_->StartJob(-2, kTitle), nullptr);
  EXPECT_EQ(service_->StartJobOn("No_Such_Q", kTitle), nullptr);
  EXPECT_EQ(service_->StartJobOn("Closed_Q", kTitle), nullptr);
}

TEST_F(CupsTest, CancelledJobPrintsNothing) {
  std::string m = Marker("cancel");
  auto before = vvtest::DoneJobs();
  {
    auto job = service_->StartJob(Pos("Dock_B"), kTitle);
    ASSERT_NE(job, nullptr);
    ASSERT_TRUE(job->SendBlock(m + "cancelled"));
    EXPECT_FALSE(job->End(false));
  }
  {
    // Dropped without End: cancelled as well.
    auto job = service_->StartJob(Pos("Dock_B"), kTitle);
    ASSERT_NE(job, nullptr);
    ASSERT_TRUE(job->SendBlock(m + "dropped"));
  }
  // A later job on the same queue: once it is out, the others would be too.
  auto job = service_->StartJob(Pos("Dock_B"), kTitle);
  ASSERT_NE(job, nullptr);
  ASSERT_TRUE(job->SendBlock(m + "sentinel"));
  ASSERT_TRUE(job->End(true));
  auto jobs = WaitForJobs(before, m, 1);
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].data, m + "sentinel");
}

TEST_F(CupsTest, EmptyJobIsAccepted) {
  auto job = service_->StartJob(Pos("alpha_desk"), kTitle);
  ASSERT_NE(job, nullptr);
  EXPECT_TRUE(job->End(true));
  EXPECT_FALSE(job->End(true));  // once only
  EXPECT_FALSE(job->SendBlock("late"));
}

}  // namespace
