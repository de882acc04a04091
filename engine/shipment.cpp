// Shipment-file sequencing: ORDER.TXT rewritten with its shipment blocks in
// sorted order, every byte of a block copied unchanged.
#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstring>
#include <limits>
#include <string_view>
#include <system_error>
#include <thread>

#include "engine/result_file.h"
#include "engine/uSequncr.h"
#include "platform/file.h"
#include "platform/os.h"
#include "platform/text.h"

namespace {
constexpr size_t kBufSize = 1 << 16;
constexpr int kFieldLimit = 255;
static_assert(kFieldLimit <= 255, "a field's length is kept in a byte");
constexpr size_t kCopyChunk = 1 << 20;
constexpr int64_t kWindow = 64 << 20;
// Mapped source: pages behind a pass are given back in steps of this size.
constexpr size_t kReleaseStep = 8 << 20;
// Up to this size a mapped source is copied block by block in sorted order
// straight to the result, so all of it may be mapped in at once (clean page
// cache pages, shared and reclaimable); larger ones go through the windows.
constexpr size_t kDirectLimit = size_t{128} << 20;
// Pieces handed to one gathered write of the direct copy.
constexpr size_t kGatherBatch = 4096;
// The copy hands what it wrote to the disk every so many bytes, so that the
// result's final sync overlaps the copy instead of following it.
constexpr size_t kWriteBackStep = 16 << 20;
// Sizes from which the header scan and the sort use two threads.
constexpr size_t kSplitMin = 1 << 20;
constexpr size_t kParallelSortMin = 20000;
// Parts the header scan of a large mapped source is cut into, taken by
// whichever thread is free.
constexpr size_t kScanParts = 16;

// Runs a on this thread and b on another, both to the end; both here, one
// after the other, when no thread can be had.
template <typename A, typename B>
void BothAtOnce(A a, B b) {
  std::thread other;
  try {
    other = std::thread(b);
  } catch (const std::system_error&) {
    a();
    b();
    return;
  }
  a();
  other.join();
}

// The reading rules, shared by the buffered reader and the one over the
// mapped source so that both give exactly the same fields and positions.

enum class SkipState { Start, Plain, Quoted, AfterQuote };

// The first byte in [p, end) that is stop, a line feed or NUL; end when
// there is none. Eight bytes at a time: most fields are short, and a run of
// them is what a header line mostly is.
inline const unsigned char* ScanTo(const unsigned char* p, const unsigned char* end, unsigned char stop) {
  if constexpr (std::endian::native == std::endian::little) {
    constexpr uint64_t ones = 0x0101010101010101ULL, highs = 0x8080808080808080ULL;
    // Flags the zero bytes of x; the lowest flag is always exact.
    auto zeros = [](uint64_t x) { return (x - ones) & ~x & highs; };
    const uint64_t s = ones * stop, lf = ones * '\n';
    while (end - p >= 8) {
      uint64_t v;
      std::memcpy(&v, p, 8);
      const uint64_t m = zeros(v) | zeros(v ^ s) | zeros(v ^ lf);
      if (m) return p + (std::countr_zero(m) >> 3);
      p += 8;
    }
  }
  while (p != end && *p != stop && *p != '\n' && *p != 0) ++p;
  return p;
}

// Skips fields in [p, end) until n reaches 0 or the line ends (lineEnd set,
// the terminator consumed). Returns where it stopped.
inline const unsigned char* SkipFieldsIn(const unsigned char* p, const unsigned char* end, int& n,
                                         SkipState& state, bool& lineEnd) {
  while (p != end && n > 0) {
    if constexpr (std::endian::native == std::endian::little) {
      // Runs of plain fields eight bytes at a time: with no quote, carriage
      // return, line feed or NUL among them, only the commas count.
      constexpr uint64_t ones = 0x0101010101010101ULL, low7 = 0x7F7F7F7F7F7F7F7FULL;
      auto zeros = [](uint64_t x) { return ~(((x & low7) + low7) | x | low7); };  // exact, every zero byte
      while ((state == SkipState::Start || state == SkipState::Plain) && end - p >= 8) {
        uint64_t v;
        std::memcpy(&v, p, 8);
        if (zeros(v ^ (ones * '"')) | zeros(v ^ (ones * '\r')) | zeros(v ^ (ones * '\n')) | zeros(v)) break;
        uint64_t commas = zeros(v ^ (ones * ','));
        // The flags are the bytes' high bits: their sum lands in the top byte.
        const int c = static_cast<int>(((commas >> 7) * ones) >> 56);
        if (c >= n) {
          for (; n > 1; --n) commas &= commas - 1;
          n = 0;
          state = SkipState::Start;
          return p + (std::countr_zero(commas) >> 3) + 1;
        }
        n -= c;
        state = (v >> 56) == ',' ? SkipState::Start : SkipState::Plain;
        p += 8;
      }
      if (p == end) break;
    }
    // Inside a field only its terminator and the line end matter.
    if (state == SkipState::Plain || state == SkipState::Quoted) {
      p = ScanTo(p, end, state == SkipState::Plain ? ',' : '"');
      if (p == end) break;
    }
    const unsigned char c = *p++;
    if (c == '\n' || c == 0) {
      lineEnd = true;
      break;
    }
    if (c == '\r') continue;
    switch (state) {
      case SkipState::Start:
        if (c == ',') --n;
        else state = c == '"' ? SkipState::Quoted : SkipState::Plain;
        break;
      case SkipState::Plain:
        if (c == ',') {
          state = SkipState::Start;
          --n;
        }
        break;
      case SkipState::Quoted:
        if (c == '"') state = SkipState::AfterQuote;
        break;
      case SkipState::AfterQuote:  // a quote followed by a comma ends the field
        if (c == ',') {
          state = SkipState::Start;
          --n;
        } else {
          state = SkipState::Quoted;
        }
        break;
    }
  }
  return p;
}

// Past the line feed or NUL in [p, end), whichever comes first (lineEnd set);
// end when there is none.
inline const unsigned char* LineEndIn(const unsigned char* p, const unsigned char* end, bool& lineEnd) {
  const unsigned char* q = static_cast<const unsigned char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
  if (!q) q = end;
  if (const void* nul = std::memchr(p, 0, static_cast<size_t>(q - p))) q = static_cast<const unsigned char*>(nul);
  if (q != end) {
    ++q;
    lineEnd = true;
  }
  return q;
}

// One field from next() (-1 at the end of the line or file) while !ended();
// out == nullptr drops it. n counts the characters of the field as they stand
// in the line (an opening quote is the first of them).
template <typename Next, typename Ended>
inline void ReadFieldWith(Next next, Ended ended, std::string* out) {
  const int first = next();
  if (first < 0 || first == ',') return;
  const bool quoted = first == '"';
  const int term = quoted ? '"' : ',';
  int n = 1;
  if (!quoted && out) out->push_back(static_cast<char>(first));
  while (!ended()) {
    const int c = next();
    if (c < 0) break;
    ++n;
    if (c != term) {
      if (out && n <= kFieldLimit) out->push_back(static_cast<char>(c));
      continue;
    }
    if (!quoted) break;
    const int after = next();
    if (after < 0) break;
    ++n;
    if (after == ',') break;
    // A quote inside a quoted field stays, with the character after it.
    if (out && n <= kFieldLimit - 1) {
      out->push_back('"');
      out->push_back(static_cast<char>(after));
    }
  }
}

}  // namespace

TFieldReader::TFieldReader(plat::File& file)
    : read_([&file](void* buf, size_t n) { return file.Read(buf, n); }),
      buf_(std::make_unique<unsigned char[]>(kBufSize)) {}

TFieldReader::TFieldReader(plat::os::File& file)
    : read_([&file](void* buf, size_t n) {
        size_t got = 0;
        return file.Read(buf, n, &got) ? got : 0;
      }),
      buf_(std::make_unique<unsigned char[]>(kBufSize)) {}

bool TFieldReader::Fill() {
  pos_ = 0;
  len_ = read_(buf_.get(), kBufSize);
  return len_ > 0;
}

int TFieldReader::NextChar() {
  AtLineEnd = false;
  while (!AtEnd && !AtLineEnd) {
    if (pos_ == len_ && !Fill()) {
      AtEnd = true;
      break;
    }
    const unsigned char b = buf_[pos_++];
    ++Position;
    if (b == 0 || b == '\n') {
      AtLineEnd = true;
      return -1;
    }
    if (b != '\r') return b;
  }
  return -1;
}

std::string TFieldReader::ReadChar() {
  const int c = NextChar();
  return c < 0 ? std::string() : std::string(1, static_cast<char>(c));
}

bool TFieldReader::ReadFieldImpl(std::string* out) {
  ReadFieldWith([this] { return NextChar(); }, [this] { return AtEnd || AtLineEnd; }, out);
  return true;
}

std::string TFieldReader::ReadField() {
  std::string s;
  ReadFieldImpl(&s);
  return plat::UpperAZ(plat::Trim(s));
}

std::string TFieldReader::ReadFieldInLine() {
  if (AtLineEnd || AtEnd) return std::string();
  return ReadField();
}

// The same reading as ReadField, without keeping the text, straight over the
// buffer: most of a header line is fields that are skipped.
void TFieldReader::SkipFields(int n) {
  SkipState state = SkipState::Start;
  while (n > 0 && !AtLineEnd && !AtEnd) {
    if (pos_ == len_ && !Fill()) {
      AtEnd = true;
      break;
    }
    const unsigned char* p = buf_.get() + pos_;
    const unsigned char* q = SkipFieldsIn(p, buf_.get() + len_, n, state, AtLineEnd);
    Position += q - p;
    pos_ += static_cast<size_t>(q - p);
  }
}

void TFieldReader::SkipLine() {
  while (!AtLineEnd && !AtEnd) {
    if (pos_ == len_ && !Fill()) {
      AtEnd = true;
      break;
    }
    const unsigned char* p = buf_.get() + pos_;
    const unsigned char* q = LineEndIn(p, buf_.get() + len_, AtLineEnd);
    Position += q - p;
    pos_ += static_cast<size_t>(q - p);
  }
}

namespace {

// ReadField's trimming (bytes up to the space off both ends) and upper-casing.
std::string TrimUpper(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
  return plat::UpperAZ(s.substr(b, e - b));
}

// The last c in [p, end), nullptr when there is none.
inline const unsigned char* LastOf(const unsigned char* p, const unsigned char* end, unsigned char c) {
  while (end != p)
    if (*--end == c) return end;
  return nullptr;
}

// The reader over the whole source in memory (the mapped file): the same
// reading as TFieldReader, with no buffer to refill or copy.
class TMemoryReader {
 public:
  // Reads the bytes [from, to) of the data; positions count from its start.
  TMemoryReader(const unsigned char* data, size_t from, size_t to)
      : base_(data), p_(data + from), end_(data + to), lastStop_(p_) {
    // Past the last line feed or NUL of the range: scans that start before
    // it end at a terminator, so they need no bound.
    const unsigned char* lf = LastOf(p_, end_, '\n');
    const unsigned char* after = lf ? lf + 1 : p_;
    const unsigned char* nul = LastOf(after, end_, 0);
    if (nul) lastStop_ = nul + 1;
    else if (lf) lastStop_ = after;
  }
  bool AtEnd = false;
  bool AtLineEnd = false;
  int64_t Pos() const { return p_ - base_; }

  std::string ReadField() {
    // Most fields are plain: no quote to open them, no carriage return inside,
    // within the length limit and ended before the end of the file. They are
    // taken as they stand; every other field goes the general way.
    if (!AtEnd && p_ != end_ && *p_ != '"' && *p_ != '\r') {
      const unsigned char* q = ScanTo(p_, end_, ',');
      const size_t len = static_cast<size_t>(q - p_);
      if (q != end_ && len <= kFieldLimit && !std::memchr(p_, '\r', len)) {
        const std::string_view raw(reinterpret_cast<const char*>(p_), len);
        AtLineEnd = *q != ',';
        p_ = q + 1;
        return TrimUpper(raw);
      }
    }
    std::string s;
    ReadFieldWith([this] { return NextChar(); }, [this] { return AtEnd || AtLineEnd; }, &s);
    return TrimUpper(s);
  }
  // Whether the first field of a line (read as by ReadField) is "H".
  bool HeaderField() {
    // The common lines start with a one-character field.
    if (!AtEnd && end_ - p_ >= 2 && p_[1] == ',' && p_[0] != '"' && p_[0] != ',' && p_[0] != '\r' &&
        p_[0] != '\n' && p_[0] != 0) {
      const unsigned char c = p_[0];
      p_ += 2;
      AtLineEnd = false;
      return c == 'H' || c == 'h';
    }
    return ReadField() == "H";
  }
  std::string ReadFieldInLine() {
    if (AtLineEnd || AtEnd) return std::string();
    return ReadField();
  }
  // ReadFieldInLine's text appended to out after a byte with its length, a
  // plain field straight from the data without a string of its own.
  void AppendFieldInLine(std::string& out) {
    if (!AtLineEnd && !AtEnd && p_ != end_ && *p_ != '"' && *p_ != '\r') {
      const unsigned char* q = ScanTo(p_, end_, ',');
      const size_t len = static_cast<size_t>(q - p_);
      if (q != end_ && len <= kFieldLimit && !std::memchr(p_, '\r', len)) {
        const unsigned char* b = p_;
        const unsigned char* e = q;
        while (b < e && *b <= 32) ++b;
        while (e > b && e[-1] <= 32) --e;
        out.push_back(static_cast<char>(e - b));
        for (; b != e; ++b) out.push_back(static_cast<char>(*b >= 'a' && *b <= 'z' ? *b - 'a' + 'A' : *b));
        AtLineEnd = *q != ',';
        p_ = q + 1;
        return;
      }
    }
    const std::string s = ReadFieldInLine();
    out.push_back(static_cast<char>(s.size()));
    out.append(s);
  }
  void SkipFields(int n) {
    SkipState state = SkipState::Start;
    while (n > 0 && !AtLineEnd && !AtEnd) {
      if (p_ == end_) {
        AtEnd = true;
        break;
      }
      p_ = SkipFieldsIn(p_, end_, n, state, AtLineEnd);
    }
  }
  void SkipLine() {
    while (!AtLineEnd && !AtEnd) {
      if (p_ == end_) {
        AtEnd = true;
        break;
      }
      if (p_ < lastStop_) {
        // A line feed or NUL lies ahead: one scan finds whichever comes first.
#if defined(__GLIBC__)
        p_ = reinterpret_cast<const unsigned char*>(strchrnul(reinterpret_cast<const char*>(p_), '\n')) + 1;
#else
        p_ = ScanTo(p_, lastStop_, '\n') + 1;
#endif
        AtLineEnd = true;
      } else {
        p_ = LineEndIn(p_, end_, AtLineEnd);
      }
    }
  }

 private:
  int NextChar() {
    AtLineEnd = false;
    while (!AtEnd) {
      if (p_ == end_) {
        AtEnd = true;
        break;
      }
      const unsigned char b = *p_++;
      if (b == 0 || b == '\n') {
        AtLineEnd = true;
        return -1;
      }
      if (b != '\r') return b;
    }
    return -1;
  }
  const unsigned char* base_;
  const unsigned char* p_;
  const unsigned char* end_;
  const unsigned char* lastStop_;
};

int64_t PositionOf(const TFieldReader& r) { return r.Position; }
void AppendFieldInLine(TFieldReader& r, std::string& out) {
  const std::string s = r.ReadFieldInLine();
  out.push_back(static_cast<char>(s.size()));
  out.append(s);
}
void AppendFieldInLine(TMemoryReader& r, std::string& out) { r.AppendFieldInLine(out); }
int64_t PositionOf(const TMemoryReader& r) { return r.Pos(); }
bool HeaderField(TFieldReader& r) { return r.ReadField() == "H"; }
bool HeaderField(TMemoryReader& r) { return r.HeaderField(); }

// Appends s so that the concatenation of several encoded texts compares,
// byte by byte, like the texts one after the other: NUL becomes 00 01 and
// every text ends with 00 00, which sorts below any continuation.
void AppendKey(std::string& arena, const std::string& s) {
  if (!std::memchr(s.data(), 0, s.size())) {
    arena.append(s);
  } else {
    for (char c : s) {
      arena.push_back(c);
      if (c == 0) arena.push_back(1);
    }
  }
  arena.push_back(0);
  arena.push_back(0);
}

struct Shipment {
  int64_t origin;    // offset of the header line
  uint64_t dataOff;  // its field texts after the header scan, its encoded keys once derived
  uint32_t dataLen;
};

// Shipments in source order and the bytes their data points into.
struct TShipmentList {
  std::vector<Shipment> items;
  std::string data;

  // Takes over the shipments of a later part of the source, which is left empty.
  void Append(TShipmentList&& later) {
    for (Shipment& x : later.items) x.dataOff += data.size();
    items.insert(items.end(), later.items.begin(), later.items.end());
    data += later.data;
    later = TShipmentList();
  }
};

// The header line's fields a key can come from, in line order, each with the
// number of fields between it and the one before.
struct LineField {
  TSortField field;
  int gap;
};
constexpr LineField kLineFields[] = {
    {sfCustomerId, 2},   {sfCustomerName, 0}, {sfPostalCode, 7},  {sfProvinceCode, 0}, {sfShipmentRef1, 59},
    {sfShipmentRef2, 0}, {sfPackageRef1, 0},  {sfPackageRef2, 0}, {sfPackageRef3, 0},  {sfPackageRef4, 0},
};

// The line fields a pass reads: those its order uses, and the postal and
// province codes its derived keys come from.
class TFieldPlan {
 public:
  explicit TFieldPlan(const TFieldsInUse& used) {
    const bool derive = used.Zone() || used[sfProvinceLocation];
    for (const LineField& f : kLineFields)
      need_[f.field] = used[f.field] || (derive && (f.field == sfPostalCode || f.field == sfProvinceCode));
  }
  bool Need(TSortField f) const { return need_[f]; }

 private:
  std::array<bool, SortFieldCount> need_{};
};

// Step "read headers": one Shipment per header line of what r reads, with
// the texts of the fields plan needs (a byte saying whether the line reaches
// its postal code, then each needed field as a length byte and its bytes); no key is derived yet, so the scan does
// not wait for the zones. lineDone runs after every line and stops the scan
// by returning false.
template <typename Reader, typename LineDone>
bool ReadHeaders(Reader& r, const TFieldPlan& plan, TShipmentList& out, LineDone lineDone) {
  while (!r.AtEnd) {
    const int64_t p = PositionOf(r);
    if (!HeaderField(r)) {
      r.SkipLine();
      if (!lineDone()) return false;
      continue;
    }
    const size_t off = out.data.size();
    // Every read stops at the end of the header line, so a short header line
    // never takes fields from the line after it and still starts its block.
    // Runs of fields that are not needed are skipped in one go.
    int pending = 0;
    for (const LineField& f : kLineFields) {
      pending += f.gap;
      if (f.field == sfPostalCode) {
        // The keys come from what the line has, also when it ends at 13 or 14.
        r.SkipFields(pending);
        pending = 0;
        out.data.push_back(!r.AtLineEnd && !r.AtEnd ? 1 : 0);
      }
      if (!plan.Need(f.field)) {
        ++pending;
        continue;
      }
      r.SkipFields(pending);
      pending = 0;
      AppendFieldInLine(r, out.data);
    }
    r.SkipLine();
    out.items.push_back({p, off, static_cast<uint32_t>(out.data.size() - off)});
    if (!lineDone()) return false;
  }
  return true;
}

// Step "derive keys" for count shipments from their field texts in texts:
// the zone and province locations derived, every key of the order encoded
// into arena, and each shipment's data pointing there afterwards.
void DeriveKeys(const TKeyDeriver& keys, const TFieldPlan& plan, const TSortOrderArray& order,
                const std::string& texts, Shipment* items, size_t count, std::string& arena) {
  TItem item;
  for (size_t i = 0; i < count; ++i) {
    Shipment& s = items[i];
    for (auto& v : item.Values) v.clear();
    const char* p = texts.data() + s.dataOff;
    bool hasPostal = false;
    for (const LineField& f : kLineFields) {
      if (f.field == sfPostalCode) hasPostal = *p++ != 0;
      if (!plan.Need(f.field)) continue;
      const size_t len = static_cast<unsigned char>(*p++);
      item.Values[f.field].assign(p, len);
      p += len;
    }
    if (hasPostal) keys.Derive(item);
    s.dataOff = arena.size();
    for (size_t k = 0; k < order.size(); ++k) {
      const size_t from = arena.size();
      AppendKey(arena, item.Values[order[k]]);
      // The encoding is prefix-free, so its complement compares in exactly
      // the opposite order: a descending key.
      if (order.Descending(k))
        for (size_t b = from; b < arena.size(); ++b) arena[b] = static_cast<char>(~arena[b]);
    }
    s.dataLen = static_cast<uint32_t>(arena.size() - s.dataOff);
  }
}

// The keys of every shipment in list, on two threads for a large list: each
// half into its own arena, the later one appended.
void DeriveAllKeys(const TKeyDeriver& keys, const TFieldPlan& plan, const TSortOrderArray& order,
                   TShipmentList& list) {
  std::string arena;
  const size_t n = list.items.size();
  if (n >= kParallelSortMin) {
    const size_t mid = n / 2;
    std::string later;
    BothAtOnce([&] { DeriveKeys(keys, plan, order, list.data, list.items.data(), mid, arena); },
               [&] { DeriveKeys(keys, plan, order, list.data, list.items.data() + mid, n - mid, later); });
    for (size_t i = mid; i < n; ++i) list.items[i].dataOff += arena.size();
    arena += later;
  } else {
    DeriveKeys(keys, plan, order, list.data, list.items.data(), n, arena);
  }
  list.data = std::move(arena);
}

// Step "sort": positions of list's shipments in output order. Sorted by the
// first 20 key bytes held beside the index (most keys are not much longer),
// the full keys only for ties there.
std::vector<uint32_t> SortByKeys(const TShipmentList& list, bool reverse) {
  const std::vector<Shipment>& items = list.items;
  const std::string& arena = list.data;
  constexpr size_t kHeadBytes = 20;
  struct SortEntry {
    uint64_t head0, head1;
    uint32_t head2;
    uint32_t index;
  };
  std::vector<SortEntry> entries(items.size());
  // The entries [from, to), each sort half building its own.
  auto build = [&](uint32_t from, uint32_t to) {
    for (uint32_t i = from; i < to; ++i) {
      const Shipment& x = items[i];
      unsigned char bytes[kHeadBytes] = {};
      std::memcpy(bytes, arena.data() + x.dataOff, std::min<size_t>(x.dataLen, sizeof bytes));
      auto word = [&](size_t at, size_t n) {
        uint64_t v = 0;
        for (size_t b = at; b < at + n; ++b) v = (v << 8) | bytes[b];
        return v;
      };
      entries[i] = {word(0, 8), word(8, 8), static_cast<uint32_t>(word(16, 4)), i};
    }
  };
  // Equal keys keep file order: the index decides last, so the unstable
  // sort gives the stable order, and no two entries are ever equal: halves
  // sorted side by side and merged give the same order as one sort.
  auto less = [&](const SortEntry& a, const SortEntry& b) {
    if (a.head0 != b.head0) return a.head0 < b.head0;
    if (a.head1 != b.head1) return a.head1 < b.head1;
    if (a.head2 != b.head2) return a.head2 < b.head2;
    const Shipment& x = items[a.index];
    const Shipment& y = items[b.index];
    // A key that ends within the head bytes ties only with an equal key.
    if (x.dataLen > kHeadBytes && y.dataLen > kHeadBytes) {
      const int c = std::memcmp(arena.data() + x.dataOff, arena.data() + y.dataOff, std::min(x.dataLen, y.dataLen));
      if (c != 0) return c < 0;
      if (x.dataLen != y.dataLen) return x.dataLen < y.dataLen;
    }
    return a.index < b.index;
  };
  std::vector<uint32_t> sorted(entries.size());
  if (entries.size() >= kParallelSortMin) {
    const uint32_t half = static_cast<uint32_t>(entries.size() / 2);
    const auto mid = entries.begin() + half;
    BothAtOnce(
        [&] {
          build(0, half);
          std::sort(entries.begin(), mid, less);
        },
        [&] {
          build(half, static_cast<uint32_t>(entries.size()));
          std::sort(mid, entries.end(), less);
        });
    // Merged straight into the positions: no second copy of the entries.
    auto a = entries.begin(), b = mid;
    for (uint32_t& out : sorted) out = (b == entries.end() || (a != mid && less(*a, *b)) ? a++ : b++)->index;
  } else {
    build(0, static_cast<uint32_t>(entries.size()));
    std::sort(entries.begin(), entries.end(), less);
    for (size_t i = 0; i < sorted.size(); ++i) sorted[i] = entries[i].index;
  }
  if (reverse) std::reverse(sorted.begin(), sorted.end());
  return sorted;
}

// Builds the sorted result window by window: each window of the result is
// gathered in memory from the blocks (or parts of blocks) that land in it,
// taken in source order through copyIn(from, to, dest), then written out in
// one piece. The result is thus written strictly sequentially and the source
// read in sequential passes, with a fixed amount of memory (one window, 64 MB,
// larger only for files past 512 MB so that there are at most eight).
// windowDone runs after each window is written.
template <typename CopyIn, typename WindowDone>
bool CopyBlocks(plat::File& dst, const std::vector<Shipment>& items, const std::vector<uint32_t>& sorted,
                int64_t size, CopyIn copyIn, WindowDone windowDone) {
  const size_t n = items.size();
  auto blockEnd = [&](size_t k) { return k + 1 < n ? items[k + 1].origin : size; };
  std::vector<int64_t> at(n);
  int64_t total = 0;
  for (uint32_t i : sorted) {
    at[i] = total;
    total += blockEnd(i) - items[i].origin;
  }
  const int64_t window = std::max<int64_t>(kWindow, (total + 7) / 8);
  const size_t windows = static_cast<size_t>((total + window - 1) / window);
  // Blocks of each window, in source order.
  std::vector<std::vector<uint32_t>> parts(windows);
  for (size_t k = 0; k < n; ++k) {
    const int64_t len = blockEnd(k) - items[k].origin;
    if (len == 0) continue;
    for (int64_t w = at[k] / window; w * window < at[k] + len; ++w) parts[static_cast<size_t>(w)].push_back(static_cast<uint32_t>(k));
  }

  // Not zeroed: the blocks of a window cover every byte of it.
  std::unique_ptr<char[]> out(new char[static_cast<size_t>(std::min(window, total))]);
  for (size_t w = 0; w < windows; ++w) {
    const int64_t w0 = static_cast<int64_t>(w) * window;
    const int64_t w1 = std::min(total, w0 + window);
    for (uint32_t k : parts[w]) {
      // The part of block k that lands in this window, as a source range.
      const int64_t t0 = std::max(at[k], w0);
      const int64_t t1 = std::min(at[k] + blockEnd(k) - items[k].origin, w1);
      if (!copyIn(items[k].origin + (t0 - at[k]), items[k].origin + (t1 - at[k]), out.get() + (t0 - w0)))
        return false;
    }
    if (!dst.Write(out.get(), static_cast<size_t>(w1 - w0))) return false;
    windowDone();
  }
  return true;
}

// The pass's two files, both held without sharing from the first step to the
// last, and the source's read-only mapping when one can be had.
struct TPassFiles {
  std::unique_ptr<plat::os::File> source;
  std::unique_ptr<plat::File> result;
  int64_t size = -1;
  // The source's pages read as zeros past an end another program cut, and
  // the mapping then says it is damaged. A file up to kDirectLimit may have
  // all of it mapped in at once (clean page cache pages, shared and
  // reclaimable); the passes over a larger one give back the pages behind
  // them.
  std::unique_ptr<plat::os::Mapping> map;
  bool mapped = false;
  // Mapped and small enough to stay mapped in whole from the scan to the
  // copy: giving its pages back would only fault them in again.
  bool direct = false;
};

// Step "open and map". Both passes go over a read-only mapping of the source
// when one can be had: parsed in place and blocks copied straight from it.
// Reading through the open file is the fallback, with the same result.
bool OpenPassFiles(const std::string& sourceFile, const std::string& resultFile, TPassFiles& f) {
  if (!plat::FileExists(sourceFile)) return false;
  const std::string sourcePath = plat::NativePath(sourceFile);
  if (sourcePath.empty()) return false;
  // Read access is enough: the source is only read, then deleted, and a
  // writable handle of our own would keep the mapping's hold on it (a read
  // lease on POSIX) from being taken.
  plat::os::OpenRequest how;
  how.exclusive = true;
  f.source = plat::os::Os().Open(sourcePath, how);
  if (!f.source) return false;
  // The exclusive open of the result is the gate: a result that another
  // program holds open is left alone. How the sorted content takes its place
  // is TResultFile's business.
  f.result = plat::OpenExclusive(resultFile, plat::OpenMode::WriteOnly);
  if (!f.result) {
    f.source->Close();
    return false;
  }
  // The file held is the one mapped, through the open itself: opening the
  // name again would fail on Windows, where the source is held unshared.
  plat::os::FileInfo info;
  uint64_t size = 0;
  if (f.source->Info(&info)) {
    size = info.size;
    if (size > 0 && size <= std::numeric_limits<size_t>::max() && size <= uint64_t{INT64_MAX})
      f.map = f.source->MapReadOnly(info);
  } else if (!f.source->Size(&size)) {
    return true;  // size stays unknown: the reading fails
  }
  f.size = size <= uint64_t{INT64_MAX} ? static_cast<int64_t>(size) : -1;
  f.mapped = f.map != nullptr;
  f.direct = f.mapped && f.map->Size() <= kDirectLimit;
  return true;
}

// Line-aligned parts of a mapped source for the header scan, as bounds
// [b[i], b[i + 1]): a part ends just past a line feed or NUL, so each part
// read on its own gives, one after the other, the same shipments as the whole.
std::vector<size_t> ScanParts(const unsigned char* data, size_t size, bool split) {
  std::vector<size_t> bounds{0};
  if (split && size >= kSplitMin) {
    const size_t step = size / kScanParts;
    for (size_t at = step; at < size;) {
      const unsigned char* end = data + size;
      const unsigned char* lf = static_cast<const unsigned char*>(std::memchr(data + at, '\n', size - at));
      if (!lf) lf = end;
      const unsigned char* nul = static_cast<const unsigned char*>(std::memchr(data + at, 0, static_cast<size_t>(lf - (data + at))));
      const unsigned char* stop = nul ? nul : lf;
      if (stop == end) break;
      const size_t next = static_cast<size_t>(stop - data) + 1;
      if (next < size) bounds.push_back(next);
      at = next + step;
    }
  }
  bounds.push_back(size);
  return bounds;
}

// Steps "read headers" and "derive keys" over the mapping, while this thread
// loads the zones: the other thread maps a directly copied source in (which
// takes its page faults off the scan) and starts on the parts; this one joins
// in once the zones are loaded. Every part goes to whichever thread is free,
// and a part scanned once the zones are there gets its keys at once, while
// its texts are still in the cache; the parts scanned before that get theirs
// from whichever thread is done scanning first.
bool ReadMappedHeaders(TPassFiles& f, TKeyDeriver& deriver, const TFieldPlan& plan, const TSortOrderArray& order,
                       TShipmentList& out) {
  plat::os::Mapping& map = *f.map;
  const bool direct = f.direct;
  // The bytes [from, to) into part; pages behind the scan go back as it
  // moves on.
  auto readPart = [&](size_t from, size_t to, TShipmentList& part) {
    TMemoryReader r(map.Data(), from, to);
    size_t released = from;
    return ReadHeaders(r, plan, part, [&] {
      const size_t at = static_cast<size_t>(r.Pos());
      if (!direct && at - released >= kReleaseStep) {
        map.Release(released, at);
        released = at / kReleaseStep * kReleaseStep;
      }
      return true;
    });
  };
  const std::vector<size_t> bounds = ScanParts(map.Data(), map.Size(), direct);
  const size_t n = bounds.size() - 1;
  bool ok = true;
  if (map.Size() < kSplitMin) {
    deriver.PrepareZones();
    ok = readPart(0, map.Size(), out);
    if (ok) DeriveAllKeys(deriver, plan, order, out);
  } else {
    std::vector<TShipmentList> parts(n);
    std::unique_ptr<std::atomic<bool>[]> partOk(new std::atomic<bool>[n]);
    // Set once a part is scanned, and once a thread has claimed its keys.
    std::unique_ptr<std::atomic<bool>[]> scanned(new std::atomic<bool>[n]);
    std::unique_ptr<std::atomic<bool>[]> claimed(new std::atomic<bool>[n]);
    for (size_t i = 0; i < n; ++i) partOk[i] = scanned[i] = claimed[i] = false;
    std::atomic<bool> zonesReady{false};
    std::atomic<size_t> next{0};
    auto keyPart = [&](size_t i) {
      if (!partOk[i] || claimed[i].exchange(true)) return;
      std::string arena;
      TShipmentList& part = parts[i];
      DeriveKeys(deriver, plan, order, part.data, part.items.data(), part.items.size(), arena);
      part.data = std::move(arena);
    };
    // A part scanned while the zones were still loading is keyed by the
    // first thread to finish scanning; whatever is left is keyed after both
    // are done.
    auto take = [&] {
      for (size_t i; (i = next.fetch_add(1)) < n;) {
        partOk[i] = readPart(bounds[i], bounds[i + 1], parts[i]);
        scanned[i] = true;
        if (zonesReady) keyPart(i);
      }
      for (size_t i = 0; i < n; ++i)
        if (zonesReady && scanned[i]) keyPart(i);
    };
    BothAtOnce(
        [&] {
          deriver.PrepareZones();
          zonesReady = true;
          take();
        },
        [&] {
          if (direct) map.Populate();
          take();
        });
    for (size_t i = 0; i < n; ++i) keyPart(i);
    size_t items = 0, bytes = 0;
    for (const TShipmentList& part : parts) {
      items += part.items.size();
      bytes += part.data.size();
    }
    out.items.reserve(items);
    out.data.reserve(bytes);
    for (size_t i = 0; i < n; ++i) {
      ok = ok && partOk[i];
      out.Append(std::move(parts[i]));
    }
  }
  if (!direct) map.Release(0, map.Size());
  return ok;
}

// Step "copy": the blocks in sorted order into to.
bool CopyInOrder(TPassFiles& f, const std::vector<Shipment>& items, const std::vector<uint32_t>& sorted,
                 plat::File& to) {
  if (f.direct) {
    const plat::os::Mapping& map = *f.map;
    // Runs of blocks that follow each other in the source go as one piece,
    // written straight from the mapping in large gathered writes.
    const size_t n = items.size();
    auto blockEnd = [&](size_t k) { return k + 1 < n ? static_cast<size_t>(items[k + 1].origin) : map.Size(); };
    std::vector<plat::Piece> pieces;
    pieces.reserve(std::min(n, kGatherBatch));
    bool ok = true;
    size_t unhinted = 0;
    for (size_t i = 0; ok && i < n;) {
      const size_t from = static_cast<size_t>(items[sorted[i]].origin);
      size_t end = blockEnd(sorted[i]);
      for (++i; i < n && static_cast<size_t>(items[sorted[i]].origin) == end; ++i) end = blockEnd(sorted[i]);
      pieces.push_back({map.Data() + from, end - from});
      unhinted += end - from;
      if (pieces.size() == kGatherBatch || unhinted >= kWriteBackStep || i == n) {
        ok = to.WriteGather(pieces.data(), pieces.size());
        pieces.clear();
        if (ok && unhinted >= kWriteBackStep) {
          to.StartWriteBack();
          unhinted = 0;
        }
      }
    }
    return ok;
  }
  if (f.mapped) {
    // Within a window the source is taken in order, so pages behind go back.
    plat::os::Mapping& map = *f.map;
    size_t released = 0;
    return CopyBlocks(
        to, items, sorted, f.size,
        [&](int64_t s, int64_t e, char* dest) {
          std::memcpy(dest, map.Data() + s, static_cast<size_t>(e - s));
          if (static_cast<size_t>(s) - released >= kReleaseStep) {
            map.Release(released, static_cast<size_t>(s));
            released = static_cast<size_t>(s) / kReleaseStep * kReleaseStep;
          }
          return true;
        },
        [&] {
          map.Release(0, map.Size());
          released = 0;
        });
  }
  plat::os::File& src = *f.source;
  std::vector<char> buf(kCopyChunk);
  int64_t chunkFrom = -1, chunkTo = -1;  // source range held in buf (none yet)
  return CopyBlocks(
      to, items, sorted, f.size,
      [&](int64_t s, int64_t e, char* dest) {
        while (s < e) {
          if (s < chunkFrom || s >= chunkTo) {
            if (s != chunkTo && !src.Seek(static_cast<uint64_t>(s))) return false;
            size_t got = 0;
            if (!src.Read(buf.data(), buf.size(), &got) || got == 0) return false;  // or the file ended inside a block
            chunkFrom = s;
            chunkTo = s + static_cast<int64_t>(got);
          }
          const int64_t m = std::min(e, chunkTo);
          std::memcpy(dest, buf.data() + (s - chunkFrom), static_cast<size_t>(m - s));
          dest += m - s;
          s = m;
        }
        return true;
      },
      [] {});
}

// Step "commit": the source goes only once the complete result is durable in
// its place.
bool Commit(TPassFiles& f, const std::string& sourceFile, TResultFile& out, plat::File* temp, bool ok) {
  // Bytes of a source shortened under the mapping are not the shipments.
  if (f.mapped && f.map->Damaged()) ok = false;
  f.map.reset();
  if (temp) ok = out.Finish(ok);
  f.result->Close();
  f.source->Close();
  // The delete is made durable before success is told: a power cut after it
  // must not bring back a source the host may already have replaced.
  return ok && plat::DeleteFile(sourceFile) && plat::SyncFolderOf(sourceFile);
}

}  // namespace

bool SequenceShipmentFile(const std::string& sourceFile, const std::string& resultFile,
                          const TProvinceArray& provinces, const TSortOrderArray& order, size_t* written) {
  TPassFiles files;
  if (!OpenPassFiles(sourceFile, resultFile, files)) return false;

  TShipmentList list;
  bool ok;
  {
    // Held only until every shipment has its keys.
    TKeyDeriver keys(provinces, order);
    const TFieldPlan plan(keys.Fields());
    if (files.mapped) {
      ok = ReadMappedHeaders(files, keys, plan, order, list);
    } else {
      keys.PrepareZones();
      TFieldReader r(*files.source);
      ReadHeaders(r, plan, list, [] { return true; });
      ok = files.size >= 0 && files.size == r.Position;  // a read that failed before the end
      if (ok) DeriveAllKeys(keys, plan, order, list);
    }
  }
  const std::vector<uint32_t> sorted = ok ? SortByKeys(list, order.Reverse) : std::vector<uint32_t>();
  std::string().swap(list.data);

  TResultFile out(resultFile, *files.result);
  plat::File* temp = nullptr;
  if (ok) {
    temp = out.Begin();
    ok = temp != nullptr;
  }
  if (ok && !list.items.empty()) ok = CopyInOrder(files, list.items, sorted, *temp);
  ok = Commit(files, sourceFile, out, temp, ok);
  if (written) *written = ok ? list.items.size() : 0;
  return ok;
}
