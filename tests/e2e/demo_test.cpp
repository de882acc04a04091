// The demo installation: what the generator writes must be what the program
// reads, through the program's own settings, loaders and readers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "engine/uSequncr.h"
#include "geo/uXArea.h"
#include "geo/uXZone.h"
#include "platform/printing.h"
#include "platform/text.h"
#include "setup/TableAccess.h"
#include "setup/uSetup.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"
#include "tools/demo_data.h"
#include "tests/support/process.h"

namespace fs = std::filesystem;

namespace {

using TempDir = vvtest::TempDir;

std::string ReadAll(const fs::path& p) { return vvtest::ReadFile(p.string()); }

// Every record of a table in record order, fields joined by '|'.
std::vector<std::string> Dump(const std::string& table) {
  std::vector<std::string> rows;
  const int t = mOpen(AppEngine, table, "");
  if (!t) return {"(cannot open " + table + ")"};
  const int n = d4numFields(t);
  for (int rc = d4top(t); rc == 0; rc = d4skip(t, 1)) {
    std::string row;
    for (int i = 1; i <= n; ++i) row += fetch(t, d4fieldName(t, i)) + "|";
    rows.push_back(row);
  }
  d4close(t);
  return rows;
}

// A plain comma splitter that honours double quotes (the export never doubles them).
std::vector<std::string> SplitCsv(const std::string& line) {
  std::vector<std::string> f(1);
  bool quoted = false;
  for (char c : line) {
    if (c == '"') quoted = !quoted;
    else if (c == ',' && !quoted) f.emplace_back();
    else if (c != '\r') f.back() += c;
  }
  return f;
}

class DemoTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    plat::SetPrinting(plat::MakeFixedPrinterList({}, false));
    ASSERT_NE(OpenData(), 0);
    dir_ = new TempDir;
    model_ = new demo::Model(demo::BuildModel(*dir_ / "kavlo", 11));
    std::string error;
    ASSERT_TRUE(demo::WriteModel(AppEngine, *model_, error)) << error;
    // Reference tables have no index of their own: the program adds its tags.
    referenceUnindexed_ = !fs::exists(fs::path(model_->ratingPath) / "Postal.cdx") &&
                          !fs::exists(fs::path(model_->ratingPath) / "USZip.cdx");
  }
  static void TearDownTestSuite() {
    CloseData(AppEngine);
    plat::SetPrinting(nullptr);
    delete model_;
    delete dir_;
  }
  void SetUp() override {
    // The program finds the host folder through its own settings file.
    prog_ = *dir_ / "prog";
    fs::create_directories(prog_);
    std::ofstream(prog_ / "Vadoviver.ini") << "[Paths]\nDesko=" << model_->root << "\n";
    setup_ = std::make_unique<TSetup>(prog_.string());
    AppSetup = setup_.get();
  }
  void TearDown() override { AppSetup = nullptr; }

  static TempDir* dir_;
  static demo::Model* model_;
  static bool referenceUnindexed_;
  fs::path prog_;
  std::unique_ptr<TSetup> setup_;
};
TempDir* DemoTest::dir_ = nullptr;
demo::Model* DemoTest::model_ = nullptr;
bool DemoTest::referenceUnindexed_ = false;

TEST_F(DemoTest, HostSettingsPointAtTheDemoFolders) {
  EXPECT_EQ(AppSetup->DataPath, model_->dataPath);
  EXPECT_EQ(AppSetup->MultiShipperPath, model_->multiShipperPath);
  EXPECT_EQ(AppSetup->RatingPath, model_->ratingPath);
  EXPECT_EQ(AppSetup->PackagePrinter, PrinterEltron);
  EXPECT_EQ(AppSetup->CommInvoicePrinter, PrinterEltron);
  EXPECT_EQ(AppSetup->KeyentryPrinter, PrinterEltron);
  EXPECT_EQ(AppSetup->EltronPort, 1);
}

TEST_F(DemoTest, TablesHoldTheModel) {
  const demo::Model& m = *model_;
  EXPECT_EQ(m.provinces.size(), 64u);  // 13 provinces and territories, 50 states and DC
  EXPECT_GE(m.postal.size(), 1400u);
  EXPECT_LE(m.postal.size(), 1800u);
  EXPECT_GE(m.zips.size(), 38000u);
  EXPECT_LE(m.zips.size(), 46000u);
  EXPECT_GE(m.labels.size(), 30u);
  EXPECT_LE(m.labels.size(), 36u);

  size_t packages = 0;
  for (const auto& s : m.shipments) packages += s.packages.size();
  size_t areaRows = 0;
  for (const auto& z : m.zones) areaRows += z.rows.size();
  const std::pair<std::string, size_t> tables[] = {
      {m.ratingPath + "\\Provinces", m.provinces.size()}, {m.ratingPath + "\\Postal", m.postal.size()},
      {m.ratingPath + "\\USZip", m.zips.size()},          {m.dataPath + "\\Shipment", m.shipments.size()},
      {m.dataPath + "\\Package", packages},               {m.multiShipperPath + "\\Labels", m.labels.size()},
      {m.multiShipperPath + "\\Zones", m.zones.size()},   {m.multiShipperPath + "\\AreaToZone", areaRows}};
  for (const auto& [table, count] : tables) EXPECT_EQ(Dump(table).size(), count) << table;

  const auto postal = Dump(m.ratingPath + "\\Postal");
  for (size_t i = 0; i < m.postal.size(); i += 97)
    EXPECT_EQ(postal[i], m.postal[i].from + "|" + m.postal[i].to + "|" + m.postal[i].town + "|");
  EXPECT_TRUE(referenceUnindexed_);
}

TEST_F(DemoTest, ProvinceListCoversEveryPostalLineAndZip) {
  TProvinceArray list;
  LoadProvinces(list);
  ASSERT_EQ(list.size(), model_->provinces.size());
  // The "name" tag orders the list by name.
  for (size_t i = 1; i < list.size(); ++i) EXPECT_LT(plat::UpperAZ(list[i - 1]->Name), plat::UpperAZ(list[i]->Name));
  size_t lines = 0, zips = 0;
  std::map<std::string, int> sequence;
  for (const auto& p : list) {
    EXPECT_FALSE(p->Areas.empty()) << p->Province;
    if (p->Country == "CA") {
      lines += p->Areas.size();
      EXPECT_EQ(p->AreasTo.size(), p->Areas.size());
    } else {
      zips += p->Areas.size();
    }
    sequence[p->Province] = p->Sequence;
  }
  EXPECT_EQ(lines, model_->postal.size());
  EXPECT_EQ(zips, model_->zips.size());
  // Sequence grows from east to west.
  EXPECT_LT(sequence["NF"], sequence["QC"]);
  EXPECT_LT(sequence["QC"], sequence["ON"]);
  EXPECT_LT(sequence["AB"], sequence["BC"]);
  EXPECT_LT(sequence["ME"], sequence["IL"]);
  EXPECT_LT(sequence["IL"], sequence["WA"]);
  EXPECT_GE(sequence["DC"], 101);
  FreeProvinces(list);
}

TEST_F(DemoTest, ZonesLoadWithTheirAreas) {
  TZoneArray zones;
  LoadZones(zones);
  ASSERT_EQ(zones.size(), model_->zones.size());
  std::map<std::string, const TZone*> byCode;
  for (const auto& z : zones) byCode[z->Zone] = z.get();
  const TZone* atlantic = byCode.at("10");
  ASSERT_EQ(atlantic->ProvinceCount(), 4);
  EXPECT_EQ(atlantic->GetProvince(0)->Province, "NF");
  EXPECT_TRUE(atlantic->GetProvince(0)->Areas.empty());  // whole province
  const TZone* toronto = byCode.at("30");
  ASSERT_EQ(toronto->ProvinceCount(), 1);
  EXPECT_EQ(toronto->GetProvince(0)->Country, "CA");
  EXPECT_EQ(toronto->GetProvince(0)->Areas.size(), model_->zones[2].rows.size());
  EXPECT_EQ(toronto->GetProvince(0)->AreasTo.size(), toronto->GetProvince(0)->Areas.size());
  const TZone* chicago = byCode.at("75");
  ASSERT_EQ(chicago->ProvinceCount(), 1);
  EXPECT_EQ(chicago->GetProvince(0)->Province, "IL");
  EXPECT_GT(chicago->GetProvince(0)->Areas.size(), 20u);
  EXPECT_TRUE(chicago->GetProvince(0)->AreasTo.empty());
  FreeZones(zones);
}

TEST_F(DemoTest, LabelsNameShipmentsAndReadableDocuments) {
  std::set<int32_t> shipments;
  for (const auto& s : model_->shipments) shipments.insert(s.id);
  std::set<int> documents;
  const auto rows = Dump(model_->multiShipperPath + "\\Labels");
  ASSERT_EQ(rows.size(), model_->labels.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    const demo::Label& l = model_->labels[i];
    EXPECT_EQ(rows[i], l.fileName + "|" + std::to_string(l.document) + "|" + std::to_string(l.shipment) + "|" +
                           std::to_string(l.package) + "|");
    EXPECT_TRUE(shipments.count(l.shipment));
    documents.insert(l.document);
    const std::string doc = ReadAll(l.fileName);
    EXPECT_EQ(doc, l.content);
    // The printed order can be seen on the labels: customer and postal code.
    const auto& s = *std::find_if(model_->shipments.begin(), model_->shipments.end(),
                                  [&](auto& x) { return x.id == l.shipment; });
    const demo::Customer& c = model_->customers[s.customer];
    EXPECT_NE(doc.find(c.name), std::string::npos);
    EXPECT_NE(doc.find(c.postal), std::string::npos);
  }
  EXPECT_EQ(documents, (std::set<int>{0, 1, 2}));
}

TEST_F(DemoTest, OrderFileHeadersCarryTheKeysAtTheirPositions) {
  std::istringstream in(ReadAll(fs::path(model_->sourcePath) / "ORDER.TXT"));
  std::string line;
  size_t headers = 0, details = 0;
  while (std::getline(in, line)) {
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(line.back(), '\r');
    const auto f = SplitCsv(line);
    if (f[0] != "H") {
      ++details;
      continue;
    }
    ASSERT_LT(headers, model_->orderShipments.size());
    const demo::Shipment& s = model_->orderShipments[headers++];
    const demo::Customer& c = model_->customers[s.customer];
    ASSERT_GE(f.size(), 80u);
    EXPECT_EQ(f[3], c.id);
    EXPECT_EQ(f[4], c.name);
    EXPECT_EQ(f[12], c.postal);
    EXPECT_EQ(f[13], c.province);
    EXPECT_EQ(f[73], s.ref0);
    EXPECT_EQ(f[74], s.ref1);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(f[75 + k], s.packages[0].ref[k]);
  }
  EXPECT_EQ(headers, 100u);
  EXPECT_GE(details, headers);
  EXPECT_TRUE(fs::is_directory(model_->resultPath));
  EXPECT_TRUE(fs::is_empty(model_->resultPath));
}

TEST_F(DemoTest, SortFilesGiveTheirOrders) {
  TSortOrderArray order;
  ASSERT_TRUE(ReadSortFile(model_->zoneSortFile, order));
  EXPECT_EQ(order, (TSortOrderArray{sfZoneLocation, sfPostalCode}));
  ASSERT_TRUE(ReadSortFile(model_->provinceSortFile, order));
  EXPECT_EQ(order, (TSortOrderArray{sfProvinceLocation, sfCustomerName}));
}

// Postal codes of Canadian customers lie in a postal line of their province,
// so range zones and the zone editor's lists find them.
TEST_F(DemoTest, CustomerPostalCodesLieInTheirProvince) {
  TProvinceArray list;
  LoadProvinces(list);
  std::map<std::string, const TProvince*> byCode;
  for (const auto& p : list) byCode[p->Province] = p.get();
  for (const demo::Customer& c : model_->customers) {
    const TProvince* p = byCode.at(c.province);
    bool found = false;
    for (size_t i = 0; i < p->Areas.size() && !found; ++i)
      found = c.us ? p->Areas[i] == c.postal : p->Areas[i] <= c.postal && c.postal <= p->AreasTo[i];
    EXPECT_TRUE(found) << c.province << " " << c.postal;
  }
  FreeProvinces(list);
}

TEST(DemoModel, SameSeedSameDataOtherSeedOtherData) {
  const demo::Model a = demo::BuildModel("/x", 5), b = demo::BuildModel("/x", 5), c = demo::BuildModel("/x", 6);
  auto flat = [](const demo::Model& m) {
    std::string s = m.orderText;
    for (const auto& p : m.postal) s += p.from + p.to + p.town;
    for (const auto& z : m.zips) s += z.zip + z.city;
    for (const auto& l : m.labels) s += l.fileName + l.content;
    for (const auto& z : m.zones)
      for (const auto& r : z.rows) s += r.area + r.areaTo;
    return s;
  };
  EXPECT_EQ(flat(a), flat(b));
  EXPECT_NE(flat(a), flat(c));
}

#ifdef VV_DEMO_BIN
// The demo program with these arguments, its output thrown away.
int RunDemo(const std::string& args) {
  std::vector<std::string> argv = {VV_DEMO_BIN};
  for (std::string& a : vvtest::SplitArgs(args)) argv.push_back(std::move(a));
  return vvtest::RunProgram(argv);
}

// The program writes the same tables for the same seed, and never writes into a
// folder that already holds something.
TEST(DemoProgram, DeterministicAndRefusesFullFolder) {
  plat::SetPrinting(plat::MakeFixedPrinterList({}, false));
  ASSERT_NE(OpenData(), 0);
  TempDir dir;
  const std::string one = dir / "one", two = dir / "two";
  ASSERT_EQ(RunDemo("--out '" + one + "' --seed 42"), 0);
  ASSERT_EQ(RunDemo("--out '" + two + "' --seed 42"), 0);
  for (const char* t : {"/Rating\\Provinces", "/Rating\\Postal", "/Rating\\USZip", "/Data\\Shipment",
                        "/Data\\Package", "/MultiShipper\\Zones", "/MultiShipper\\AreaToZone"})
    EXPECT_EQ(Dump(one + t), Dump(two + t)) << t;
  EXPECT_EQ(ReadAll(one + "/orders/in/ORDER.TXT"), ReadAll(two + "/orders/in/ORDER.TXT"));
  EXPECT_EQ(Dump(one + "/MultiShipper\\Labels").size(), Dump(two + "/MultiShipper\\Labels").size());

  const std::string before = ReadAll(one + "/Mondarix.ini");
  EXPECT_NE(RunDemo("--out '" + one + "' --seed 1"), 0);
  EXPECT_EQ(ReadAll(one + "/Mondarix.ini"), before);
  EXPECT_NE(RunDemo("--seed 1"), 0);  // no --out
  CloseData(AppEngine);
  plat::SetPrinting(nullptr);
}
#endif

}  // namespace
