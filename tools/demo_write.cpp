// Lays the demo model out on disk: the host's settings file, its tables (made
// with our own table engine, in the layouts the host uses) and its files.
#include <filesystem>
#include <fstream>
#include <functional>

#include "setup/TableAccess.h"
#include "tools/demo_data.h"

namespace demo {
namespace {

namespace fs = std::filesystem;

bool WriteText(const std::string& path, const std::string& text, std::string& error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) {
    error = "cannot write " + path;
    return false;
  }
  return true;
}

using Row = std::vector<std::string>;

// Creates a table and appends the rows (values in field order).
bool WriteTable(int engine, const std::string& folder, const std::string& name,
                const std::vector<FIELD4INFO>& fields, const std::vector<TAG4INFO>& tags,
                const std::function<void(const std::function<void(const Row&)>&)>& rows, std::string& error) {
  const std::string path = folder + "\\" + name;
  int t = d4create(engine, path, fields, tags);
  if (!t) {
    error = "cannot create table " + path + ": " + LastErrorText();
    return false;
  }
  bool ok = true;
  rows([&](const Row& row) {
    if (!ok) return;
    if (d4appendBlank(t) != 0) {
      ok = false;
      error = "cannot append to " + path + ": " + LastErrorText();
      return;
    }
    for (size_t i = 0; i < row.size() && i < fields.size(); ++i) {
      if (replace(t, fields[i].name, row[i]) != 0) {
        ok = false;
        error = "cannot store " + fields[i].name + " in " + path + ": " + LastErrorText();
        return;
      }
    }
  });
  if (ok && d4flush(t) != 0) {
    ok = false;
    error = "cannot flush " + path + ": " + LastErrorText();
  }
  if (d4close(t) != 0 && ok) {
    ok = false;
    error = "cannot close " + path + ": " + LastErrorText();
  }
  return ok;
}

std::string Crlf(std::initializer_list<std::string> lines) {
  std::string t;
  for (const auto& l : lines) t += l + "\r\n";
  return t;
}

}  // namespace

bool WriteModel(int engine, const Model& m, std::string& error) {
  std::error_code ec;
  if (fs::exists(m.root, ec) && !fs::is_empty(m.root, ec)) {
    error = m.root + " exists and is not empty";
    return false;
  }
  for (const std::string& d : {m.dataPath, m.multiShipperPath, m.ratingPath, m.labelPath, m.sourcePath,
                               m.resultPath}) {
    fs::create_directories(d, ec);
    if (ec) {
      error = "cannot create " + d + ": " + ec.message();
      return false;
    }
  }

  const std::string host = Crlf({"[System Directories]", "Data=" + m.dataPath, "Multi-Shipper=" + m.multiShipperPath,
                                 "Rating=" + m.ratingPath, "", "[Printer Setup]",
                                 "PackagePrinter=Direct To Eltron", "CommInvoicePrinter=Direct To Eltron",
                                 "KeyentryPrinter=Direct To Eltron", "", "[Direct To Eltron Setup]", "Port=1"});
  if (!WriteText(m.root + "/Mondarix.ini", host, error)) return false;

  // Rating
  if (!WriteTable(engine, m.ratingPath, "Provinces",
                  {{"COUNTRY", 'C', 2}, {"PROVINCE", 'C', 2}, {"SEQUENCE", 'N', 3}, {"NAME", 'C', 30}},
                  {{"NAME", "UPPER(NAME)"}},
                  [&](auto add) {
                    for (const Province& p : m.provinces)
                      add({p.country, p.code, std::to_string(p.sequence), p.name});
                  },
                  error))
    return false;
  if (!WriteTable(engine, m.ratingPath, "Postal", {{"POSTAL_COD", 'C', 6}, {"POSTAL_TO", 'C', 6}, {"TOWN", 'C', 30}},
                  {},
                  [&](auto add) {
                    for (const PostalRange& p : m.postal) add({p.from, p.to, p.town});
                  },
                  error))
    return false;
  if (!WriteTable(engine, m.ratingPath, "USZip", {{"ZIP_CODE", 'C', 5}, {"STATE_CODE", 'C', 2}, {"CITY_NAME", 'C', 30}},
                  {},
                  [&](auto add) {
                    for (const Zip& z : m.zips) add({z.zip, z.state, z.city});
                  },
                  error))
    return false;

  // Data
  if (!WriteTable(engine, m.dataPath, "Shipment",
                  {{"SHIPMENTID", 'N', 10}, {"ST_PROV", 'C', 2}, {"ST_CUSTID", 'C', 15}, {"ST_NAME", 'C', 35},
                   {"ST_POSTAL", 'C', 10}, {"REFERENCE0", 'C', 30}, {"REFERENCE1", 'C', 30}},
                  {{"SHIPMENTID", "SHIPMENTID"}},
                  [&](auto add) {
                    for (const Shipment& s : m.shipments) {
                      const Customer& c = m.customers[s.customer];
                      add({std::to_string(s.id), c.province, c.id, c.name, c.postal, s.ref0, s.ref1});
                    }
                  },
                  error))
    return false;
  if (!WriteTable(engine, m.dataPath, "Package",
                  {{"SHIPMENTID", 'N', 10}, {"PKG_NO", 'N', 4}, {"REFERENCE1", 'C', 30}, {"REFERENCE2", 'C', 30},
                   {"REFERENCE3", 'C', 30}, {"REFERENCE4", 'C', 30}},
                  {{"SHIPMENTID", "SHIPMENTID"}},
                  [&](auto add) {
                    for (const Shipment& s : m.shipments)
                      for (const Package& p : s.packages)
                        add({std::to_string(s.id), std::to_string(p.number), p.ref[0], p.ref[1], p.ref[2], p.ref[3]});
                  },
                  error))
    return false;

  // Multi-Shipper: waiting labels with their documents, and the zones.
  for (const Label& l : m.labels)
    if (!WriteText(l.fileName, l.content, error)) return false;
  if (!WriteTable(engine, m.multiShipperPath, "Labels",
                  {{"FILE_NAME", 'C', 128}, {"DOCUMENT", 'N', 2}, {"SHIPMENT", 'N', 10}, {"PACKAGE", 'N', 5}},
                  {{"DOCUMENT", "DOCUMENT"}},
                  [&](auto add) {
                    for (const Label& l : m.labels)
                      add({l.fileName, std::to_string(l.document), std::to_string(l.shipment),
                           std::to_string(l.package)});
                  },
                  error))
    return false;
  if (!WriteTable(engine, m.multiShipperPath, "Zones", {{"ZONE", 'C', 9}, {"NAME", 'C', 40}}, {{"ZONE", "ZONE"}},
                  [&](auto add) {
                    for (const Zone& z : m.zones) add({z.code, z.name});
                  },
                  error))
    return false;
  if (!WriteTable(engine, m.multiShipperPath, "AreaToZone", {{"ZONE", 'C', 9}, {"AREA", 'C', 10}, {"AREA_TO", 'C', 10}},
                  {{"ZONE", "ZONE"}},
                  [&](auto add) {
                    for (const Zone& z : m.zones)
                      for (const ZoneArea& a : z.rows) add({z.code, a.area, a.areaTo});
                  },
                  error))
    return false;

  // A shipment file waiting in the source folder, and two sort files.
  if (!WriteText(m.sourcePath + "/ORDER.TXT", m.orderText, error)) return false;
  if (!WriteText(m.zoneSortFile, Crlf({"[Keys]", "Key1=0", "Key2=6"}), error)) return false;
  if (!WriteText(m.provinceSortFile, Crlf({"[Keys]", "Key1=2", "Key2=5"}), error)) return false;
  return true;
}

bool Generate(int engine, const std::string& root, uint32_t seed, std::string& error) {
  return WriteModel(engine, BuildModel(root, seed), error);
}

}  // namespace demo
