#include <gtest/gtest.h>

#include "engine/uSequncr.h"
#include "test_files.h"

namespace {

struct SortFileCase {
  const char* name;
  const char* content;
  std::vector<int> expected;
  uint32_t descending = 0;  // bit k: element k descending
  bool reverse = false;
};

class ReadSortFileTest : public ::testing::TestWithParam<SortFileCase> {};

TEST_P(ReadSortFileTest, GivesOrder) {
  testfiles::TempDir dir;
  const std::string file = dir / "order.qry";
  testfiles::Write(file, GetParam().content);
  TSortOrderArray order = {sfPackageRef4, sfPackageRef4};  // replaced, not appended to
  const bool ok = ReadSortFile(file, order);
  std::vector<int> got(order.begin(), order.end());
  EXPECT_EQ(got, GetParam().expected);
  EXPECT_EQ(ok, !GetParam().expected.empty());
  EXPECT_EQ(order.DescendingMask, GetParam().descending);
  EXPECT_EQ(order.Reverse, GetParam().reverse);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadSortFileTest,
    ::testing::Values(
        SortFileCase{"ZoneThenPostal", "[Keys]\nKey1=0\nKey2=6\n", {0, 6}},
        SortFileCase{"GapsCloseUp", "[Keys]\nKey2=5\nKey4=1\n", {5, 1}},
        SortFileCase{"RepeatedField", "[Keys]\nKey1=3\nKey2=3\n", {3, 3}},
        SortFileCase{"NegativeSkipped", "[Keys]\nKey1=-1\nKey2=4\n", {4}},
        SortFileCase{"WordIsAbsent", "[Keys]\nKey1=zone\nKey2=2\n", {2}},
        SortFileCase{"Key6NeverRead", "[Keys]\nKey1=1\nKey2=2\nKey3=3\nKey4=4\nKey5=5\nKey6=6\n", {1, 2, 3, 4, 5}},
        SortFileCase{"ThirteenAndAboveAbsent", "[Keys]\nKey1=13\nKey2=12\nKey3=255\nKey4=256\n", {12}},
        SortFileCase{"OnlyOutOfRange", "[Keys]\nKey1=13\n", {}},
        SortFileCase{"CaseInsensitiveNames", "[keys]\nkEY1=7\n", {7}},
        SortFileCase{"OtherSectionsIgnored", "[Other]\nKey1=9\n[Keys]\nKey3=8\nName=x\n", {8}},
        SortFileCase{"NoKeysSection", "[Other]\nKey1=1\n", {}},
        SortFileCase{"EmptyFile", "", {}},
        SortFileCase{"DescendingPerKey", "[Keys]\nKey1=0\nKey2=6\nDesc2=1\n", {0, 6}, 0b10},
        SortFileCase{"DescFollowsItsKeyAcrossGaps", "[Keys]\nKey2=5\nDesc2=1\nKey4=1\nDesc3=1\n", {5, 1}, 0b01},
        SortFileCase{"DescOtherThanOneIsAscending", "[Keys]\nKey1=1\nDesc1=2\nKey2=2\nDesc2=yes\nKey3=3\nDesc3=-1\n",
                     {1, 2, 3}},
        SortFileCase{"DescOfSkippedKeyIgnored", "[Keys]\nKey1=13\nDesc1=1\nKey2=4\n", {4}},
        SortFileCase{"Reverse", "[keys]\nkey1=3\nreverse=1\ndesc1=1\n", {3}, 0b1, true},
        SortFileCase{"ReverseOtherThanOneIgnored", "[Keys]\nKey1=3\nReverse=true\n", {3}},
        SortFileCase{"ReverseAloneGivesNoOrder", "[Keys]\nReverse=1\nDesc1=1\n", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReadSortFile, MissingFileGivesNoOrder) {
  testfiles::TempDir dir;
  TSortOrderArray order = {sfZoneCode};
  EXPECT_FALSE(ReadSortFile(dir / "none.qry", order));
  EXPECT_TRUE(order.empty());
}

TEST(SortFieldCaptions, FollowCodes) {
  EXPECT_STREQ(SortFieldCaptions[sfZoneLocation], "Zone Location");
  EXPECT_STREQ(SortFieldCaptions[sfPostalCode], "Ship To Postal Code");
  EXPECT_STREQ(SortFieldCaptions[sfPackageRef4], "Package Reference 4");
}

}  // namespace
