// Second process for the interrupted-remove tests: opens a table, takes its
// lock, prints "ready", waits for one byte on standard input, then removes
// every record whose first field is a multiple of the given number (and the
// records marked deleted) and prints "done". The test kills it on the way.
// Usage: remover_helper <native table path without extension> <every>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <vector>

#include "platform/xbase/table.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s table every\n", argv[0]);
    return 2;
  }
  try {
    auto t = xbase::Table::Open(argv[1]);
    const long every = std::atol(argv[2]);
    std::vector<uint32_t> recs;
    for (uint32_t r = 1; r <= t->RecordCount(); ++r)
      if (t->Go(r) && static_cast<long>(t->FieldNumber(0)) % every == 0) recs.push_back(r);
    if (!t->LockFile()) {
      std::puts("busy");
      return 1;
    }
    std::puts("ready");
    std::fflush(stdout);
    char c;
    if (::read(0, &c, 1) != 1) return 1;
    t->Remove(recs);
    t->Unlock();
    std::puts("done");
  } catch (const std::exception& e) {
    std::printf("failed %s\n", e.what());
    return 1;
  }
  return 0;
}
