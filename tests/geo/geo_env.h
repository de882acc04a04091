#pragma once
// A table engine and settings whose rating and multi-shipper folders are a
// fresh temporary folder, with helpers to create and fill tables there.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "setup/TableAccess.h"
#include "setup/uSetup.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

class GeoEnv : public ::testing::Test {
 protected:
  vvtest::TempDir dir;

  void SetUp() override {
    OpenData();
    AppSetup = new TSetup(dir.path());
    AppSetup->RatingPath = dir.path();
    AppSetup->MultiShipperPath = dir.path();
  }
  void TearDown() override {
    delete AppSetup;
    AppSetup = nullptr;
    CloseData(AppEngine);
  }

  std::string Path(const std::string& table) const { return dir.path() + "\\" + table; }

  // Copies tables of a fixture set into the folder, writable.
  void CopyFixtures(std::initializer_list<const char*> tables, const char* set = "small") {
    const std::filesystem::path from = std::filesystem::path(VV_FIXTURES) / "xbase" / set;
    for (const char* t : tables)
      for (const char* ext : {".dbf", ".cdx"}) {
        const auto src = from / (std::string(t) + ext);
        if (!std::filesystem::exists(src)) continue;
        ASSERT_TRUE(vvtest::CopyFile(src.string(), dir / (std::string(t) + ext))) << t;
      }
  }

  using Row = std::map<std::string, std::string>;
  void Create(const std::string& table, const std::vector<FIELD4INFO>& fields, const std::vector<Row>& rows,
              const std::vector<TAG4INFO>& tags = {}) {
    const int t = d4create(AppEngine, Path(table), fields, tags);
    ASSERT_NE(t, 0) << LastErrorText();
    for (const Row& r : rows) {
      ASSERT_EQ(d4appendBlank(t), 0);
      for (const auto& [f, v] : r) ASSERT_EQ(replace(t, f, v), 0) << f;
    }
    d4flush(t);
    d4close(t);
  }

  // Every record in record order, as "field=value|field=value".
  std::vector<std::string> Rows(const std::string& table, const std::vector<std::string>& fields) {
    std::vector<std::string> out;
    const int t = mOpen(AppEngine, Path(table), "");
    EXPECT_NE(t, 0) << LastErrorText();
    for (int rc = d4top(t); rc == 0; rc = d4skip(t, 1)) {
      std::string line;
      for (const auto& f : fields) line += (line.empty() ? "" : "|") + fetch(t, f);
      out.push_back(line);
    }
    d4close(t);
    return out;
  }
};
