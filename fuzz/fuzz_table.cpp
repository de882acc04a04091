// Opens arbitrary bytes as a table with its compound index and walks it:
// every failure must be an XBaseError, never a crash, a hang or a leak.
// Input: the first two bytes give the length of the table part (modulo the
// rest); the table bytes follow, then the index bytes. A set low bit in the
// first byte also tries a write (append, replace, flush) on the result.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/xbase/error.h"
#include "platform/xbase/table.h"

namespace {

std::string Folder() {
  static std::string dir = [] {
    char tmpl[] = "/tmp/vv_fuzz_table_XXXXXX";
    char* p = ::mkdtemp(tmpl);
    return std::string(p ? p : "/tmp");
  }();
  return dir;
}

void Write(const std::string& path, const uint8_t* data, size_t n) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  if (n) std::fwrite(data, 1, n, f);
  std::fclose(f);
}

void Walk(xbase::Table& t) {
  uint64_t limit = static_cast<uint64_t>(t.RecordCount()) + 2;
  for (int tag = -1; tag < t.TagCount(); ++tag) {
    t.SelectTag(tag);
    uint64_t n = 0;
    for (bool ok = t.Top(); ok && n < limit; ok = t.Skip(1), ++n) {
      for (size_t f = 0; f < t.Data().Fields().size(); ++f) t.FieldText(static_cast<int>(f));
    }
    n = 0;
    for (bool ok = t.Bottom(); ok && n < limit; ok = t.Skip(-1), ++n) {
    }
    if (tag < 0) continue;
    t.TagEntries(tag);
    for (const char* key : {"", "1", "A", " ", "\xff\xff"}) {
      n = 0;
      for (bool ok = t.Seek(key); ok && n < limit; ok = t.SeekNext(key), ++n) {
      }
    }
    if (t.TagKeyType(tag) != 'C') {
      for (double v : {0.0, -1.5, 1.0, 1e300}) {
        n = 0;
        for (bool ok = t.SeekDouble(v); ok && n < limit; ok = t.SeekNextDouble(v), ++n) {
        }
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  size_t rest = size - 2;
  size_t dbfLen = rest ? ((data[0] << 8 | data[1]) % (rest + 1)) : 0;
  bool write = data[0] & 1;
  std::string base = Folder() + "/T";
  Write(base + ".dbf", data + 2, dbfLen);
  Write(base + ".cdx", data + 2 + dbfLen, rest - dbfLen);
  try {
    auto t = xbase::Table::Open(base);
    Walk(*t);
    if (write && !t->Data().Fields().empty()) {
      t->AppendBlank();
      t->Replace(0, "1");
      t->Flush();
      Walk(*t);
    }
  } catch (const xbase::XBaseError&) {
  }
  return 0;
}
