// vadoviver-demo --out DIR [--seed N]: creates a demo Kavlo Desko folder.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "setup/TableAccess.h"
#include "tools/demo_data.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: vadoviver-demo --out DIR [--seed N]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string out;
  unsigned long seed = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--out" && i + 1 < argc) {
      out = argv[++i];
    } else if (a == "--seed" && i + 1 < argc) {
      char* end = nullptr;
      seed = std::strtoul(argv[++i], &end, 10);
      if (!end || *end || seed > 0xFFFFFFFFul) return Usage();
    } else {
      return Usage();
    }
  }
  if (out.empty()) return Usage();

  std::error_code ec;
  std::string root = std::filesystem::absolute(out, ec).lexically_normal().string();
  if (ec) {
    std::fprintf(stderr, "vadoviver-demo: %s: %s\n", out.c_str(), ec.message().c_str());
    return 1;
  }
  root = SafeDir(root);

  const int engine = OpenData();
  if (!engine) {
    std::fprintf(stderr, "vadoviver-demo: cannot open the table engine\n");
    return 1;
  }
  const demo::Model model = demo::BuildModel(root, static_cast<uint32_t>(seed));
  std::string error;
  const bool ok = demo::WriteModel(engine, model, error);
  CloseData(engine);
  if (!ok) {
    std::fprintf(stderr, "vadoviver-demo: %s\n", error.c_str());
    return 1;
  }
  std::printf("Demo Kavlo Desko folder: %s\n", root.c_str());
  std::printf("  %zu provinces and states, %zu postal lines, %zu zip codes\n", model.provinces.size(),
              model.postal.size(), model.zips.size());
  std::printf("  %zu shipments, %zu waiting labels, %zu zones\n", model.shipments.size(), model.labels.size(),
              model.zones.size());
  std::printf("  ORDER.TXT with %zu shipments in %s\n", model.orderShipments.size(), model.sourcePath.c_str());
  return 0;
}
