// Holds a file open in a second process for the exclusive-open tests.
// Usage: lockholder_helper write|read|exclusive|posixlock <path>
// Prints "ready" once it holds the file (or "failed" and exits 1), then holds
// it until its standard input closes or a signal ends it.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/file.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s write|read|exclusive|posixlock path\n", argv[0]);
    return 2;
  }
  const char* how = argv[1];
  const char* path = argv[2];
  int fd = -1;
  std::unique_ptr<plat::File> held;
  if (std::strcmp(how, "write") == 0) {
    fd = open(path, O_WRONLY);
  } else if (std::strcmp(how, "read") == 0) {
    fd = open(path, O_RDONLY);
  } else if (std::strcmp(how, "exclusive") == 0) {
    held = plat::OpenExclusive(path, plat::OpenMode::ReadWrite);
  } else if (std::strcmp(how, "posixlock") == 0) {
    fd = open(path, O_RDWR);
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    if (fd >= 0 && fcntl(fd, F_SETLK, &fl) != 0) {
      close(fd);
      fd = -1;
    }
  }
  if (fd < 0 && !held) {
    std::puts("failed");
    std::fflush(stdout);
    return 1;
  }
  std::puts("ready");
  std::fflush(stdout);
  char buf[64];
  while (read(0, buf, sizeof buf) > 0) {
  }
  return 0;
}
