// Reading compact compound index files: header and tag directory checks on
// open, then lazy page reads through a small cache for cursors. Every page
// pointer is checked against the file before it is followed, so a damaged file
// ends in an XBaseError rather than a crash, a loop or a wrong order.
//
// Reading while another program writes. A writer (the host's engine, or our
// own WriteCdx) holds a one-byte lock on kLockTop of the .cdx for as long as
// it changes pages, and bumps the big-endian change counter in the header
// before it lets go. Readers take no lock; every open, seek and step from one
// leaf to the next runs optimistically:
//   1. read the counter, then test the lock byte (a lock probe, never a lock:
//      the writer must not wait for us); while it is held, wait and repeat;
//   2. when the counter differs from the one the cached pages belong to, drop
//      the cache and re-read the file size and the tags' root pointers;
//   3. do the read;
//   4. test the lock byte, then read the counter: when the byte is free and
//      the counter unchanged, no writer touched a page meanwhile and the
//      result (or error) stands; otherwise drop the cache and start again.
//      A read served from the cache alone needs no such test: its pages are
//      those of the state found in step 1.
// The order of the tests matters: a change that starts after step 1 either
// still holds the byte at step 4 or has moved the counter by then.
// A check that passed (step 1 or 4) does the work of the next call's step 1
// for as long as the counter stays where it was: that call reads at once
// and only checks at the end, and a call served from the cache alone reads
// just the counter, to know its state is still the file's. So a run of
// seeks on a quiet file costs one probe and one counter read each at most.
// A cursor keeps the leaf it stands on; a step off that leaf follows the
// sibling link only when the counter is still the one the leaf was read
// under, else it seeks anew to the entry after (or before) the last one
// returned, by key and record number. So a walk never loses an entry that is
// there all along; entries added meanwhile may or may not be seen.
// Waiting is bounded by IndexBusyWait(); then the call fails with XBaseBusy.
#include "platform/xbase/cdx.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <list>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "platform/os.h"
#include "platform/xbase/cdx_format.h"
#include "platform/xbase/error.h"

namespace xbase {

using namespace cdxfmt;

namespace {
std::atomic<int> busyWaitMs{5000};
}  // namespace

void SetIndexBusyWait(int milliseconds) { busyWaitMs = std::max(0, milliseconds); }
int IndexBusyWait() { return busyWaitMs; }

// ---------------------------------------------------------------------------
// Numeric keys: the IEEE bits made byte-sortable. Non-negative values get the
// sign bit set, negative ones are inverted. The test is "value >= 0", so -0.0
// (sign bit set) ends as eight zero bytes, exactly as the other engine stores
// a "-0.00" field; such a key sorts before every negative number.

std::string EncodeNumericKey(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  if (value >= 0.0) {
    bits ^= 0x8000000000000000ull;
  } else {
    bits = ~bits;
  }
  std::string out(8, '\0');
  for (int i = 0; i < 8; ++i) out[i] = static_cast<char>(bits >> (56 - 8 * i));
  return out;
}

double DecodeNumericKey(const std::string& key8) {
  if (key8.size() != 8) {
    throw XBaseError("numeric index key has " + std::to_string(key8.size()) + " bytes, expected 8");
  }
  uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) bits = (bits << 8) | static_cast<uint8_t>(key8[i]);
  if (bits == 0) return -0.0;  // see EncodeNumericKey
  if (bits & 0x8000000000000000ull) {
    bits ^= 0x8000000000000000ull;
  } else {
    bits = ~bits;
  }
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

namespace {

std::string Hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%X", v);
  return buf;
}

std::string BaseName(const std::string& path) {
  auto pos = path.find_last_of("/\\");
  return pos == std::string::npos ? path : path.substr(pos + 1);
}

// Compares the first n bytes as unsigned bytes.
int CompareBytes(std::string_view a, std::string_view b, size_t n) {
  return std::memcmp(a.data(), b.data(), n);
}

// One decoded node. Leaf keys are expanded to full length with the tag's pad.
struct Node {
  uint32_t offset = 0;
  uint16_t attr = 0;
  uint32_t left = kNone;
  uint32_t right = kNone;
  int keyLen = 0;
  char pad = ' ';
  int count = 0;
  std::string keys;                // count * keyLen bytes
  std::vector<uint32_t> recnos;
  std::vector<uint32_t> children;  // interior nodes only

  bool Leaf() const { return (attr & kAttrLeaf) != 0; }
  std::string_view Key(int i) const {
    return std::string_view(keys).substr(static_cast<size_t>(i) * keyLen, keyLen);
  }
};

using NodePtr = std::shared_ptr<const Node>;

struct TagInfo {
  CdxTagHeader header;
  uint32_t headerOffset = 0;
  uint32_t root = 0;
  char pad = ' ';
};

constexpr size_t kCacheNodes = 1024;

// Where a problem is; turned into text only when something fails, so the
// hot paths build no strings.
struct Where {
  const char* label;        // "tag", "tag directory", "header"
  std::string_view name;    // tag name, may be empty
  uint32_t page = kNone;

  Where At(uint32_t p) const { return Where{label, name, p}; }
  std::string Text() const {
    std::string t = label;
    if (!name.empty()) t += " " + std::string(name);
    if (page != kNone) t += ", page " + Hex(page);
    return t;
  }
};

// State shared by the file object and its cursors, so a cursor that outlives
// the file object stays safe.
class CdxCore {
 public:
  explicit CdxCore(std::string path) : path_(std::move(path)) {}
  CdxCore(const CdxCore&) = delete;
  CdxCore& operator=(const CdxCore&) = delete;

  void Open();

  // Runs op(counter) until it ran against one unchanging state of the file
  // (see the comment at the top); returns its result.
  template <class Op>
  auto Consistent(Op&& op) -> decltype(op(uint32_t{}));

  [[noreturn]] void Fail(const Where& where, const std::string& what) const {
    throw XBaseError(BaseName(path_) + ": " + where.Text() + ": " + what);
  }
  [[noreturn]] void Fail(const std::string& what) const { throw XBaseError(BaseName(path_) + ": " + what); }

  Where TagWhere(int tag, uint32_t page) const { return Where{"tag", tags_[tag].header.name, page}; }

  uint64_t PageCount() const { return size_ / kPage; }

  void CheckPointer(uint32_t offset, uint32_t span, const Where& where, const char* what) const {
    if (offset == kNone) Fail(where, std::string(what) + " is missing");
    if (offset % kPage != 0) Fail(where, std::string(what) + " " + Hex(offset) + " is not on a page boundary");
    if (offset < kHeaderSize) Fail(where, std::string(what) + " " + Hex(offset) + " points into the file header");
    if (static_cast<uint64_t>(offset) + span > size_) {
      Fail(where, std::string(what) + " " + Hex(offset) + " points past the end of the file");
    }
  }

  void ReadAt(uint32_t offset, uint8_t* buf, size_t len, const Where& where) const {
    ++reads_;
    size_t got = 0;
    if (!file_->ReadAt(offset, buf, len, &got)) Fail(where, "read failed: " + plat::os::LastError().text);
    if (got < len) Fail(where, "file ends inside the page (changed since it was opened?)");
  }

  // Decodes and checks one node page.
  Node Decode(const uint8_t* page, uint32_t offset, int keyLen, char pad, const Where& where) const;

  // A node through the cache.
  NodePtr Load(int tag, uint32_t offset);

  // Walks a whole tree top-down (the authoritative structure) and checks the
  // leaf sibling chain against it.
  std::vector<CdxEntry> Collect(uint32_t root, int keyLen, char pad, bool checkOrder, const Where& where);

  const std::string path_;
  std::unique_ptr<plat::os::File> file_;
  uint64_t size_ = 0;
  uint32_t counter_ = 0;
  std::vector<TagInfo> tags_;

 private:
  std::vector<TagInfo> ParseHeaders();
  uint32_t DiskCounter() const {
    uint8_t b[4];
    ReadAt(kOffCounter, b, sizeof b, Where{"header", {}});
    return GetBe32(b);
  }
  // Whether another open of the file holds the writers' lock byte.
  bool WriterActive() const {
    // Where locks are not supported (some network shares) nobody can hold
    // it, and the counter alone tells of changes.
    bool held = false;
    if (!file_->OthersHold(plat::os::kLockTop, 1, &held)) Fail("cannot test the lock byte: " + plat::os::LastError().text);
    return held;
  }
  bool Settled(uint32_t counter) const { return !WriterActive() && DiskCounter() == counter; }
  bool settled_ = false;  // see Consistent
  // Brings size, roots and cache to the state the counter names.
  void Refresh(uint32_t counter);
  void Drop() {
    cache_.clear();
    lru_.clear();
    stateKnown_ = false;
  }

  uint32_t state_ = 0;       // counter the cache, size_ and roots belong to
  mutable uint64_t reads_ = 0;
  bool stateKnown_ = false;
  struct CacheSlot {
    NodePtr node;
    std::list<uint32_t>::iterator lru;
  };
  std::unordered_map<uint32_t, CacheSlot> cache_;
  std::list<uint32_t> lru_;  // most recent first
};

template <class Op>
auto CdxCore::Consistent(Op&& op) -> decltype(op(uint32_t{})) {
  plat::os::Env& os = plat::os::Os();
  // The wait counts from the first nap: a call that never waits reads no clock.
  std::chrono::steady_clock::time_point start;
  bool waiting = false;
  for (int nap = 1;;) {
    // Settled: the lock byte was last found free and every counter read since
    // gave state_, so a writer that started since cannot finish unseen (it
    // still holds the byte at the next check or has moved the counter).
    // Steps 1 and 2 are then already done for state_.
    const bool settled = settled_;
    const uint32_t counter = settled ? state_ : DiskCounter();
    if (settled || !WriterActive()) {
      try {
        const uint64_t readsBefore = reads_;
        Refresh(counter);
        settled_ = true;
        auto result = op(counter);
        if (reads_ == readsBefore) {
          // Pages all from the cache belong to state_; it only has to be the
          // file's state still.
          if (!settled || DiskCounter() == counter) return result;
        } else if (Settled(counter)) {
          return result;
        }
      } catch (const XBaseError&) {
        // A page caught half written reads as damage; only an error met in a
        // state that held still is the file's.
        if (Settled(counter)) throw;
      }
      settled_ = false;
      Drop();
      nap = 1;
      if (settled) continue;  // the state was an old one: look afresh before waiting
    }
    const auto now = os.Monotonic();
    if (!waiting) start = now;
    waiting = true;
    const auto wait = std::chrono::milliseconds(IndexBusyWait());
    if (now - start >= wait) {
      throw XBaseBusy("The index " + path_ + " is busy: another program has been changing it for more than " +
                      std::to_string(wait.count()) + " ms");
    }
    os.Sleep(std::chrono::milliseconds(nap));
    nap = std::min(nap * 2, 16);
  }
}

void CdxCore::Refresh(uint32_t counter) {
  if (stateKnown_ && counter == state_) return;
  Drop();
  if (!file_->Size(&size_)) Fail("cannot stat: " + plat::os::LastError().text);
  // A writer may have grown a new root.
  for (TagInfo& t : tags_) {
    const Where where{"tag", t.header.name};
    CheckPointer(t.headerOffset, kHeaderSize, where, "tag header");
    uint8_t b[4];
    ReadAt(t.headerOffset + kOffRoot, b, sizeof b, where);
    t.root = GetLe32(b);
    CheckPointer(t.root, kPage, where, "root pointer");
  }
  state_ = counter;
  stateKnown_ = true;
}

Node CdxCore::Decode(const uint8_t* p, uint32_t offset, int keyLen, char pad, const Where& where) const {
  Node n;
  n.offset = offset;
  n.keyLen = keyLen;
  n.pad = pad;
  n.attr = GetLe16(p);
  n.count = GetLe16(p + 2);
  n.left = GetLe32(p + 4);
  n.right = GetLe32(p + 8);
  if (n.attr & ~(kAttrRoot | kAttrLeaf)) Fail(where, "bad node attributes " + Hex(n.attr));
  for (uint32_t sib : {n.left, n.right}) {
    if (sib != kNone) CheckPointer(sib, kPage, where, "sibling pointer");
  }
  if (n.left == offset || n.right == offset) Fail(where, "node is its own sibling");

  n.keys.reserve(static_cast<size_t>(n.count) * keyLen);
  n.recnos.reserve(n.count);

  if (!n.Leaf()) {
    const int entryLen = keyLen + 8;
    if (n.count == 0) Fail(where, "interior node without keys");
    if (n.count * entryLen > kInteriorArea) Fail(where, "interior node claims " + std::to_string(n.count) + " keys");
    n.children.reserve(n.count);
    for (int i = 0; i < n.count; ++i) {
      const uint8_t* e = p + kNodeHeader + i * entryLen;
      n.keys.append(reinterpret_cast<const char*>(e), keyLen);
      n.recnos.push_back(GetBe32(e + keyLen));
      uint32_t child = GetBe32(e + keyLen + 4);
      CheckPointer(child, kPage, where, "child pointer");
      if (child == offset) Fail(where, "node points to itself");
      n.children.push_back(child);
    }
    return n;
  }

  const uint32_t recMask = GetLe32(p + 14);
  const int dupMask = p[18];
  const int trailMask = p[19];
  const int recBits = p[20];
  const int dupBits = p[21];
  const int trailBits = p[22];
  const int entryBytes = p[23];
  if (entryBytes < 1 || entryBytes > 8 || recBits < 1 || recBits > 32 || dupBits > 8 || trailBits > 8 ||
      recBits + dupBits + trailBits > entryBytes * 8) {
    Fail(where, "bad leaf bit fields (record " + std::to_string(recBits) + ", duplicate " + std::to_string(dupBits) +
                    ", trailing " + std::to_string(trailBits) + " bits in " + std::to_string(entryBytes) + " bytes)");
  }
  const uint32_t wantRecMask = recBits == 32 ? 0xFFFFFFFFu : ((1u << recBits) - 1);
  if (recMask != wantRecMask || dupMask != (1 << dupBits) - 1 || trailMask != (1 << trailBits) - 1) {
    Fail(where, "leaf bit masks do not match their bit counts");
  }
  const int infoEnd = kLeafHeader + n.count * entryBytes;
  if (infoEnd > static_cast<int>(kPage)) Fail(where, "leaf claims " + std::to_string(n.count) + " keys");

  // Sized once: a leaf is decoded on every page read of a seek.
  n.keys.resize(static_cast<size_t>(n.count) * keyLen);
  n.recnos.resize(n.count);
  int keyPos = kPage;  // key bytes are packed from the end of the page down
  for (int i = 0; i < n.count; ++i) {
    uint64_t v = 0;
    const uint8_t* e = p + kLeafHeader + i * entryBytes;
    for (int b = entryBytes - 1; b >= 0; --b) v = (v << 8) | e[b];
    const uint32_t recno = static_cast<uint32_t>(v & recMask);
    const int dup = static_cast<int>((v >> recBits) & static_cast<uint64_t>(dupMask));
    const int trail = static_cast<int>((v >> (recBits + dupBits)) & static_cast<uint64_t>(trailMask));
    if (dup + trail > keyLen) Fail(where, "leaf entry " + std::to_string(i) + " compresses more bytes than the key has");
    if (i == 0 && dup > 0) Fail(where, "first leaf entry refers to a previous key");
    if (recno == 0) Fail(where, "leaf entry " + std::to_string(i) + " has record number 0");
    const int stored = keyLen - dup - trail;
    if (keyPos - stored < infoEnd) Fail(where, "leaf key bytes overlap the entry table");
    keyPos -= stored;
    char* dst = n.keys.data() + static_cast<size_t>(i) * keyLen;
    if (dup > 0) std::memcpy(dst, dst - keyLen, dup);
    std::memcpy(dst + dup, p + keyPos, stored);
    std::memset(dst + dup + stored, pad, trail);
    n.recnos[i] = recno;
  }
  return n;
}

NodePtr CdxCore::Load(int tag, uint32_t offset) {
  const TagInfo& t = tags_[tag];
  const int keyLen = t.header.keyLen;
  auto it = cache_.find(offset);
  if (it != cache_.end()) {
    const NodePtr& node = it->second.node;
    if (node->keyLen == keyLen && node->pad == t.pad) {
      lru_.splice(lru_.begin(), lru_, it->second.lru);
      return node;
    }
    lru_.erase(it->second.lru);
    cache_.erase(it);
  }
  const Where where = TagWhere(tag, offset);
  CheckPointer(offset, kPage, where, "page");
  uint8_t page[kPage];
  ReadAt(offset, page, kPage, where);
  auto node = std::make_shared<const Node>(Decode(page, offset, keyLen, t.pad, where));
  if (cache_.size() >= kCacheNodes) {
    cache_.erase(lru_.back());
    lru_.pop_back();
  }
  lru_.push_front(offset);
  cache_.emplace(offset, CacheSlot{node, lru_.begin()});
  return node;
}

std::vector<CdxEntry> CdxCore::Collect(uint32_t root, int keyLen, char pad, bool checkOrder, const Where& where) {
  std::vector<CdxEntry> out;
  std::vector<bool> seen(PageCount() + 1, false);
  struct LeafLink {
    uint32_t offset, left, right;
  };
  std::vector<LeafLink> leaves;
  int leafDepth = -1;
  uint8_t page[kPage];

  // Explicit stack of (page, depth, upper bound key or empty).
  struct Item {
    uint32_t offset;
    int depth;
    std::string upper;   // separator that covers this subtree ("" = none)
    bool hasUpper;
  };
  std::vector<Item> stack{{root, 0, std::string(), false}};
  while (!stack.empty()) {
    Item item = std::move(stack.back());
    stack.pop_back();
    const Where w = where.At(item.offset);
    CheckPointer(item.offset, kPage, w, "page");
    if (item.depth >= kMaxDepth) Fail(w, "tree deeper than " + std::to_string(kMaxDepth) + " levels (cycle?)");
    const uint64_t slot = item.offset / kPage;
    if (seen[slot]) Fail(w, "page is reached twice in the tree (cycle or shared page)");
    seen[slot] = true;
    ReadAt(item.offset, page, kPage, w);
    Node n = Decode(page, item.offset, keyLen, pad, w);
    if (item.depth == 0 && !(n.attr & kAttrRoot)) Fail(w, "root page lacks the root flag");
    if (item.depth > 0 && (n.attr & kAttrRoot)) Fail(w, "inner page carries the root flag");
    if (checkOrder) {
      for (int i = 1; i < n.count; ++i) {
        if (CompareBytes(n.Key(i - 1), n.Key(i), keyLen) > 0) Fail(w, "keys out of order");
      }
      if (item.hasUpper && n.count > 0 && CompareBytes(n.Key(n.count - 1), item.upper, keyLen) > 0) {
        Fail(w, "page holds keys above its parent's separator");
      }
    }
    if (n.Leaf()) {
      if (leafDepth < 0) leafDepth = item.depth;
      if (leafDepth != item.depth) Fail(w, "leaves at different depths");
      leaves.push_back({n.offset, n.left, n.right});
      for (int i = 0; i < n.count; ++i) {
        if (checkOrder && !out.empty() && CompareBytes(out.back().key, n.Key(i), keyLen) > 0) {
          Fail(w, "keys out of order across pages");
        }
        out.push_back(CdxEntry{std::string(n.Key(i)), n.recnos[i]});
      }
      continue;
    }
    for (int i = n.count - 1; i >= 0; --i) {
      stack.push_back({n.children[i], item.depth + 1, std::string(n.Key(i)), true});
    }
  }
  for (size_t i = 0; i < leaves.size(); ++i) {
    const uint32_t wantLeft = i == 0 ? kNone : leaves[i - 1].offset;
    const uint32_t wantRight = i + 1 == leaves.size() ? kNone : leaves[i + 1].offset;
    if (leaves[i].left != wantLeft || leaves[i].right != wantRight) {
      Fail(where.At(leaves[i].offset), "leaf sibling pointers disagree with the tree");
    }
  }
  return out;
}

void CdxCore::Open() {
  file_ = plat::os::Os().Open(path_, plat::os::OpenRequest{});
  if (!file_) throw XBaseError("cannot open index " + path_ + ": " + plat::os::LastError().text);
  uint64_t size = 0;
  if (!file_->Size(&size)) Fail("cannot stat: " + plat::os::LastError().text);
  if (size < kHeaderSize + kPage) Fail("file too short for an index (" + std::to_string(size) + " bytes)");
  // Kept apart until they are known whole: Refresh re-reads the roots of tags_.
  auto found = Consistent([&](uint32_t counter) {
    counter_ = counter;
    return ParseHeaders();
  });
  tags_ = std::move(found);
}

std::vector<TagInfo> CdxCore::ParseHeaders() {
  std::vector<TagInfo> tags;
  if (size_ < kHeaderSize + kPage) Fail("file too short for an index (" + std::to_string(size_) + " bytes)");
  if (size_ > 0xFFFFFE00ull) Fail("file larger than page pointers can address");

  const Where header{"header", {}};
  uint8_t hdr[kHeaderSize];
  ReadAt(0, hdr, kHeaderSize, header);
  const int dirKeyLen = GetLe16(hdr + kOffKeyLen);
  const uint8_t dirOpts = hdr[kOffOptions];
  if ((dirOpts & (kOptCompact | kOptCompound)) != (kOptCompact | kOptCompound)) {
    Fail(header, "not a compact compound index (options " + Hex(dirOpts) + ")");
  }
  if (dirKeyLen < 1 || dirKeyLen > kMaxKeyLen) Fail(header, "absurd tag name length " + std::to_string(dirKeyLen));
  const uint32_t dirRoot = GetLe32(hdr + kOffRoot);
  CheckPointer(dirRoot, kPage, header, "tag directory root");

  const Where directory{"tag directory", {}};
  std::vector<CdxEntry> dir = Collect(dirRoot, dirKeyLen, ' ', true, directory);
  for (const CdxEntry& d : dir) {
    std::string name = d.key;
    while (!name.empty() && (name.back() == ' ' || name.back() == '\0')) name.pop_back();
    const Where where{"tag", name};
    if (name.empty()) Fail(directory, "entry with an empty tag name");
    for (const TagInfo& t : tags) {
      if (t.header.name == name) Fail(directory, "tag " + name + " is listed twice");
    }
    const uint32_t off = d.recno;
    CheckPointer(off, kHeaderSize, where, "tag header");
    uint8_t th[kHeaderSize];
    ReadAt(off, th, kHeaderSize, where);

    TagInfo t;
    t.header.name = name;
    t.headerOffset = off;
    t.header.keyLen = GetLe16(th + kOffKeyLen);
    if (t.header.keyLen < 1 || t.header.keyLen > kMaxKeyLen) {
      Fail(where, "absurd key length " + std::to_string(t.header.keyLen));
    }
    const uint8_t opts = th[kOffOptions];
    if (!(opts & kOptCompact)) Fail(where, "tag is not in compact format (options " + Hex(opts) + ")");
    t.header.unique = (opts & kOptUnique) != 0;
    t.header.descending = GetLe16(th + kOffDescending) != 0;
    t.root = GetLe32(th + kOffRoot);
    CheckPointer(t.root, kPage, where, "root pointer");

    // Expressions: positions and lengths (with the NUL) inside the pool; older
    // writers leave them zero and just store "key\0for\0".
    const char* pool = reinterpret_cast<const char*>(th + kOffPool);
    auto text = [&](int pos, int len) -> std::string {
      if (pos < 0 || len < 0 || pos + len > kPoolSize) Fail(where, "expression outside the expression pool");
      std::string s(pool + pos, static_cast<size_t>(len));
      auto nul = s.find('\0');
      if (nul != std::string::npos) s.resize(nul);
      return s;
    };
    const int exprPos = GetLe16(th + kOffExprPos), exprLen = GetLe16(th + kOffExprLen);
    const int forPos = GetLe16(th + kOffForPos), forLen = GetLe16(th + kOffForLen);
    std::string expr, filter;
    if (exprLen == 0) {
      expr = text(0, kPoolSize);
      const int next = static_cast<int>(expr.size()) + 1;
      filter = next < kPoolSize ? text(next, kPoolSize - next) : std::string();
    } else {
      expr = text(exprPos, exprLen);
      filter = forLen > 0 ? text(forPos, forLen) : std::string();
    }
    if (expr.empty()) Fail(where, "empty key expression");
    t.header.expr = expr;
    t.header.filter = (opts & kOptFor) ? filter : std::string();

    std::string coll(reinterpret_cast<const char*>(th + kOffCollation), kCollationLen);
    auto nul = coll.find('\0');
    if (nul != std::string::npos) coll.resize(nul);
    while (!coll.empty() && coll.back() == ' ') coll.pop_back();
    bool printable = std::all_of(coll.begin(), coll.end(), [](char c) { return c > ' ' && c < 127; });
    if (!printable) {
      std::string hex;
      for (unsigned char c : coll) {
        char b[4];
        std::snprintf(b, sizeof b, "%02X", c);
        hex += b;
      }
      coll = "0x" + hex;
    }
    t.header.collation = coll == "MACHINE" ? std::string() : coll;
    t.header.machineCollation = t.header.collation.empty();
    tags.push_back(std::move(t));
  }
  return tags;
}

class CursorImpl final : public CdxCursor {
 public:
  CursorImpl(std::shared_ptr<CdxCore> core, int tag) : core_(std::move(core)), tag_(tag) {}

  bool First() override {
    return core_->Consistent([&](uint32_t counter) { return Held(counter, Position(Mode::kFirst, {})); });
  }
  bool Last() override {
    return core_->Consistent([&](uint32_t counter) { return Held(counter, Position(Mode::kLast, {})); });
  }
  bool Seek(const std::string& key) override {
    const CdxTagHeader& h = core_->tags_[tag_].header;
    // Keys of another collation are sort weights, not text: a byte-wise
    // search would land in the wrong place.
    if (!h.machineCollation) {
      core_->Fail(core_->TagWhere(tag_, kNone), "cannot seek in collation \"" + h.collation +
                                                   "\"; only machine order is supported");
    }
    return core_->Consistent([&](uint32_t counter) { return Held(counter, Position(Mode::kSeek, key)); });
  }

  // Within the leaf at hand the entries come from the state it was read in;
  // only a step to another leaf goes back to the file.
  bool Next() override {
    if (!leaf_) return false;
    if (idx_ + 1 < leaf_->count) {
      Set(idx_ + 1);
      return true;
    }
    return Leave(true);
  }

  bool Prev() override {
    if (!leaf_) return false;
    if (idx_ > 0) {
      Set(idx_ - 1);
      return true;
    }
    return Leave(false);
  }

  const std::string& Key() const override { return key_; }
  uint32_t Recno() const override { return recno_; }

 private:
  enum class Mode { kFirst, kLast, kSeek };

  int KeyLen() const { return core_->tags_[tag_].header.keyLen; }
  bool CheckOrder() const { return core_->tags_[tag_].header.machineCollation; }

  bool Held(uint32_t counter, bool ok) {
    leafState_ = counter;
    return ok;
  }

  // Steps off the current leaf. Its sibling links are good only in the state
  // the leaf was read in; after any change the walk resumes from the entry it
  // returned last.
  bool Leave(bool right) {
    const NodePtr from = leaf_;
    const std::string key = key_;
    const uint32_t recno = recno_;
    const uint32_t readIn = leafState_;
    return core_->Consistent([&](uint32_t counter) {
      bool ok;
      if (counter == readIn) {
        leaf_ = from;
        ok = right ? StepRight() : StepLeft();
      } else {
        ok = right ? ResumeAfter(key, recno) : ResumeBefore(key, recno);
      }
      return Held(counter, ok);
    });
  }

  bool NextInState() { return idx_ + 1 < leaf_->count ? (Set(idx_ + 1), true) : StepRight(); }
  bool PrevInState() { return idx_ > 0 ? (Set(idx_ - 1), true) : StepLeft(); }

  // On the first entry at or after (key, recno) in the current state; a tag
  // in another collation is not ordered by bytes, so it is searched for the
  // entry itself from the start.
  bool AtOrAfter(const std::string& key, uint32_t recno, bool& exact) {
    exact = false;
    uint64_t guard = 0;
    if (!CheckOrder()) {
      for (bool ok = Position(Mode::kFirst, {}); ok; ok = NextInState()) {
        if (++guard > core_->PageCount() * kPage) core_->Fail(core_->TagWhere(tag_, kNone), "walk does not end");
        if (key_ == key && recno_ == recno) return exact = true;
      }
      core_->Fail(core_->TagWhere(tag_, kNone), "the entry a walk stood on is gone; it cannot go on in this collation");
    }
    bool ok = Position(Mode::kSeek, key);
    while (ok && key_ == key && recno_ < recno) {
      if (++guard > core_->PageCount() * kPage) core_->Fail(core_->TagWhere(tag_, kNone), "a run of equal keys does not end");
      ok = NextInState();
    }
    exact = ok && key_ == key && recno_ == recno;
    return ok;
  }
  bool ResumeAfter(const std::string& key, uint32_t recno) {
    bool exact = false;
    const bool ok = AtOrAfter(key, recno, exact);
    return ok && (!exact || NextInState());
  }
  bool ResumeBefore(const std::string& key, uint32_t recno) {
    bool exact = false;
    return AtOrAfter(key, recno, exact) ? PrevInState() : Position(Mode::kLast, {});
  }

  void Set(int i) {
    idx_ = i;
    key_.assign(leaf_->Key(i));
    recno_ = leaf_->recnos[i];
  }

  bool Invalidate() {
    leaf_.reset();
    idx_ = -1;
    key_.clear();
    recno_ = 0;
    return false;
  }

  // Loads the sibling of the current leaf and checks that it links back.
  NodePtr Sibling(uint32_t offset, bool toRight) {
    uint64_t& steps = toRight ? rightSteps_ : leftSteps_;
    (toRight ? leftSteps_ : rightSteps_) = 0;
    const Where where = core_->TagWhere(tag_, leaf_->offset);
    if (++steps > core_->PageCount()) core_->Fail(where, "sibling chain loops");
    NodePtr next = core_->Load(tag_, offset);
    if (!next->Leaf()) core_->Fail(where, "sibling of a leaf is not a leaf");
    if ((toRight ? next->left : next->right) != leaf_->offset) {
      core_->Fail(where, "sibling pointers do not link back");
    }
    return next;
  }

  bool StepRight() {
    while (leaf_->right != kNone) {
      NodePtr next = Sibling(leaf_->right, true);
      if (CheckOrder() && next->count > 0 && leaf_->count > 0 &&
          CompareBytes(leaf_->Key(leaf_->count - 1), next->Key(0), KeyLen()) > 0) {
        core_->Fail(core_->TagWhere(tag_, next->offset), "keys out of order across pages");
      }
      leaf_ = std::move(next);
      if (leaf_->count > 0) {
        Set(0);
        return true;
      }
    }
    return Invalidate();
  }

  bool StepLeft() {
    while (leaf_->left != kNone) {
      NodePtr prev = Sibling(leaf_->left, false);
      if (CheckOrder() && prev->count > 0 && leaf_->count > 0 &&
          CompareBytes(prev->Key(prev->count - 1), leaf_->Key(0), KeyLen()) > 0) {
        core_->Fail(core_->TagWhere(tag_, prev->offset), "keys out of order across pages");
      }
      leaf_ = std::move(prev);
      if (leaf_->count > 0) {
        Set(leaf_->count - 1);
        return true;
      }
    }
    return Invalidate();
  }

  bool Position(Mode mode, const std::string& key) {
    Invalidate();
    rightSteps_ = leftSteps_ = 0;
    const int keyLen = KeyLen();
    const size_t m = std::min(key.size(), static_cast<size_t>(keyLen));
    const std::string_view probe(key.data(), m);
    const bool check = CheckOrder();

    uint32_t offset = core_->tags_[tag_].root;
    uint32_t path[kMaxDepth];
    std::string lower, upper;  // separators around the current subtree
    bool hasLower = false, hasUpper = false;
    for (int depth = 0;; ++depth) {
      const Where where = core_->TagWhere(tag_, offset);
      if (depth >= kMaxDepth) core_->Fail(where, "tree deeper than " + std::to_string(kMaxDepth) + " levels (cycle?)");
      for (int d = 0; d < depth; ++d) {
        if (path[d] == offset) core_->Fail(where, "child pointer loops back to an ancestor");
      }
      path[depth] = offset;
      NodePtr node = core_->Load(tag_, offset);
      if (check && node->count > 0) {
        if (hasUpper && CompareBytes(node->Key(node->count - 1), upper, keyLen) > 0) {
          core_->Fail(where, "page holds keys above its parent's separator");
        }
        if (hasLower && CompareBytes(node->Key(0), lower, keyLen) < 0) {
          core_->Fail(where, "page holds keys below the previous separator");
        }
      }
      if (node->Leaf()) {
        leaf_ = std::move(node);
        break;
      }
      int i = 0;
      if (mode == Mode::kLast) {
        i = node->count - 1;
      } else if (mode == Mode::kSeek) {
        i = LowerBound(*node, probe);
        if (i == node->count) {
          if (depth == 0) return Invalidate();  // every key is smaller
          // The parent's separator was larger than anything left below it:
          // the answer is further right, found by the leaf walk.
          i = node->count - 1;
        }
      }
      hasLower = i > 0;
      if (hasLower) lower.assign(node->Key(i - 1));
      hasUpper = true;
      upper.assign(node->Key(i));
      offset = node->children[i];
    }

    switch (mode) {
      case Mode::kFirst:
        if (leaf_->count > 0) {
          Set(0);
          return true;
        }
        return StepRight();
      case Mode::kLast:
        if (leaf_->count > 0) {
          Set(leaf_->count - 1);
          return true;
        }
        return StepLeft();
      case Mode::kSeek: {
        const int i = LowerBound(*leaf_, probe);
        if (i < leaf_->count) {
          Set(i);
          return true;
        }
        // A separator may be larger than what is left below it; the answer
        // is then further right.
        while (StepRight()) {
          const int j = LowerBound(*leaf_, probe);
          if (j < leaf_->count) {
            Set(j);
            return true;
          }
        }
        return false;
      }
    }
    return false;
  }

  // First index whose key prefix is >= probe.
  static int LowerBound(const Node& n, std::string_view probe) {
    int lo = 0, hi = n.count;
    while (lo < hi) {
      const int mid = (lo + hi) / 2;
      if (CompareBytes(n.Key(mid), probe, probe.size()) < 0) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    return lo;
  }

  std::shared_ptr<CdxCore> core_;
  int tag_;
  NodePtr leaf_;
  int idx_ = -1;
  std::string key_;
  uint32_t recno_ = 0;
  uint64_t rightSteps_ = 0, leftSteps_ = 0;
  uint32_t leafState_ = 0;  // change counter of the state leaf_ was read in
};

class CdxFileImpl final : public CdxFile {
 public:
  explicit CdxFileImpl(std::shared_ptr<CdxCore> core) : core_(std::move(core)) {
    headers_.reserve(core_->tags_.size());
    for (const TagInfo& t : core_->tags_) headers_.push_back(t.header);
  }

  const std::vector<CdxTagHeader>& Tags() const override { return headers_; }

  int FindTag(const std::string& name) const override {
    for (size_t i = 0; i < headers_.size(); ++i) {
      const std::string& n = headers_[i].name;
      if (n.size() == name.size() &&
          std::equal(n.begin(), n.end(), name.begin(), [](char a, char b) {
            return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
          })) {
        return static_cast<int>(i);
      }
    }
    return -1;
  }

  void SetPadByte(int tag, char pad) override { core_->tags_.at(CheckTag(tag)).pad = pad; }

  std::unique_ptr<CdxCursor> OpenCursor(int tag) override {
    return std::make_unique<CursorImpl>(core_, CheckTag(tag));
  }

  std::vector<CdxEntry> ReadAll(int tag) override {
    const TagInfo& t = core_->tags_[CheckTag(tag)];
    return core_->Consistent([&](uint32_t) {
      return core_->Collect(t.root, t.header.keyLen, t.pad, t.header.machineCollation, Where{"tag", t.header.name});
    });
  }

  uint32_t ChangeCounter() const override { return core_->counter_; }

  bool ChangedOnDisk() const override {
    uint8_t b[4];
    core_->ReadAt(kOffCounter, b, sizeof b, Where{"header", {}});
    return GetBe32(b) != core_->counter_;
  }

 private:
  int CheckTag(int tag) const {
    if (tag < 0 || static_cast<size_t>(tag) >= headers_.size()) {
      throw XBaseError(BaseName(core_->path_) + ": no tag number " + std::to_string(tag));
    }
    return tag;
  }

  std::shared_ptr<CdxCore> core_;
  std::vector<CdxTagHeader> headers_;
};

}  // namespace

std::unique_ptr<CdxFile> CdxFile::Open(const std::string& nativePath) {
  auto core = std::make_shared<CdxCore>(nativePath);
  core->Open();
  return std::make_unique<CdxFileImpl>(std::move(core));
}

}  // namespace xbase
