// Second process for the table lock tests: opens a table, takes its
// whole-table lock, prints "locked" (or "busy" / "failed"), then holds it
// until its standard input closes.
// Usage: tablelock_helper <native table path without extension>
#include <unistd.h>

#include <cstdio>
#include <exception>

#include "platform/xbase/table.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s table\n", argv[0]);
    return 2;
  }
  try {
    auto t = xbase::Table::Open(argv[1]);
    if (!t->LockFile()) {
      std::puts("busy");
      return 1;
    }
    std::puts("locked");
    std::fflush(stdout);
    char buf[64];
    while (::read(0, buf, sizeof buf) > 0) {
    }
  } catch (const std::exception& e) {
    std::printf("failed %s\n", e.what());
    return 1;
  }
  return 0;
}
