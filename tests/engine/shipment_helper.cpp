// One shipment pass in a second process, for the tests that kill it midway.
//   shipment_helper SOURCE RESULT [locked]
// sorts SOURCE by customer name into RESULT; exit 0 when the pass succeeded.
// With "locked" the result's folder takes no new file for this process
// either (a new process regains the rights the test dropped for itself).
#include <filesystem>
#include <memory>
#include <string>

#include "engine/uSequncr.h"
#include "test_files.h"

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) return 2;
  std::unique_ptr<testfiles::LockedFolder> locked;
  if (argc == 4 && std::string(argv[3]) == "locked")
    locked = std::make_unique<testfiles::LockedFolder>(std::filesystem::path(argv[2]).parent_path().string());
  TProvinceArray none;
  return SequenceShipmentFile(argv[1], argv[2], none, {sfCustomerName}) ? 0 : 1;
}
