#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "engine/uSequncr.h"
#include "setup/TableAccess.h"
#include "setup/uSetup.h"
#include "test_files.h"
#include "tests/support/process.h"

namespace {

using testfiles::Read;
using testfiles::Write;

std::string Header(const std::map<int, std::string>& f, int count = 80) {
  std::string s;
  for (int p = 1; p <= count; ++p) {
    if (p > 1) s += ',';
    auto it = f.find(p);
    s += it != f.end() ? it->second : p == 1 ? "H" : "";
  }
  return s + "\r\n";
}

class Cli : public ::testing::Test {
 protected:
  testfiles::TempDir dir;
  std::string out, err;

  void SetUp() override {
    const std::string home = dir.path();
    Write(dir / "Vadoviver.ini", "[Paths]\nDesko=" + home + "\n");
    Write(dir / "Mondarix.ini",
          "[System Directories]\nRating=" + home + "\nMulti-Shipper=" + home + "\nData=" + home + "\n");
    const auto fixtures = std::filesystem::path(VV_FIXTURES) / "xbase" / "small";
    for (const char* t : {"Provinces.dbf", "Provinces.cdx", "Postal.dbf", "USZip.dbf"}) {
      ASSERT_TRUE(vvtest::CopyFile((fixtures / t).string(), dir / t)) << t;
    }
  }

  int Run(const std::string& args) {
    std::vector<std::string> argv = {std::string(VV_BINARY_DIR) + "/cli/vadoviver-cli", "--home", dir.path()};
    for (std::string& a : vvtest::SplitArgs(args)) argv.push_back(std::move(a));
    vvtest::ProcessOptions options;
    options.stdoutFile = dir / "out";
    options.stderrFile = dir / "err";
    vvtest::Process cli(argv, options);
    cli.CloseInput();
    const int status = cli.Started() ? cli.Wait() : -2;
    out = testfiles::ConsoleText(Read(dir / "out"));
    err = testfiles::ConsoleText(Read(dir / "err"));
    return status;
  }

  // Two zones saved through the zone model, as the zone editor would.
  void SaveZones() {
    OpenData();
    AppSetup = new TSetup(dir.path());
    AppSetup->MultiShipperPath = dir.path();
    TZone z1;
    z1.Zone = "Z1";
    z1.Name = "Ontario";
    z1.Provinces.push_back(std::make_unique<TProvince>());
    z1.Provinces[0]->Country = "CA";
    z1.Provinces[0]->Province = "ON";
    ASSERT_TRUE(z1.Save(true));
    TZone z2;
    z2.Zone = "Z2";
    z2.Name = "Vancouver";
    z2.Provinces.push_back(std::make_unique<TProvince>());
    z2.Provinces[0]->Country = "CA";
    z2.Provinces[0]->Province = "BC";
    z2.Provinces[0]->Areas = {"V5K0A0"};
    z2.Provinces[0]->AreasTo = {"V5K9Z9"};
    z2.Provinces[0]->AreaCount = 10;
    ASSERT_TRUE(z2.Save(true));
    delete AppSetup;
    AppSetup = nullptr;
    CloseData(AppEngine);
  }
};

TEST_F(Cli, ShipmentsByZoneCode) {
  SaveZones();
  const std::string a = Header({{5, "A"}, {13, "V5K1B2"}, {14, "BC"}});
  const std::string b = Header({{5, "B"}, {13, "K1A0B1"}, {14, "ON"}}, 14);  // ends at the province code
  const std::string c = Header({{5, "C"}, {13, "V5K 1B2"}, {14, "BC"}});   // outside the range
  const std::string d = Header({{5, "D"}, {13, "G1G1G1"}, {14, "QC"}}) + "D,detail\r\n";
  Write(dir / "order.qry", "[Keys]\nKey1=1\nKey2=5\n");
  Write(dir / "ORDER.TXT", "leading line\r\n" + a + b + c + d);

  // The preview lists the header lines in the order the pass writes them
  // and writes nothing.
  ASSERT_EQ(Run("shipments --preview '" + (dir / "order.qry") + "' '" + (dir / "ORDER.TXT") + "'"), 0) << err;
  auto line = [](int n, const std::string& keys, const std::string& header) {
    return std::to_string(n) + "\t" + keys + "\t" + header.substr(0, header.size() - 2) + "\n";
  };
  EXPECT_EQ(out, line(1, "|C", c) + line(2, "|D", d.substr(0, d.find('\n') + 1)) + line(3, "Z1|B", b) +
                     line(4, "Z2|A", a));
  EXPECT_EQ(Read(dir / "ORDER.TXT"), "leading line\r\n" + a + b + c + d);
  EXPECT_FALSE(testfiles::Exists(dir / "sorted.txt"));
  EXPECT_FALSE(testfiles::Exists(dir / "Vadoviver.log"));

  ASSERT_EQ(Run("shipments '" + (dir / "order.qry") + "' '" + (dir / "ORDER.TXT") + "' '" + (dir / "sorted.txt") + "'"), 0)
      << err;
  EXPECT_NE(out.find("File Sort Processed Successfully."), std::string::npos) << out;
  EXPECT_EQ(Read(dir / "sorted.txt"), c + d + b + a);  // "", "", Z1, Z2
  EXPECT_FALSE(testfiles::Exists(dir / "ORDER.TXT"));
  EXPECT_TRUE(err.empty()) << err;
  const std::string log = Read(dir / "Vadoviver.log");
  EXPECT_NE(log.find("\tpass\tshipment\tok\tFile Sort Processed Successfully.\t4\n"), std::string::npos) << log;
}

TEST_F(Cli, ShipmentsFailures) {
  const std::string content = Header({{5, "B"}}) + Header({{5, "A"}});
  Write(dir / "ORDER.TXT", content);
  Write(dir / "bad.qry", "[Keys]\nKey1=zone\n");
  Write(dir / "good.qry", "[Keys]\nKey1=5\n");
  struct {
    std::string args, stderrHas;
    int status = 1;
  } cases[] = {
      {"shipments '" + (dir / "bad.qry") + "' '" + (dir / "ORDER.TXT") + "' '" + (dir / "r1") + "'", "Sort file invalid"},
      {"shipments '" + (dir / "none.qry") + "' '" + (dir / "ORDER.TXT") + "' '" + (dir / "r1") + "'", "Sort file invalid"},
      {"shipments '" + (dir / "good.qry") + "' '" + (dir / "missing") + "' '" + (dir / "r1") + "'",
       "Unable to create the sorted result text file."},
      {"shipments '" + (dir / "good.qry") + "' '" + (dir / "ORDER.TXT") + "' '" + (dir / "no/such/r") + "'",
       "Unable to create new file"},
      {"shipments '" + (dir / "good.qry") + "' '" + (dir / "ORDER.TXT") + "' ''", "Unable to create new file"},
      {"shipments only-one", "usage"},
      {"frobnicate", "unknown command", 2},
      {"", "usage", 2},
      {"shipments --preview '" + (dir / "good.qry") + "' '" + (dir / "missing") + "'", "Unable to read the shipment file"},
      {"shipments --preview '" + (dir / "bad.qry") + "' '" + (dir / "ORDER.TXT") + "'", "Sort file invalid"},
      {"labels --preview", "usage"},
      {"dump '" + (dir / "NoTable") + "'", "Unable to open table"},
      {"zones", "usage"},
      {"zones --coverage extra", "usage"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Run(c.args), c.status) << c.args;
    EXPECT_NE(err.find(c.stderrHas), std::string::npos) << c.args << "\n" << err;
    EXPECT_EQ(out.find("Successfully"), std::string::npos);
    EXPECT_EQ(Read(dir / "ORDER.TXT"), content) << c.args;
  }
}

// A watcher that cannot start says why at once and ends non-zero.
TEST_F(Cli, WatchRefusesToStart) {
  const std::string home = dir.path();
  Write(dir / "good.qry", "[Keys]\nKey1=5\n");
  auto ini = [&](const std::string& query, const std::string& source, const std::string& result) {
    Write(dir / "Vadoviver.ini", "[Paths]\nDesko=" + home + "\nSource=" + source + "\nResult=" + result +
                                     "\n[Files]\nQuery=" + query + "\n");
  };
  struct {
    std::string args, query, source, result;
    int status;
    std::string stderrHas;
  } cases[] = {
      {"watch", "good.qry", home, home + "/out", 2, "usage"},
      {"watch parcels", "good.qry", home, home + "/out", 2, "usage"},
      {"watch package --interval soon", "good.qry", home, home + "/out", 2, "usage"},
      {"watch package --settle", "good.qry", home, home + "/out", 2, "usage"},
      {"watch package", "none.qry", home, home, 1, "Sort file invalid"},
      {"watch package", "good.qry", home, home, 1, "no Labels table"},
      {"watch shipment", "good.qry", home, home, 1, "Destination path must be different from the source path."},
      {"watch shipment", "good.qry", home, home + "/missing", 1, "no such folder"},
  };
  for (const auto& c : cases) {
    ini(dir / c.query, c.source, c.result);
    EXPECT_EQ(Run(c.args), c.status) << c.args;
    EXPECT_NE(err.find(c.stderrHas), std::string::npos) << c.args << "\n" << err;
    EXPECT_TRUE(out.empty()) << out;
  }
}

TEST_F(Cli, Help) {
  for (const char* flag : {"--help", "-h"}) {
    EXPECT_EQ(Run(flag), 0) << flag;
    EXPECT_EQ(out.rfind("usage: vadoviver-cli", 0), 0u) << out;
    for (const char* form : {"labels --preview SORTFILE", "shipments --preview SORTFILE SOURCE", "zones --coverage",
                             "watch package|shipment"})
      EXPECT_NE(out.find(form), std::string::npos) << form << "\n" << out;
    EXPECT_TRUE(err.empty()) << err;
  }
}

TEST_F(Cli, DumpInTagAndRecordOrder) {
  ASSERT_EQ(Run("dump '" + (dir / "Provinces") + "' name"), 0) << err;
  std::vector<std::string> lines;
  for (size_t p = 0, q; (q = out.find('\n', p)) != std::string::npos; p = q + 1) lines.push_back(out.substr(p, q - p));
  ASSERT_EQ(lines.size(), 25u);
  EXPECT_EQ(lines[0], "9\tCA\tAB\t9\tAlberta");
  EXPECT_EQ(lines[2], "25\tUS\tCA\t112\tCalifornia");
  ASSERT_EQ(Run("dump '" + (dir / "Postal") + "'"), 0) << err;
  EXPECT_EQ(out.substr(0, out.find('\n')), "1\tT8X0K3\tT8X5Z9\tMontreal");
}

TEST_F(Cli, ZonesCoverage) {
  auto count = [&](const std::string& what) {
    const std::string key = "\n# " + what + "\t";
    const size_t at = out.find(key);
    return at == std::string::npos ? -1 : std::stol(out.substr(at + key.size()));
  };
  auto rows = [&](const std::string& has) {
    int n = 0;
    for (size_t p = out.find(has); p != std::string::npos; p = out.find(has, p + 1)) ++n;
    return n;
  };
  // No zone yet: every line is reported.
  ASSERT_EQ(Run("zones --coverage"), 2) << err;
  EXPECT_EQ(out.rfind("status\tcountry\tprovince\tname\tpostal\tpostal_to\ttown\tzones\twinner\n", 0), 0u);
  const long lines = count("postal lines");
  ASSERT_GT(lines, 0);
  EXPECT_EQ(count("uncovered"), lines);
  EXPECT_EQ(rows("\nuncovered\t"), lines);

  // One zone of every province whole: nothing to report.
  OpenData();
  AppSetup = new TSetup(dir.path());
  AppSetup->MultiShipperPath = dir.path();
  TProvinceArray provinces;
  LoadProvinces(provinces);
  TZone all;
  all.Zone = "ALL";
  for (const auto& p : provinces) {
    all.Provinces.push_back(std::make_unique<TProvince>());
    all.Provinces.back()->Country = p->Country;
    all.Provinces.back()->Province = p->Province;
  }
  FreeProvinces(provinces);
  ASSERT_TRUE(all.Save(true));
  delete AppSetup;
  AppSetup = nullptr;
  CloseData(AppEngine);
  ASSERT_EQ(Run("zones --coverage"), 0) << err;
  EXPECT_EQ(count("postal lines"), lines);
  EXPECT_EQ(count("uncovered"), 0);
  EXPECT_EQ(count("covered more than once"), 0);

  // Z1 (Ontario) and Z2 (a Vancouver range) overlap ALL, which comes first in
  // zone order and wins.
  SaveZones();
  ASSERT_EQ(Run("zones --coverage"), 2) << err;
  EXPECT_EQ(count("uncovered"), 0);
  EXPECT_GT(rows("\tON\t"), 0);
  EXPECT_EQ(rows("\tON\t"), rows("\tALL,Z1\tALL\n"));
  EXPECT_EQ(count("covered more than once"), rows("\tALL,Z1\tALL\n") + rows("\tALL,Z2\tALL\n"));
  EXPECT_EQ(count("zones"), 3);

  // Without the zip codes the report would be incomplete: refused.
  std::filesystem::remove(dir / "USZip.dbf");
  EXPECT_EQ(Run("zones --coverage"), 1);
  EXPECT_NE(err.find("Unable to open table"), std::string::npos) << err;
  EXPECT_EQ(out, "");
}

}  // namespace
