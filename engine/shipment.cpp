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

void TFieldReader::SkipFields(int n) {
  for (int i = 0; i < n && !AtLineEnd && !AtEnd; ++i) ReadFieldImpl(nullptr);
}

void TFieldReader::SkipLine() {
  while (!AtLineEnd && !AtEnd) {
    if (pos_ == len_ && !Fill()) {
      AtEnd = true;
      break;
    }
    const unsigned char* p = buf_.get() + pos_;
    const unsigned char* end = buf_.get() + len_;
    const unsigned char* q = p;
    while (q != end && *q != '\n' && *q != 0) ++q;
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

// Header-line positions (1-based) of the key texts that come from the file.
struct HeaderField {
  int position;
  TSortField field;
};

bool CopyBlock(plat::File& src, plat::File& dst, int64_t from, int64_t to, std::vector<char>& buf) {
  if (!src.Seek(static_cast<uint64_t>(from))) return false;
  // to < 0: the last block in the file, which runs to its end.
  int64_t left = to < 0 ? INT64_MAX : to - from;
  while (left > 0) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(buf.size())));
    const size_t got = src.Read(buf.data(), want);
    if (got == 0) return to < 0;
    if (!dst.Write(buf.data(), got)) return false;
    left -= static_cast<int64_t>(got);
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
    auto read = [&](TSortField f) {
      if (need(f)) item.Values[f] = r.ReadFieldInLine();
      else r.SkipFields(1);
    };
    r.SkipFields(2);
    read(sfCustomerId);
    read(sfCustomerName);
    r.SkipFields(7);
    const bool hasPostal = !r.AtLineEnd && !r.AtEnd;
    read(sfPostalCode);
    read(sfProvinceCode);
    // The keys come from what the line has, also when it ends at 13 or 14.
    if (hasPostal) keys.Derive(item);
    r.SkipFields(59);
    for (int f = sfShipmentRef1; f <= sfPackageRef4; ++f) read(static_cast<TSortField>(f));
    r.SkipLine();

    Shipment s{p, arena.size(), 0};
    for (TSortField c : order) AppendKey(arena, item.Values[c]);
    s.keyLen = static_cast<uint32_t>(arena.size() - s.keyOff);
    items.push_back(s);
  }
  const int64_t size = src->Size();
  bool ok = size == r.Position;  // a read that failed before the end

  std::vector<uint32_t> sorted(items.size());
  for (uint32_t i = 0; i < sorted.size(); ++i) sorted[i] = i;
  std::stable_sort(sorted.begin(), sorted.end(), [&](uint32_t a, uint32_t b) {
    const Shipment& x = items[a];
    const Shipment& y = items[b];
    const int c = std::memcmp(arena.data() + x.keyOff, arena.data() + y.keyOff, std::min(x.keyLen, y.keyLen));
    return c != 0 ? c < 0 : x.keyLen < y.keyLen;
  });
  std::string().swap(arena);

  const std::string tempFile = resultFile + ".vvtmp";
  std::unique_ptr<plat::File> temp;
  if (ok) {
    temp = plat::CreateFile(tempFile);
    ok = temp != nullptr;
  }
  if (ok) {
    std::vector<char> buf(kBufSize);
    for (uint32_t i : sorted) {
      const int64_t end = i + 1 < items.size() ? items[i + 1].origin : -1;
      if (!CopyBlock(*src, *temp, items[i].origin, end, buf)) {
        ok = false;  // output stops at the first failed block
        break;
      }
    }
  }
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
