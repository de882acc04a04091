// Second process for the concurrent read tests: appends records to a table
// the way the host's engine does while others read it. Each append writes the
// record and the header count in either order (count first on even appends,
// record first on odd ones) and changes the index in between: under a record
// lock on the index's lock byte, the changed pages rewritten in place
// one by one in random order with a pause half way, the change counter bumped
// with them. Keys are random,
// so entries move in leaves all over the tree and the root moves too.
// Every tag is keyed by the table's first field (a character field).
// Usage: hostwriter_helper <native table path without extension> <seed>
// Prints "ready" once it has read the table, appends until its standard input
// closes, then prints "writes N" (or "failed <why>", exit 1).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/os.h"

#include "platform/xbase/cdx.h"
#include "platform/xbase/dbf.h"
#include "platform/xbase/error.h"

namespace {

using xbase::XBaseError;

constexpr uint64_t kLockByte = plat::os::kLockTop;
constexpr size_t kPage = 512;

std::unique_ptr<plat::os::File> OpenForWriting(const std::string& path) {
  plat::os::OpenRequest how;
  how.access = plat::os::Access::ReadWrite;
  auto f = plat::os::Os().Open(path, how);
  if (!f) throw XBaseError("cannot open " + path + ": " + plat::os::LastError().text);
  return f;
}

// Waits for the lock as the host's engine does.
void Lock(plat::os::File& f) {
  while (!f.TryLock(kLockByte, 1, plat::os::LockKind::Exclusive)) {
    if (plat::os::LastError().kind != plat::os::Fail::Busy) throw XBaseError("lock: " + plat::os::LastError().text);
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

void Put(plat::os::File& f, const void* p, size_t n, uint64_t at) {
  if (!f.WriteAt(at, p, n)) throw XBaseError("write: " + plat::os::LastError().text);
}

void Pause(int us) { std::this_thread::sleep_for(std::chrono::microseconds(us)); }

// Set once standard input closes (read on a thread of its own: the same on
// every OS).
std::atomic<bool> g_inputClosed{false};

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
    const uint64_t headerLen = static_cast<uint64_t>(dbf->HeaderLength());
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
    auto dfd = OpenForWriting(base + ".dbf");
    auto cfd = OpenForWriting(base + ".cdx");
    uint64_t size = 0;
    size_t got = 0;
    if (!cfd->Size(&size)) throw XBaseError("cannot size the index");
    std::vector<uint8_t> image(static_cast<size_t>(size));
    if (!cfd->ReadAt(0, image.data(), image.size(), &got) || got != image.size() || got < 12)
      throw XBaseError("cannot read the index");
    uint32_t counter = (uint32_t{image[8]} << 24) | (uint32_t{image[9]} << 16) | (uint32_t{image[10]} << 8) | image[11];
    std::thread([] {
      char buf[64];
      while (std::fread(buf, 1, sizeof buf, stdin) > 0) {
      }
      g_inputClosed = true;
    }).detach();
    std::puts("ready");
    std::fflush(stdout);

    unsigned long writes = 0;
    std::uniform_int_distribution<int> letter('A', 'Z');
    while (!g_inputClosed) {
      std::string key(static_cast<size_t>(keyLen), ' ');
      for (auto& ch : key) ch = static_cast<char>(letter(rng));
      std::string rec(recLen, ' ');
      rec.replace(1, key.size(), key);
      rec.push_back('\x1A');
      const uint32_t recno = count + 1;
      unsigned char cnt[4] = {static_cast<unsigned char>(recno), static_cast<unsigned char>(recno >> 8),
                              static_cast<unsigned char>(recno >> 16), static_cast<unsigned char>(recno >> 24)};
      const bool countFirst = writes % 2 == 0;

      const uint64_t recAt = headerLen + uint64_t{count} * recLen;
      if (countFirst) Put(*dfd, cnt, 4, 4);
      else Put(*dfd, rec.data(), rec.size(), recAt);
      Lock(*cfd);

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
        if (i == changed.size() / 2) Pause(200);
        Put(*cfd, &next[changed[i] * kPage], kPage, changed[i] * kPage);
      }
      image = std::move(next);
      cfd->Unlock(kLockByte, 1);
      Pause(100);

      if (countFirst) Put(*dfd, rec.data(), rec.size(), recAt);
      else Put(*dfd, cnt, 4, 4);
      count = recno;
      ++writes;
      Pause(1000);  // the host does other work between appends
    }
    std::printf("writes %lu\n", writes);
  } catch (const std::exception& e) {
    std::printf("failed %s\n", e.what());
    return 1;
  }
  return 0;
}
