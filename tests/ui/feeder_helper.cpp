// A second process standing in for the host program beside the main window:
//
//   feeder_helper MULTI DOCS SOURCE
//
// MULTI holds the Labels table, DOCS receives the label documents, SOURCE the
// shipment files. Commands arrive one a line on standard input; each gets one
// line of answer:
//   label N        add the next N labels (document first, then the Labels
//                  record under the table lock): "added LAST"
//   order N        write SOURCE/ORDER.TXT with the next N shipments unless one
//                  is waiting: "ordered FIRST LAST" or "busy"
//   lock / unlock  hold / let go the Labels lock: "locked" / "unlocked"
//   hold / release hold SOURCE/ORDER.TXT open for writing: "held" / "released"
//   stream LABELS SHIPMENTS SEED
//                  keep adding labels in bursts and writing shipment files
//                  (held open across a short pause while written) at random
//                  moments, up to LABELS labels and SHIPMENTS shipments in all,
//                  until the command "stop": "stopped LASTLABEL LASTSHIPMENT"
// Any failure answers "failed WHAT". The program ends when standard input closes.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>

#include "setup/TableAccess.h"
#include "tests/ui/feeder_protocol.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string multi, docs, source;
int engine = 0;
int lastLabel = 0;
int lastShipment = 0;
std::string failure;

void Say(const std::string& what) {
  std::printf("%s\n", what.c_str());
  std::fflush(stdout);
}

void Sleep(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string OrderFile() { return source + "/ORDER.TXT"; }

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool Fail(const std::string& what) {
  if (failure.empty()) failure = what;
  return false;
}

// The document is complete on disk before its record exists, as the host does.
bool AddLabel() {
  const int id = lastLabel + 1;
  const std::string doc = feeder::LabelFileName(docs, id);
  const int fd = open(doc.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return Fail("document " + doc);
  const bool written = WriteAll(fd, feeder::LabelDocument(id));
  if (close(fd) != 0 || !written) return Fail("document " + doc);

  const int t = mOpen(engine, multi + "\\Labels", "");
  if (!t) return Fail("open Labels: " + LastErrorText());
  // A pass holds the lock while it prints; wait for it, but not for ever.
  const auto give_up = Clock::now() + std::chrono::seconds(20);
  while (d4lockFile(t) != 0) {
    if (Clock::now() > give_up) {
      d4close(t);
      return Fail("Labels stays locked");
    }
    Sleep(1);
  }
  bool ok = d4appendBlank(t) == 0;
  ok = ok && replace(t, "file_name", doc) == 0;
  ok = ok && replace(t, "document", std::to_string(feeder::LabelDocumentKind(id))) == 0;
  ok = ok && replace(t, "shipment", std::to_string(feeder::LabelShipment(id))) == 0;
  ok = ok && replace(t, "package", std::to_string(feeder::LabelPackage(id))) == 0;
  ok = d4flush(t) == 0 && ok;
  ok = d4unlock(t) == 0 && ok;
  ok = d4close(t) == 0 && ok;
  if (!ok) return Fail("append label: " + LastErrorText());
  lastLabel = id;
  return true;
}

// Writes the next count shipments into a new ORDER.TXT, in two pieces with a
// pause between while the file stays open. False with no failure noted when a
// file still waits.
bool WriteOrder(int count, int pauseMs, bool& busy) {
  busy = false;
  const int fd = open(OrderFile().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (errno == EEXIST) {
      busy = true;
      return false;
    }
    return Fail("create " + OrderFile());
  }
  std::string first, second;
  for (int i = 1; i <= count; ++i) (i <= count / 2 ? first : second) += feeder::ShipmentBlock(lastShipment + i);
  bool ok = WriteAll(fd, first);
  Sleep(pauseMs);
  ok = WriteAll(fd, second) && ok;
  ok = close(fd) == 0 && ok;
  if (!ok) return Fail("write " + OrderFile());
  lastShipment += count;
  return true;
}

// Standard input, a line at a time, without blocking the stream's rhythm.
std::string pending;
bool inputClosed = false;

// Waits up to timeoutMs (-1: for ever) for a whole line.
bool NextLine(std::string& line, int timeoutMs) {
  const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    const size_t eol = pending.find('\n');
    if (eol != std::string::npos) {
      line = pending.substr(0, eol);
      pending.erase(0, eol + 1);
      return true;
    }
    if (inputClosed) return false;
    int wait = -1;
    if (timeoutMs >= 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
      if (left <= 0) return false;
      wait = static_cast<int>(left);
    }
    pollfd p{0, POLLIN, 0};
    const int r = poll(&p, 1, wait);
    if (r < 0 && errno == EINTR) continue;
    if (r == 0) return false;
    char buf[256];
    const ssize_t n = read(0, buf, sizeof buf);
    if (n <= 0) {
      inputClosed = true;
      return false;
    }
    pending.append(buf, static_cast<size_t>(n));
  }
}

void Stream(int labelCap, int shipmentCap, unsigned seed) {
  std::mt19937 rng(seed);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  auto nextLabels = Clock::now() + std::chrono::milliseconds(pick(2, 30));
  auto nextOrder = Clock::now() + std::chrono::milliseconds(pick(1, 15));
  for (;;) {
    const auto soonest = std::min(nextLabels, nextOrder);
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(soonest - Clock::now()).count();
    std::string line;
    if (NextLine(line, wait > 0 ? static_cast<int>(wait) : 0)) {
      if (line == "stop") break;
      Fail("unexpected command while streaming: " + line);
      continue;
    }
    if (inputClosed) return;
    const auto now = Clock::now();
    if (failure.empty() && now >= nextLabels) {
      for (int burst = pick(1, 4); burst > 0 && lastLabel < labelCap; --burst) {
        if (!AddLabel()) break;
        Sleep(pick(0, 2));
      }
      nextLabels = Clock::now() + std::chrono::milliseconds(pick(2, 30));
    }
    if (failure.empty() && now >= nextOrder) {
      const int count = std::min(pick(1, 6), shipmentCap - lastShipment);
      bool busy = false;
      if (count > 0) WriteOrder(count, pick(0, 3), busy);
      nextOrder = Clock::now() + std::chrono::milliseconds(pick(1, 20));
    }
  }
  if (failure.empty())
    Say("stopped " + std::to_string(lastLabel) + " " + std::to_string(lastShipment));
  else
    Say("failed " + failure);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: feeder_helper MULTI DOCS SOURCE\n");
    return 2;
  }
  multi = argv[1];
  docs = argv[2];
  source = argv[3];
  engine = OpenData();

  int lockTable = 0;
  int heldFd = -1;
  std::string line;
  while (NextLine(line, -1)) {
    failure.clear();
    const size_t space = line.find(' ');
    const std::string cmd = line.substr(0, space);
    const std::string args = space == std::string::npos ? "" : line.substr(space + 1);
    if (cmd == "label") {
      bool ok = true;
      for (int n = std::atoi(args.c_str()); ok && n > 0; --n) ok = AddLabel();
      Say(ok ? "added " + std::to_string(lastLabel) : "failed " + failure);
    } else if (cmd == "order") {
      const int first = lastShipment + 1;
      bool busy = false;
      if (WriteOrder(std::atoi(args.c_str()), 0, busy))
        Say("ordered " + std::to_string(first) + " " + std::to_string(lastShipment));
      else
        Say(busy ? "busy" : "failed " + failure);
    } else if (cmd == "lock") {
      lockTable = lockTable ? lockTable : mOpen(engine, multi + "\\Labels", "");
      Say(lockTable && d4lockFile(lockTable) == 0 ? "locked" : "failed lock: " + LastErrorText());
    } else if (cmd == "unlock") {
      if (lockTable) {
        d4unlock(lockTable);
        d4close(lockTable);
      }
      lockTable = 0;
      Say("unlocked");
    } else if (cmd == "hold") {
      heldFd = heldFd >= 0 ? heldFd : open(OrderFile().c_str(), O_WRONLY | O_CLOEXEC);
      Say(heldFd >= 0 ? "held" : "failed hold " + OrderFile());
    } else if (cmd == "release") {
      if (heldFd >= 0) close(heldFd);
      heldFd = -1;
      Say("released");
    } else if (cmd == "stream") {
      int labels = 0, shipments = 0;
      unsigned seed = 0;
      if (std::sscanf(args.c_str(), "%d %d %u", &labels, &shipments, &seed) != 3) {
        Say("failed stream arguments");
        continue;
      }
      Stream(labels, shipments, seed);
    } else {
      Say("failed unknown command " + cmd);
    }
  }
  if (heldFd >= 0) close(heldFd);
  if (lockTable) d4close(lockTable);
  CloseData(engine);
  return 0;
}
