// Fuzzes the shipment-file reader and sequencing: arbitrary bytes as ORDER.TXT
// under a sort order taken from the first input byte. The result must be the
// file's shipment blocks in sorted order, every byte from the first header
// line on copied exactly once (checked against a plain model), and the reader
// must consume every byte exactly once.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "engine/uSequncr.h"
#include "platform/file.h"
#include "tests/engine/shipment_model.h"

namespace {

std::string Folder() {
  static const std::string dir = [] {
    // tmpfs when there is one: the result is made durable on every run.
    std::string base = std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp";
    std::string tmpl = base + "/vv_fuzz_shipment_XXXXXX";
    if (!mkdtemp(tmpl.data())) std::abort();
    return tmpl;
  }();
  return dir;
}

std::string ReadAll(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t selector = data[0];
  const std::string content(reinterpret_cast<const char*>(data + 1), size - 1);
  TSortOrderArray order = {static_cast<TSortField>(3 + selector % 10)};
  if (selector & 0x80) order.push_back(static_cast<TSortField>(3 + (selector >> 3) % 10));

  const std::string source = Folder() + "/ORDER.IN";
  const std::string result = Folder() + "/ORDER.TXT";
  std::ofstream(source, std::ios::binary | std::ios::trunc) << content;
  std::ofstream(result, std::ios::binary | std::ios::trunc) << "old result that must go";

  // The reader alone: fields to the end, every byte counted once.
  {
    auto f = plat::OpenFile(source, plat::OpenMode::Read);
    Check(f != nullptr, "open source");
    TFieldReader r(*f);
    int guard = 0;
    while (!r.AtEnd) {
      const std::string field = r.ReadField();
      Check(field.size() <= 255, "field of at most 255 characters");
      if (r.AtLineEnd && (++guard & 1)) r.SkipLine();
    }
    Check(r.Position == static_cast<int64_t>(content.size()), "every byte consumed once");
  }

  TProvinceArray provinces;
  Check(SequenceShipmentFile(source, result, provinces, order), "sequencing succeeds");
  Check(!std::filesystem::exists(source), "source consumed");
  const std::string got = ReadAll(result);
  Check(got == model::Sequence(content, order), "blocks in sorted order, each byte once");
  return 0;
}
