#pragma once
// The demo Kavlo Desko installation: a model built from a seed (pure data, the
// same for the same seed) and the writer that lays it out on disk with our own
// table engine. Tests use the model to know what the tables hold.
#include <cstdint>
#include <string>
#include <vector>

namespace demo {

struct Province {
  std::string country;  // "CA" or "US"
  std::string code;
  int sequence = 0;     // grows from east to west
  std::string name;
};

struct PostalRange {  // a row of Postal
  std::string from, to, town;
};

struct Zip {  // a row of USZip
  std::string zip, state, city;
};

struct Customer {
  std::string id, name, province, postal, town, street;
  bool us = false;
};

struct Package {
  int number = 0;
  std::string ref[4];
};

struct Shipment {
  int32_t id = 0;
  int customer = 0;  // index into customers
  std::string ref0, ref1;
  std::vector<Package> packages;
};

struct Label {
  std::string fileName;  // full path of the document file
  int document = 0;      // 0 package label, 1 commercial invoice, 2 key-entry document
  int32_t shipment = 0;
  int package = 0;
  std::string content;   // the document's bytes
};

struct ZoneArea {          // a row of AreaToZone
  std::string area, areaTo;
};

struct Zone {
  std::string code, name;
  std::vector<ZoneArea> rows;
};

struct Model {
  uint32_t seed = 0;
  std::string root;  // the demo folder, no trailing separator
  std::string dataPath, multiShipperPath, ratingPath, labelPath;
  std::string sourcePath, resultPath;
  std::string zoneSortFile, provinceSortFile;

  std::vector<Province> provinces;
  std::vector<PostalRange> postal;
  std::vector<Zip> zips;
  std::vector<Customer> customers;
  std::vector<Shipment> shipments;      // the Shipment and Package tables
  std::vector<Label> labels;            // Labels, in record order
  std::vector<Zone> zones;
  std::vector<Shipment> orderShipments; // the shipments of ORDER.TXT, in file order
  std::string orderText;                // ORDER.TXT's bytes
};

// Builds the demo for the folder root (absolute, no trailing separator).
Model BuildModel(const std::string& root, uint32_t seed);

// Writes the model: folders, Mondarix.ini, the tables with their tags, the label
// documents, ORDER.TXT and the sort files. engine is an open table engine. The
// folder must not exist yet or be empty. False with a reason on failure.
bool WriteModel(int engine, const Model& model, std::string& error);

// Both in one.
bool Generate(int engine, const std::string& root, uint32_t seed, std::string& error);

}  // namespace demo
