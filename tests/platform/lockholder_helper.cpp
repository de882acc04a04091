// Holds a file open in a second process for the exclusive-open and lock tests.
// Usage: lockholder_helper write|read|exclusive|lock <path>
//        lockholder_helper shared|locked <path> <start> <length>
//   write, read  an open for writing or reading
//   exclusive    an open "without sharing"
//   lock         an exclusive lock on every lock byte of the host's engine
//   shared, locked  a shared or exclusive lock on [start, start + length)
// Prints "ready" once it holds the file (or "failed <reason>" and exits 1),
// then holds it until its standard input closes or it is ended.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/os.h"

int main(int argc, char** argv) {
  if (argc != 3 && argc != 5) {
    std::fprintf(stderr, "usage: %s write|read|exclusive|lock|shared|locked path [start length]\n", argv[0]);
    return 2;
  }
  using namespace plat::os;
  const std::string how = argv[1];
  OpenRequest request;
  request.access = how == "read" ? Access::Read : how == "write" ? Access::Write : Access::ReadWrite;
  request.exclusive = how == "exclusive";
  auto file = Os().Open(argv[2], request);
  bool ok = file != nullptr;
  if (ok && how == "lock") ok = file->TryLock(0, kLockTop + 1, LockKind::Exclusive);
  if (ok && argc == 5) {
    const uint64_t start = std::strtoull(argv[3], nullptr, 0), length = std::strtoull(argv[4], nullptr, 0);
    ok = file->TryLock(start, length, how == "shared" ? LockKind::Shared : LockKind::Exclusive);
  }
  if (!ok) {
    std::printf("failed %s\n", LastError().text.c_str());
    std::fflush(stdout);
    return 1;
  }
  std::puts("ready");
  std::fflush(stdout);
  char buf[64];
  while (std::fread(buf, 1, sizeof buf, stdin) > 0) {
  }
  return 0;
}
