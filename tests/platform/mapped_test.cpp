// A mapped file shortened by someone else reads as zeros past its new end
// and says so, instead of ending the process; faults that are not in a
// guarded mapping still end it.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/mapped.h"
#include "tests/platform/xbase_test_util.h"

namespace {

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i % 23);
  return s;
}

TEST(GuardedMapping, ShortenedFileReadsZerosAndIsReported) {
  struct Case {
    const char* what;
    size_t size, cutTo;  // cutTo == size: not shortened
  };
  const Case cases[] = {
      {"untouched", 200000, 200000},
      {"cut inside a page", 200000, 70001},
      {"cut on a page boundary", 200000, 65536},
      {"cut to nothing", 200000, 0},
  };
  xbtest::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = dir / "f", bytes = Pattern(c.size);
    xbtest::WriteFile(path, bytes);
    const int fd = ::open(path.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    plat::GuardedMapping m;
    ASSERT_TRUE(m.Map(fd, c.size));
    EXPECT_FALSE(m.Damaged());
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(c.cutTo)), 0);
    const std::string seen(reinterpret_cast<const char*>(m.Data()), m.Size());
    const long page = ::sysconf(_SC_PAGESIZE);
    const size_t whole = c.cutTo == c.size ? c.size : (c.cutTo + page - 1) / page * page;
    // The file's own bytes up to its new end; past the last page it still
    // reaches, zeros.
    EXPECT_EQ(seen.substr(0, c.cutTo), bytes.substr(0, c.cutTo));
    EXPECT_EQ(seen.substr(whole), std::string(c.size - whole, '\0'));
    EXPECT_EQ(m.Damaged(), c.cutTo != c.size);
    m.Unmap();
    ::close(fd);
  }
}

TEST(GuardedMapping, SeveralMappingsAreGuardedApart) {
  xbtest::TempDir dir;
  const std::string bytes = Pattern(100000);
  xbtest::WriteFile(dir / "a", bytes);
  xbtest::WriteFile(dir / "b", bytes);
  const int a = ::open((dir / "a").c_str(), O_RDWR), b = ::open((dir / "b").c_str(), O_RDWR);
  plat::GuardedMapping ma, mb;
  ASSERT_TRUE(ma.Map(a, bytes.size()));
  ASSERT_TRUE(mb.Map(b, bytes.size()));
  ASSERT_EQ(::ftruncate(b, 10), 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(ma.Data()), ma.Size()), bytes);
  EXPECT_EQ(mb.Data()[bytes.size() - 1], 0);
  EXPECT_FALSE(ma.Damaged());
  EXPECT_TRUE(mb.Damaged());
  // A slot given back starts clean.
  mb.Unmap();
  ASSERT_TRUE(mb.Map(a, bytes.size()));
  EXPECT_FALSE(mb.Damaged());
  ::close(a);
  ::close(b);
}

// A bus error outside every guarded mapping is not swallowed.
void FaultOutsideTheGuard(const std::string& guardedPath, const std::string& otherPath) {
  const int g = ::open(guardedPath.c_str(), O_RDWR);
  const int u = ::open(otherPath.c_str(), O_RDWR);
  plat::GuardedMapping guarded;  // installs the handler
  if (!guarded.Map(g, 100000)) std::abort();
  void* p = ::mmap(nullptr, 100000, PROT_READ, MAP_PRIVATE, u, 0);
  if (p == MAP_FAILED || ::ftruncate(u, 0) != 0) std::abort();
  volatile const char* q = static_cast<const char*>(p);
  std::fprintf(stderr, "%d", q[99999]);
}

void BusErrorSent(const std::string& guardedPath) {
  const int g = ::open(guardedPath.c_str(), O_RDWR);
  plat::GuardedMapping guarded;
  if (!guarded.Map(g, 100000)) std::abort();
  ::raise(SIGBUS);
}

TEST(GuardedMappingDeathTest, OtherBusErrorsStillEndTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  xbtest::TempDir dir;
  xbtest::WriteFile(dir / "g", Pattern(100000));
  xbtest::WriteFile(dir / "u", Pattern(100000));
  EXPECT_DEATH(FaultOutsideTheGuard(dir / "g", dir / "u"), "");
  EXPECT_DEATH(BusErrorSent(dir / "g"), "");
}

}  // namespace
