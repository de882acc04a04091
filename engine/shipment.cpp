// Shipment-file sequencing: ORDER.TXT rewritten with its shipment blocks in
// sorted order, every byte of a block copied unchanged.
#include <algorithm>
#include <cstring>

#include "engine/uSequncr.h"
#include "platform/file.h"
#include "platform/text.h"

namespace {
constexpr size_t kBufSize = 1 << 16;
constexpr int kFieldLimit = 255;
constexpr size_t kCopyChunk = 1 << 20;
constexpr int64_t kWindow = 64 << 20;
}  // namespace

TFieldReader::TFieldReader(plat::File& file)
    : file_(file), buf_(std::make_unique<unsigned char[]>(kBufSize)) {}

bool TFieldReader::Fill() {
  pos_ = 0;
  len_ = file_.Read(buf_.get(), kBufSize);
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

// Reads one field; out == nullptr drops it. n counts the characters of the
// field as they stand in the line (an opening quote is the first of them).
bool TFieldReader::ReadFieldImpl(std::string* out) {
  const int first = NextChar();
  if (first < 0 || first == ',') return true;
  const bool quoted = first == '"';
  const int term = quoted ? '"' : ',';
  int n = 1;
  if (!quoted && out) out->push_back(static_cast<char>(first));
  while (!AtEnd && !AtLineEnd) {
    const int c = NextChar();
    if (c < 0) break;
    ++n;
    if (c != term) {
      if (out && n <= kFieldLimit) out->push_back(static_cast<char>(c));
      continue;
    }
    if (!quoted) break;
    const int next = NextChar();
    if (next < 0) break;
    ++n;
    if (next == ',') break;
    // A quote inside a quoted field stays, with the character after it.
    if (out && n <= kFieldLimit - 1) {
      out->push_back('"');
      out->push_back(static_cast<char>(next));
    }
  }
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
  enum { Start, Plain, Quoted, AfterQuote } state = Start;
  while (n > 0 && !AtLineEnd && !AtEnd) {
    if (pos_ == len_ && !Fill()) {
      AtEnd = true;
      break;
    }
    const unsigned char* p = buf_.get() + pos_;
    const unsigned char* end = buf_.get() + len_;
    const unsigned char* q = p;
    while (q != end && n > 0) {
      const unsigned char c = *q++;
      if (c == '\n' || c == 0) {
        AtLineEnd = true;
        break;
      }
      if (c == '\r') continue;
      switch (state) {
        case Start:
          if (c == ',') --n;
          else state = c == '"' ? Quoted : Plain;
          break;
        case Plain:
          if (c == ',') {
            state = Start;
            --n;
          }
          break;
        case Quoted:
          if (c == '"') state = AfterQuote;
          break;
        case AfterQuote:  // a quote followed by a comma ends the field
          if (c == ',') {
            state = Start;
            --n;
          } else {
            state = Quoted;
          }
          break;
      }
    }
    Position += q - p;
    pos_ += q - p;
  }
}

void TFieldReader::SkipLine() {
  while (!AtLineEnd && !AtEnd) {
    if (pos_ == len_ && !Fill()) {
      AtEnd = true;
      break;
    }
    const unsigned char* p = buf_.get() + pos_;
    const unsigned char* end = buf_.get() + len_;
    // Line feed or NUL, whichever comes first (memchr scans fast).
    const unsigned char* q = static_cast<const unsigned char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    if (!q) q = end;
    if (const void* nul = std::memchr(p, 0, static_cast<size_t>(q - p))) q = static_cast<const unsigned char*>(nul);
    if (q != end) {
      ++q;
      AtLineEnd = true;
    }
    Position += q - p;
    pos_ += q - p;
  }
}

namespace {

// Appends s so that the concatenation of several encoded texts compares,
// byte by byte, like the texts one after the other: NUL becomes 00 01 and
// every text ends with 00 00, which sorts below any continuation.
void AppendKey(std::string& arena, const std::string& s) {
  for (char c : s) {
    arena.push_back(c);
    if (c == 0) arena.push_back(1);
  }
  arena.push_back(0);
  arena.push_back(0);
}

struct Shipment {
  int64_t origin;   // offset of the header line
  uint64_t keyOff;  // encoded keys in the arena
  uint32_t keyLen;
};

// Builds the sorted result window by window: each window of the result is
// gathered in memory from the blocks (or parts of blocks) that land in it,
// read in source order through one large read buffer, then written out in
// one piece. The result is thus written strictly sequentially and the source
// read in large sequential pieces, with a fixed amount of memory (one window,
// 64 MB, larger only for files past 512 MB so that there are at most eight).
bool CopyBlocks(plat::File& src, plat::File& dst, const std::vector<Shipment>& items,
                const std::vector<uint32_t>& sorted, int64_t size) {
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

  std::vector<char> chunk(kCopyChunk);
  int64_t chunkFrom = -1, chunkTo = -1;  // source range held in chunk (none yet)
  std::vector<char> out;
  for (size_t w = 0; w < windows; ++w) {
    const int64_t w0 = static_cast<int64_t>(w) * window;
    const int64_t w1 = std::min(total, w0 + window);
    out.resize(static_cast<size_t>(w1 - w0));
    for (uint32_t k : parts[w]) {
      // The part of block k that lands in this window, as a source range.
      const int64_t t0 = std::max(at[k], w0);
      const int64_t t1 = std::min(at[k] + blockEnd(k) - items[k].origin, w1);
      int64_t s = items[k].origin + (t0 - at[k]);
      const int64_t sEnd = items[k].origin + (t1 - at[k]);
      while (s < sEnd) {
        if (s < chunkFrom || s >= chunkTo) {
          if (s != chunkTo && !src.Seek(static_cast<uint64_t>(s))) return false;
          const size_t got = src.Read(chunk.data(), chunk.size());
          if (got == 0) return false;  // the file ended inside a block
          chunkFrom = s;
          chunkTo = s + static_cast<int64_t>(got);
        }
        const int64_t e = std::min(sEnd, chunkTo);
        std::memcpy(out.data() + (at[k] + (s - items[k].origin) - w0), chunk.data() + (s - chunkFrom),
                    static_cast<size_t>(e - s));
        s = e;
      }
    }
    if (!dst.Write(out.data(), out.size())) return false;
  }
  return true;
}

}  // namespace

bool SequenceShipmentFile(const std::string& sourceFile, const std::string& resultFile,
                          const TProvinceArray& provinces, const TSortOrderArray& order) {
  if (!plat::FileExists(sourceFile)) return false;
  auto src = plat::OpenExclusive(sourceFile, plat::OpenMode::ReadWrite);
  if (!src) return false;
  // The exclusive open of the result is the gate: a result that another
  // program holds open is left alone. It is never written in place; the
  // sorted content goes to a temporary file that then replaces it.
  auto result = plat::OpenExclusive(resultFile, plat::OpenMode::WriteOnly);
  if (!result) {
    src->Close();
    return false;
  }

  TKeyDeriver keys(provinces, order);
  keys.PrepareZones();
  const TFieldsInUse& used = keys.Fields();
  const bool derive = used.Zone() || used[sfProvinceLocation];
  auto need = [&](TSortField f) {
    return used[f] || (derive && (f == sfPostalCode || f == sfProvinceCode));
  };

  std::vector<Shipment> items;
  std::string arena;
  TItem item;
  TFieldReader r(*src);
  while (!r.AtEnd) {
    const int64_t p = r.Position;
    if (r.ReadField() != "H") {
      r.SkipLine();
      continue;
    }
    for (auto& v : item.Values) v.clear();
    // Every read stops at the end of the header line, so a short header line
    // never takes fields from the line after it and still starts its block.
    // Runs of fields that are not needed are skipped in one go.
    int pending = 0;
    auto field = [&](TSortField f) {
      if (!need(f)) {
        ++pending;
        return;
      }
      r.SkipFields(pending);
      pending = 0;
      item.Values[f] = r.ReadFieldInLine();
    };
    pending = 2;
    field(sfCustomerId);
    field(sfCustomerName);
    pending += 7;
    r.SkipFields(pending);
    pending = 0;
    const bool hasPostal = !r.AtLineEnd && !r.AtEnd;
    field(sfPostalCode);
    field(sfProvinceCode);
    // The keys come from what the line has, also when it ends at 13 or 14.
    if (hasPostal) keys.Derive(item);
    pending += 59;
    for (int f = sfShipmentRef1; f <= sfPackageRef4; ++f) field(static_cast<TSortField>(f));
    r.SkipLine();

    Shipment s{p, arena.size(), 0};
    for (TSortField c : order) AppendKey(arena, item.Values[c]);
    s.keyLen = static_cast<uint32_t>(arena.size() - s.keyOff);
    items.push_back(s);
  }
  const int64_t size = src->Size();
  bool ok = size == r.Position;  // a read that failed before the end

  // Sorted by the first eight key bytes held beside the index, the full keys
  // only for ties there.
  struct SortEntry {
    uint64_t head;
    uint32_t index;
  };
  std::vector<SortEntry> entries(items.size());
  for (uint32_t i = 0; i < entries.size(); ++i) {
    uint64_t head = 0;
    const Shipment& x = items[i];
    for (uint32_t b = 0; b < 8; ++b)
      head = (head << 8) | (b < x.keyLen ? static_cast<unsigned char>(arena[x.keyOff + b]) : 0u);
    entries[i] = {head, i};
  }
  std::stable_sort(entries.begin(), entries.end(), [&](const SortEntry& a, const SortEntry& b) {
    if (a.head != b.head) return a.head < b.head;
    const Shipment& x = items[a.index];
    const Shipment& y = items[b.index];
    const int c = std::memcmp(arena.data() + x.keyOff, arena.data() + y.keyOff, std::min(x.keyLen, y.keyLen));
    return c != 0 ? c < 0 : x.keyLen < y.keyLen;
  });
  std::vector<uint32_t> sorted(items.size());
  for (size_t i = 0; i < sorted.size(); ++i) sorted[i] = entries[i].index;
  std::vector<SortEntry>().swap(entries);
  std::string().swap(arena);

  const std::string tempFile = resultFile + ".vvtmp";
  std::unique_ptr<plat::File> temp;
  if (ok) {
    temp = plat::CreateFile(tempFile);
    ok = temp != nullptr;
  }
  if (ok && !items.empty()) ok = CopyBlocks(*src, *temp, items, sorted, size);
  if (temp) {
    ok = temp->Sync() && ok;
    ok = temp->Close() && ok;
    // The complete result is durable before it replaces the old one, and the
    // source goes only once the result is in place.
    if (ok) ok = plat::RenameReplace(tempFile, resultFile);
    if (!ok) plat::DeleteFile(tempFile);
  }
  result->Close();
  src->Close();
  if (ok) ok = plat::DeleteFile(sourceFile);
  return ok;
}
