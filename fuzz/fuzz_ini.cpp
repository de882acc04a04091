// Feeds arbitrary bytes to the ini reader and writer as a file.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/ini.h"

namespace {

std::string g_dir;

void RemoveDir() {
  unlink((g_dir + "/f.ini").c_str());
  rmdir(g_dir.c_str());
}

const std::string& Dir() {
  if (g_dir.empty()) {
    // Memory-backed when available: every write ends in fsync.
    std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string tmpl = base + "/vv_fuzz_ini_XXXXXX";
    if (!mkdtemp(tmpl.data())) std::abort();
    g_dir = tmpl;
    std::atexit(RemoveDir);
  }
  return g_dir;
}

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string file = Dir() + "/f.ini";
  {
    FILE* f = std::fopen(file.c_str(), "wb");
    if (!f) return 0;
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  // A name taken from the input itself, so that names inside the file are hit.
  const std::string probe = bytes.substr(0, std::min<size_t>(bytes.find_first_of("=]\n"), 24));

  (void)plat::IniReadString(file, "Keys", "Key1", "");
  (void)plat::IniReadInteger(file, "Keys", "Key2", -1);
  (void)plat::IniReadString(file, probe, probe, "");
  (void)plat::IniReadInteger(file, "Paths", probe, 0);
  for (const auto& kv : plat::IniReadSection(file, probe)) (void)kv;
  (void)plat::IniReadSection(file, "Keys");

  plat::IniWriteString(file, "Keys", "FuzzKey", "C:\\X");
  Check(plat::IniReadString(file, "KEYS", "fuzzkey", "") == "C:\\X");
  plat::IniWriteInteger(file, probe, "Key3", 42);
  bool plainName = true;
  for (char c : probe) plainName = plainName && std::isalnum(static_cast<unsigned char>(c));
  if (plainName) Check(plat::IniReadInteger(file, probe, "KEY3", 0) == 42);
  plat::IniEraseSection(file, "Keys");
  Check(plat::IniReadString(file, "Keys", "FuzzKey", "none") == "none");
  return 0;
}
