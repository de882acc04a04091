// Second process for the concurrent read tests: appends records to a table
// the way the host's engine does while others read it. Each append writes the
// record and the header count in either order (count first on even appends,
// record first on odd ones) and changes the index in between: under a POSIX
// record lock on the index's lock byte, the changed pages rewritten in place
// one by one in random order with a pause half way, the change counter bumped
// with them. Keys are random,
// so entries move in leaves all over the tree and the root moves too.
// Every tag is keyed by the table's first field (a character field).
// Usage: hostwriter_helper <native table path without extension> <seed>
// Prints "ready" once it has read the table, appends until its standard input
// closes, then prints "writes N" (or "failed <why>", exit 1).
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/xbase/cdx.h"
#include "platform/xbase/dbf.h"
#include "platform/xbase/error.h"

namespace {

using xbase::XBaseError;

constexpr off_t kLockByte = 0x7FFFFFFE;
constexpr size_t kPage = 512;

void Lock(int fd, short type) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = kLockByte;
  fl.l_len = 1;
  if (::fcntl(fd, F_SETLKW, &fl) != 0) throw XBaseError(std::string("lock: ") + std::strerror(errno));
}

void Put(int fd, const void* p, size_t n, off_t at) {
  if (::pwrite(fd, p, n, at) != static_cast<ssize_t>(n)) throw XBaseError(std::string("write: ") + std::strerror(errno));
}

bool InputClosed() {
  pollfd p{0, POLLIN, 0};
  if (::poll(&p, 1, 0) <= 0) return false;
  char buf[64];
  return ::read(0, buf, sizeof buf) <= 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s table seed\n", argv[0]);
    return 2;
  }
  const std::string base = argv[1];
  std::mt19937 rng(static_cast<unsigned>(std::stoul(argv[2])));
  try {
    auto dbf = xbase::Dbf::Open(base + ".dbf", true);
    const size_t recLen = static_cast<size_t>(dbf->RecordLength());
    const off_t headerLen = dbf->HeaderLength();
    const int keyLen = dbf->Fields().at(0).len;
    std::vector<xbase::CdxTagData> tags;
    {
      auto cdx = xbase::CdxFile::Open(base + ".cdx");
      for (size_t i = 0; i < cdx->Tags().size(); ++i) {
        xbase::CdxTagData t;
        t.header = cdx->Tags()[i];
        t.entries = cdx->ReadAll(static_cast<int>(i));
        tags.push_back(std::move(t));
      }
    }
    uint32_t count = dbf->RecordCount();
    const int dfd = ::open((base + ".dbf").c_str(), O_RDWR | O_CLOEXEC);
    const int cfd = ::open((base + ".cdx").c_str(), O_RDWR | O_CLOEXEC);
    if (dfd < 0 || cfd < 0) throw XBaseError("cannot open the table for writing");
    unsigned char c[4];
    if (::pread(cfd, c, 4, 8) != 4) throw XBaseError("cannot read the counter");
    uint32_t counter = (uint32_t{c[0]} << 24) | (uint32_t{c[1]} << 16) | (uint32_t{c[2]} << 8) | c[3];
    std::vector<uint8_t> image(static_cast<size_t>(::lseek(cfd, 0, SEEK_END)));
    if (::pread(cfd, image.data(), image.size(), 0) != static_cast<ssize_t>(image.size()))
      throw XBaseError("cannot read the index");
    std::puts("ready");
    std::fflush(stdout);

    unsigned long writes = 0;
    std::uniform_int_distribution<int> letter('A', 'Z');
    while (!InputClosed()) {
      std::string key(static_cast<size_t>(keyLen), ' ');
      for (auto& ch : key) ch = static_cast<char>(letter(rng));
      std::string rec(recLen, ' ');
      rec.replace(1, key.size(), key);
      rec.push_back('\x1A');
      const uint32_t recno = count + 1;
      unsigned char cnt[4] = {static_cast<unsigned char>(recno), static_cast<unsigned char>(recno >> 8),
                              static_cast<unsigned char>(recno >> 16), static_cast<unsigned char>(recno >> 24)};
      const bool countFirst = writes % 2 == 0;

      if (countFirst) Put(dfd, cnt, 4, 4);
      else Put(dfd, rec.data(), rec.size(), headerLen + static_cast<off_t>(count) * static_cast<off_t>(recLen));
      Lock(cfd, F_WRLCK);

      for (auto& t : tags) {
        auto at = std::upper_bound(t.entries.begin(), t.entries.end(), xbase::CdxEntry{key, recno},
                                   [](const xbase::CdxEntry& a, const xbase::CdxEntry& b) {
                                     return a.key < b.key || (a.key == b.key && a.recno < b.recno);
                                   });
        t.entries.insert(at, xbase::CdxEntry{key, recno});
      }
      std::vector<uint8_t> next = xbase::BuildCdx(tags, ++counter);
      std::vector<size_t> changed;
      for (size_t p = 0; p * kPage < next.size(); ++p) {
        if (p * kPage >= image.size() || std::memcmp(&next[p * kPage], &image[p * kPage], kPage) != 0)
          changed.push_back(p);
      }
      std::shuffle(changed.begin(), changed.end(), rng);
      for (size_t i = 0; i < changed.size(); ++i) {
        if (i == changed.size() / 2) ::usleep(200);
        Put(cfd, &next[changed[i] * kPage], kPage, static_cast<off_t>(changed[i] * kPage));
      }
      image = std::move(next);
      Lock(cfd, F_UNLCK);
      ::usleep(100);

      if (countFirst) Put(dfd, rec.data(), rec.size(), headerLen + static_cast<off_t>(count) * static_cast<off_t>(recLen));
      else Put(dfd, cnt, 4, 4);
      count = recno;
      ++writes;
      ::usleep(1000);  // the host does other work between appends
    }
    std::printf("writes %lu\n", writes);
  } catch (const std::exception& e) {
    std::printf("failed %s\n", e.what());
    return 1;
  }
  return 0;
}
