// Second process for the label tests: takes the whole-table lock on the table
// named by argv[1], answers "locked" (or "failed"), and holds the lock until
// its standard input closes.
#include <unistd.h>

#include <cstdio>

#include "setup/TableAccess.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const int engine = OpenData();
  const int t = mOpen(engine, argv[1], "");
  if (!t || d4lockFile(t) != 0) {
    std::printf("failed\n");
    std::fflush(stdout);
    return 1;
  }
  std::printf("locked\n");
  std::fflush(stdout);
  char c;
  while (read(0, &c, 1) > 0) {
  }
  d4close(t);
  CloseData(engine);
  return 0;
}
