#include "platform/xbase/dbf.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/xbase/error.h"
#include "platform/xbase/io.h"
#include "platform/xbase/undo.h"

namespace xbase {

namespace {

using io::Get16;
using io::Get32;
using io::OsError;
using io::Put16;
using io::Put32;
using io::ReadAll;
using io::WriteAll;
using plat::os::Os;

bool KnownVersion(uint8_t v) {
  static const uint8_t known[] = {0x03, 0x04, 0x05, 0x30, 0x31, 0x32, 0x43, 0x63,
                                  0x83, 0x8B, 0x8E, 0xCB, 0xE5, 0xF5, 0xFB};
  return std::find(std::begin(known), std::end(known), v) != std::end(known);
}

bool IsVisualFoxPro(uint8_t v) { return v == 0x30 || v == 0x31 || v == 0x32; }

std::string_view TrimView(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= 32) s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32) s.remove_suffix(1);
  return s;
}

// Parses a whole text as a number; false when it is not one.
bool ParseNumber(std::string_view text, double& out) {
  std::string t(TrimView(text));
  if (t.empty()) {
    out = 0;
    return true;
  }
  char* end = nullptr;
  errno = 0;
  out = std::strtod(t.c_str(), &end);
  if (end == t.c_str() || *end != '\0' || !std::isfinite(out)) return false;
  return true;
}

double LenientNumber(std::string_view text) {
  std::string t(TrimView(text));
  if (t.empty()) return 0;
  double v = std::strtod(t.c_str(), nullptr);
  return std::isfinite(v) ? v : 0;
}

// digits: |v| in fixed notation. Cut after dec decimals and rounded half away
// from zero on those digits alone, so no binary arithmetic can move a value
// across the half.
std::string RoundDigits(std::string_view digits, int dec, bool negative) {
  size_t dot = digits.find('.');
  if (dot == std::string_view::npos) dot = digits.size();
  std::string out(digits.substr(0, dot));
  std::string frac(dot < digits.size() ? digits.substr(dot + 1) : std::string_view());
  frac.resize(static_cast<size_t>(dec) + 1, '0');
  const bool up = frac.back() >= '5';
  frac.pop_back();
  if (dec > 0) out += '.' + frac;
  if (up) {
    size_t i = out.size();
    for (; i > 0; --i) {
      char& c = out[i - 1];
      if (c == '.') continue;
      if (c != '9') {
        ++c;
        break;
      }
      c = '0';
    }
    if (i == 0) out.insert(out.begin(), '1');
  }
  if (negative) out.insert(out.begin(), '-');
  return out;
}

// A numeric text typed by a caller is rounded on the shortest decimal that
// reads back as its value, so "2.675" stays the 2.675 that was meant.
std::string FormatTyped(double v, int dec) {
  if (!std::isfinite(v)) return FormatFixed(v, dec);
  char buf[400];
  auto r = std::to_chars(buf, buf + sizeof buf, std::fabs(v), std::chars_format::fixed);
  if (r.ec != std::errc()) return FormatFixed(v, dec);
  return RoundDigits(std::string_view(buf, static_cast<size_t>(r.ptr - buf)), std::max(dec, 0), std::signbit(v));
}

void CheckName(const std::string& name) {
  if (name.empty() || name.size() > 10) throw XBaseError("Field name \"" + name + "\" must have 1 to 10 characters");
  for (size_t i = 0; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    bool ok = std::isalpha(c) || c == '_' || (i > 0 && std::isdigit(c));
    if (!ok || c > 127) throw XBaseError("Field name \"" + name + "\" holds a character that is not allowed");
  }
}

// Today in the local zone, as the header's last-update date stores it
// (year since 1900 modulo 100, month, day); zeros when the zone is unknown.
void Today(unsigned char ymd[3]) {
  std::tm tm {};
  if (!Os().LocalTime(std::chrono::system_clock::to_time_t(Os().Now()), &tm)) tm = std::tm{};
  ymd[0] = static_cast<unsigned char>(tm.tm_year % 100);
  ymd[1] = static_cast<unsigned char>(tm.tm_mon + 1);
  ymd[2] = static_cast<unsigned char>(tm.tm_mday);
}

}  // namespace

std::string FormatFixed(double v, int dec) {
  dec = std::max(dec, 0);
  if (!std::isfinite(v)) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", std::min(dec, 20), v);
    return buf;
  }
  // A finite double has no more decimals than binary digits after its point,
  // so this many decimals print |v| exactly.
  int exp = 0;
  std::frexp(v, &exp);
  const int exact = std::max(dec + 1, 53 - exp);
  std::string buf(static_cast<size_t>(exact) + 320, '\0');
  auto r = std::to_chars(buf.data(), buf.data() + buf.size(), std::fabs(v), std::chars_format::fixed, exact);
  return RoundDigits(std::string_view(buf.data(), static_cast<size_t>(r.ptr - buf.data())), dec, std::signbit(v));
}

long DateToJulian(int y, int m, int d) {
  if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1) return 0;
  static const int mdays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  int maxd = mdays[m - 1] + (m == 2 && leap ? 1 : 0);
  if (d > maxd) return 0;
  long a = (14 - m) / 12;
  long yy = y + 4800 - a;
  long mm = m + 12 * a - 3;
  return d + (153 * mm + 2) / 5 + 365 * yy + yy / 4 - yy / 100 + yy / 400 - 32045;
}

void JulianToDate(long j, int& year, int& month, int& day) {
  long a = j + 32044;
  long b = (4 * a + 3) / 146097;
  long c = a - 146097 * b / 4;
  long d = (4 * c + 3) / 1461;
  long e = c - 1461 * d / 4;
  long m = (5 * e + 2) / 153;
  day = static_cast<int>(e - (153 * m + 2) / 5 + 1);
  month = static_cast<int>(m + 3 - 12 * (m / 10));
  year = static_cast<int>(100 * b + d - 4800 + m / 10);
}

long DateTextToJulian(std::string_view s) {
  if (s.size() < 8) return 0;
  int v[3] = {0, 0, 0};
  const int widths[3] = {4, 2, 2};
  size_t pos = 0;
  for (int k = 0; k < 3; ++k) {
    for (int i = 0; i < widths[k]; ++i, ++pos) {
      char c = s[pos];
      if (c < '0' || c > '9') return 0;
      v[k] = v[k] * 10 + (c - '0');
    }
  }
  return DateToJulian(v[0], v[1], v[2]);
}

std::string JulianToDateText(long julian) {
  if (julian <= 0) return std::string(8, ' ');
  int y, m, d;
  JulianToDate(julian, y, m, d);
  if (y < 0 || y > 9999) return std::string(8, ' ');
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", y, m, d);
  return buf;
}

Dbf::~Dbf() = default;

std::unique_ptr<Dbf> Dbf::Open(const std::string& nativePath, bool readOnly) {
  std::unique_ptr<Dbf> t(new Dbf);
  t->path_ = nativePath;
  // Opening never waits, so a FIFO or device under the table's name cannot
  // hang it; what it is shows below.
  plat::os::OpenRequest how;
  if (!readOnly) {
    how.access = plat::os::Access::ReadWrite;
    t->file_ = Os().Open(nativePath, how);
    const plat::os::Fail why = plat::os::LastError().kind;
    if (!t->file_ && why != plat::os::Fail::Denied && why != plat::os::Fail::ReadOnly)
      throw XBaseError(OsError("Cannot open", nativePath));
  }
  if (!t->file_) {
    how.access = plat::os::Access::Read;
    t->file_ = Os().Open(nativePath, how);
    if (!t->file_) throw XBaseError(OsError("Cannot open", nativePath));
    readOnly = true;
  }
  t->readOnly_ = readOnly;
  plat::os::FileInfo info;
  if (!t->file_->Info(&info)) throw XBaseError(OsError("Cannot examine", nativePath));
  if (info.kind != plat::os::Kind::Plain) throw XBaseError(nativePath + " is not a regular file");
  t->Parse(info.size);
  return t;
}

void Dbf::Parse(uint64_t fileSize) {
  const std::string bad = "Damaged table " + path_ + ": ";
  if (fileSize < 32) throw XBaseError(bad + "the file is shorter than a table header");
  unsigned char h[32];
  ReadAll(*file_, h, 32, 0, path_);
  version_ = h[0];
  if (!KnownVersion(version_)) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "unknown version byte 0x%02X", version_);
    throw XBaseError(bad + buf);
  }
  headerLen_ = Get16(h + 8);
  recordLen_ = Get16(h + 10);
  flags_ = h[28];
  if (headerLen_ < 32 + 32 + 1 || static_cast<uint64_t>(headerLen_) > fileSize)
    throw XBaseError(bad + "header length " + std::to_string(headerLen_) + " does not fit the file");
  std::string hdr(static_cast<size_t>(headerLen_), '\0');
  ReadAll(*file_, hdr.data(), hdr.size(), 0, path_);
  const auto* p = reinterpret_cast<const unsigned char*>(hdr.data());
  int pos = 32;
  int offset = 1;
  bool terminated = false;
  while (pos < headerLen_) {
    if (p[pos] == 0x0D) {
      terminated = true;
      break;
    }
    if (pos + 32 > headerLen_) throw XBaseError(bad + "a field descriptor runs past the header");
    DbfField f;
    const char* name = reinterpret_cast<const char*>(p + pos);
    f.name.assign(name, strnlen(name, 11));
    f.type = static_cast<char>(std::toupper(p[pos + 11]));
    f.len = p[pos + 16];
    f.dec = p[pos + 17];
    if (f.type == 'C' && !IsVisualFoxPro(version_) && f.dec > 0) {
      // Long character fields keep the high byte of the length in the decimals byte.
      f.len += f.dec * 256;
      f.dec = 0;
    }
    for (auto& c : f.name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::string fieldDesc = "field " + std::to_string(fields_.size() + 1) + " (" + f.name + ")";
    if (f.len <= 0) throw XBaseError(bad + fieldDesc + " has length 0");
    switch (f.type) {
      case 'C': case 'V': case 'Q': case '0': case 'G': case 'W': case 'M': case 'P':
        break;
      case 'N': case 'F':
        if (f.len > 32 || f.dec >= f.len) throw XBaseError(bad + fieldDesc + " has an impossible size");
        break;
      case 'D': case 'I': case 'B': case 'Y': case 'T': case 'L': {
        int need = f.type == 'D' ? 8 : f.type == 'I' ? 4 : f.type == 'L' ? 1 : 8;
        if (f.len != need) throw XBaseError(bad + fieldDesc + " has an impossible length");
        break;
      }
      default:
        throw XBaseError(bad + fieldDesc + " has the unsupported type '" + std::string(1, f.type) + "'");
    }
    f.offset = offset;
    offset += f.len;
    fields_.push_back(std::move(f));
    pos += 32;
  }
  if (!terminated) throw XBaseError(bad + "the field list is not terminated inside the header");
  if (fields_.empty()) throw XBaseError(bad + "the table has no fields");
  if (offset != recordLen_)
    throw XBaseError(bad + "record length " + std::to_string(recordLen_) + " does not match the fields (" +
                     std::to_string(offset) + ")");
  uint32_t count = Get32(h + 4);
  const int64_t room = static_cast<int64_t>((fileSize - static_cast<uint64_t>(headerLen_)) / static_cast<uint64_t>(recordLen_));
  // A count a few records ahead is an append in progress; reads stop at the
  // last whole record.
  if (count > room + kAppendsInFlight)
    throw XBaseError(bad + "the header counts " + std::to_string(count) + " records but the file holds " +
                     std::to_string(room));
}

int Dbf::FieldIndex(std::string_view name) const {
  for (size_t i = 0; i < fields_.size(); ++i) {
    const std::string& n = fields_[i].name;
    if (n.size() != name.size()) continue;
    bool eq = true;
    for (size_t k = 0; k < n.size() && eq; ++k)
      eq = std::toupper(static_cast<unsigned char>(name[k])) == static_cast<unsigned char>(n[k]);
    if (eq) return static_cast<int>(i);
  }
  return -1;
}

// Whole records the file holds now.
static int64_t RecordRoom(uint64_t fileSize, int headerLen, int recordLen) {
  const auto head = static_cast<uint64_t>(headerLen);
  return fileSize > head ? static_cast<int64_t>((fileSize - head) / static_cast<uint64_t>(recordLen)) : 0;
}

uint32_t Dbf::RecordCount() const {
  unsigned char b[4];
  ReadAll(*file_, b, 4, 4, path_);
  uint32_t count = Get32(b);
  const int64_t room = RecordRoom(io::SizeOf(*file_, path_), headerLen_, recordLen_);
  return count > room ? static_cast<uint32_t>(room) : count;
}

bool Dbf::MayBeAppending(uint32_t recno) const {
  unsigned char b[4];
  ReadAll(*file_, b, 4, 4, path_);
  const int64_t room = RecordRoom(io::SizeOf(*file_, path_), headerLen_, recordLen_);
  const int64_t known = std::max<int64_t>(Get32(b), room);
  return recno > room && recno <= known + kAppendsInFlight;
}

bool Dbf::ReadRecord(uint32_t recno, std::string& buf) const { return ReadRecords(recno, 1, buf); }

bool Dbf::ReadRecords(uint32_t first, uint32_t n, std::string& buf) const {
  if (first == 0) return false;
  buf.resize(static_cast<size_t>(n) * static_cast<size_t>(recordLen_));
  const uint64_t off = static_cast<uint64_t>(headerLen_) + static_cast<uint64_t>(first - 1) * recordLen_;
  size_t got = 0;
  return file_->ReadAt(off, buf.data(), buf.size(), &got) && got == buf.size();
}

void Dbf::CheckWritable() {
  if (readOnly_) throw XBaseError("The table " + path_ + " is open read-only");
  if (undoPending_) {
    try {
      Restore();
    } catch (const XBaseError& e) {
      throw XBaseError("The table " + path_ + " could not be put back as it was before a failed pack: " + e.what());
    }
  }
}

void Dbf::WriteRecord(uint32_t recno, const std::string& buf) {
  CheckWritable();
  if (recno == 0 || buf.size() != static_cast<size_t>(recordLen_)) throw XBaseError("Bad record write on " + path_);
  WriteAll(*file_, buf.data(), buf.size(), headerLen_ + static_cast<uint64_t>(recno - 1) * recordLen_, path_);
}

uint32_t Dbf::AppendRecord(const std::string& buf) {
  CheckWritable();
  uint32_t recno = RecordCount() + 1;
  std::string out = buf;
  out.push_back('\x1A');
  WriteAll(*file_, out.data(), out.size(), headerLen_ + static_cast<uint64_t>(recno - 1) * recordLen_, path_);
  WriteHeaderCount(recno, false);
  return recno;
}

std::string Dbf::BlankRecord() const {
  std::string rec(static_cast<size_t>(recordLen_), ' ');
  for (const auto& f : fields_) {
    if (f.type == 'I' || f.type == 'B' || f.type == 'Y' || f.type == 'T' || f.type == '0' || f.type == 'Q' ||
        ((f.type == 'M' || f.type == 'G' || f.type == 'W') && f.len == 4))
      std::fill(rec.begin() + f.offset, rec.begin() + f.offset + f.len, '\0');
  }
  return rec;
}

std::string_view Dbf::RawField(const std::string& rec, int field) const {
  const DbfField& f = fields_.at(static_cast<size_t>(field));
  if (rec.size() < static_cast<size_t>(f.offset + f.len)) return {};
  return std::string_view(rec).substr(static_cast<size_t>(f.offset), static_cast<size_t>(f.len));
}

std::string Dbf::FieldText(const std::string& rec, int field) const {
  const DbfField& f = fields_.at(static_cast<size_t>(field));
  std::string_view raw = RawField(rec, field);
  if (raw.empty()) return {};
  const auto* p = reinterpret_cast<const unsigned char*>(raw.data());
  switch (f.type) {
    case 'M': case 'G': case 'W': case 'P': case '0':
      return {};
    case 'I':
      return std::to_string(static_cast<int32_t>(Get32(p)));
    case 'B': {
      double v;
      std::memcpy(&v, p, 8);
      return FormatFixed(v, f.dec);
    }
    case 'Y': {
      int64_t v;
      std::memcpy(&v, p, 8);
      return FormatFixed(static_cast<double>(v) / 10000.0, 4);
    }
    case 'T': {
      int32_t day = static_cast<int32_t>(Get32(p));
      int32_t ms = static_cast<int32_t>(Get32(p + 4));
      if (day <= 0) return std::string(14, ' ');
      std::string s = JulianToDateText(day);
      char buf[16];
      int secs = ms / 1000;
      std::snprintf(buf, sizeof buf, "%02d%02d%02d", (secs / 3600) % 100, (secs / 60) % 60, secs % 60);
      return s + buf;
    }
    default:
      return std::string(raw);
  }
}

double Dbf::FieldNumber(const std::string& rec, int field) const {
  const DbfField& f = fields_.at(static_cast<size_t>(field));
  std::string_view raw = RawField(rec, field);
  if (raw.empty()) return 0;
  const auto* p = reinterpret_cast<const unsigned char*>(raw.data());
  switch (f.type) {
    case 'I':
      return static_cast<int32_t>(Get32(p));
    case 'B': {
      double v;
      std::memcpy(&v, p, 8);
      return std::isfinite(v) ? v : 0;
    }
    case 'Y': {
      int64_t v;
      std::memcpy(&v, p, 8);
      return static_cast<double>(v) / 10000.0;
    }
    case 'T': {
      int32_t day = static_cast<int32_t>(Get32(p));
      int32_t ms = static_cast<int32_t>(Get32(p + 4));
      return day + ms / 86400000.0;
    }
    case 'D':
      return static_cast<double>(DateTextToJulian(raw));
    case 'L':
      return (raw[0] == 'T' || raw[0] == 't' || raw[0] == 'Y' || raw[0] == 'y') ? 1 : 0;
    case 'M': case 'G': case 'W': case 'P': case '0':
      return 0;
    default:
      return LenientNumber(raw);
  }
}

void Dbf::SetField(std::string& rec, int field, std::string_view text) const {
  const DbfField& f = fields_.at(static_cast<size_t>(field));
  if (rec.size() != static_cast<size_t>(recordLen_)) throw XBaseError("Bad record buffer for " + path_);
  char* dst = rec.data() + f.offset;
  auto fail = [&](const std::string& why) {
    throw XBaseError("Cannot store \"" + std::string(text) + "\" in field " + f.name + ": " + why);
  };
  switch (f.type) {
    case 'C': case 'V': case 'D': {
      size_t n = std::min(text.size(), static_cast<size_t>(f.len));
      std::memcpy(dst, text.data(), n);
      std::memset(dst + n, ' ', static_cast<size_t>(f.len) - n);
      return;
    }
    case 'N': case 'F': {
      double v;
      if (!ParseNumber(text, v)) fail("not a number");
      if (TrimView(text).empty()) {
        std::memset(dst, ' ', static_cast<size_t>(f.len));
        return;
      }
      std::string s = FormatTyped(v, f.dec);
      if (s.size() > static_cast<size_t>(f.len)) fail("the number does not fit the field's width");
      std::memset(dst, ' ', static_cast<size_t>(f.len));
      std::memcpy(dst + f.len - s.size(), s.data(), s.size());
      return;
    }
    case 'L': {
      std::string_view t = TrimView(text);
      if (t.size() >= 3 && t.front() == '.' && t.back() == '.') t = t.substr(1, t.size() - 2);
      char c = t.empty() ? ' ' : static_cast<char>(std::toupper(static_cast<unsigned char>(t[0])));
      if (c == 'Y') c = 'T';
      if (c == 'N') c = 'F';
      if (c != 'T' && c != 'F' && c != ' ' && c != '?') fail("not a logical value");
      *dst = c;
      return;
    }
    case 'I': {
      double v;
      if (!ParseNumber(text, v)) fail("not a number");
      v = std::round(v);
      if (v < -2147483648.0 || v > 2147483647.0) fail("out of range");
      Put32(reinterpret_cast<unsigned char*>(dst), static_cast<uint32_t>(static_cast<int32_t>(v)));
      return;
    }
    case 'B': {
      double v;
      if (!ParseNumber(text, v)) fail("not a number");
      std::memcpy(dst, &v, 8);
      return;
    }
    case 'Y': {
      double v;
      if (!ParseNumber(text, v)) fail("not a number");
      if (std::fabs(v) > 9.2e14) fail("out of range");
      int64_t c = static_cast<int64_t>(std::llround(v * 10000.0));
      std::memcpy(dst, &c, 8);
      return;
    }
    case 'T': {
      std::string_view t = TrimView(text);
      int32_t day = 0, ms = 0;
      if (!t.empty()) {
        day = static_cast<int32_t>(DateTextToJulian(t));
        if (day == 0) fail("not a date");
        int hh = 0, mi = 0, ss = 0;
        if (t.size() >= 14) {
          std::string hms(t.substr(8, 6));
          if (std::sscanf(hms.c_str(), "%2d%2d%2d", &hh, &mi, &ss) != 3) fail("not a time");
        }
        ms = ((hh * 60 + mi) * 60 + ss) * 1000;
      }
      Put32(reinterpret_cast<unsigned char*>(dst), static_cast<uint32_t>(day));
      Put32(reinterpret_cast<unsigned char*>(dst + 4), static_cast<uint32_t>(ms));
      return;
    }
    default:
      fail("fields of type '" + std::string(1, f.type) + "' cannot be written");
  }
}

void Dbf::WriteHeaderCount(uint32_t count, bool withDate) {
  unsigned char b[8];
  if (withDate) {
    unsigned char d[3];
    Today(d);
    WriteAll(*file_, d, 3, 1, path_);
  }
  Put32(b, count);
  WriteAll(*file_, b, 4, 4, path_);
}

void Dbf::WriteEofMark(uint32_t count) {
  const uint64_t end = headerLen_ + static_cast<uint64_t>(count) * recordLen_;
  // Cut first: when the cut fails, the mark must not land on a record that is
  // still in the file (it would overwrite that record's deleted flag).
  if (!file_->Truncate(end)) throw XBaseError(OsError("Cannot truncate", path_));
  const char eof = '\x1A';
  WriteAll(*file_, &eof, 1, end, path_);
}

uint32_t Dbf::RemoveIf(bool (*drop)(void*, uint32_t, const std::string&), void* ctx) {
  CheckWritable();
  uint32_t count = RecordCount();
  const size_t chunkRecs = std::max<size_t>(1, (1 << 20) / static_cast<size_t>(recordLen_));
  const std::string undo = UndoPathFor(path_);
  std::string in, out, rec;
  uint32_t kept = 0;
  bool saved = false;
  try {
    for (uint32_t first = 1; first <= count; first += static_cast<uint32_t>(chunkRecs)) {
      uint32_t n = static_cast<uint32_t>(std::min<size_t>(chunkRecs, count - first + 1));
      in.resize(static_cast<size_t>(n) * recordLen_);
      ReadAll(*file_, in.data(), in.size(), headerLen_ + static_cast<uint64_t>(first - 1) * recordLen_, path_);
      out.clear();
      uint32_t inPlace = 0;  // leading kept records of the chunk that do not move
      for (uint32_t i = 0; i < n; ++i) {
        rec.assign(in, static_cast<size_t>(i) * recordLen_, static_cast<size_t>(recordLen_));
        if (drop(ctx, first + i, rec)) {
          // Everything from the first removed record on may be rewritten.
          if (!saved) SaveUndo(undo, *file_, path_, headerLen_ + static_cast<int64_t>(first - 1 + i) * recordLen_);
          saved = true;
          continue;
        }
        if (kept + inPlace == first - 1 + i && out.empty()) {
          ++inPlace;
          continue;
        }
        out += rec;
      }
      kept += inPlace;
      // Kept records only ever move down, so writing behind the read position
      // is safe; those before the first removed one are not rewritten at all.
      // The chunk's places behind the kept records are marked deleted, so that
      // the table reads as packed before its count is cut and no record is
      // there twice.
      const uint32_t end = kept + static_cast<uint32_t>(out.size() / static_cast<size_t>(recordLen_));
      const uint32_t from = std::max(end, first - 1);
      std::string tail;
      bool marks = false;  // a place behind is not marked yet
      for (uint32_t pos = from; pos < first - 1 + n; ++pos) {
        tail.append(in, static_cast<size_t>(pos - (first - 1)) * recordLen_, static_cast<size_t>(recordLen_));
        char& flag = tail[tail.size() - static_cast<size_t>(recordLen_)];
        marks = marks || flag != '*';
        flag = '*';
      }
      if (out.empty()) {
        if (marks) WriteAll(*file_, tail.data(), tail.size(), headerLen_ + static_cast<uint64_t>(from) * recordLen_, path_);
        kept = end;
        continue;
      }
      if (from == end) {
        out += tail;
        tail.clear();
      }
      WriteAll(*file_, out.data(), out.size(), headerLen_ + static_cast<uint64_t>(kept) * recordLen_, path_);
      if (!tail.empty())
        WriteAll(*file_, tail.data(), tail.size(), headerLen_ + static_cast<uint64_t>(from) * recordLen_, path_);
      kept = end;
    }
    if (!saved) {
      WriteHeaderCount(kept, true);
      WriteEofMark(kept);
      return 0;
    }
    // Every place from the new count on is marked deleted by now, so the
    // table already reads as packed: the undo file goes before the count is
    // cut. Once the count is cut, another program may append behind it, and
    // putting the old bytes back would overwrite what it wrote.
    io::Sync(*file_, path_);
    DiscardUndo(undo);
  } catch (...) {
    // Back to the records as they were; when even that fails, the undo file
    // stays, every later write tries again first, and so does the next open.
    if (saved) {
      try {
        ApplyUndo(undo, *file_, path_);
      } catch (const XBaseError&) {
        undoPending_ = true;
      }
    }
    throw;
  }
  // Tidying up: should it fail, the removed records stay in the file marked
  // deleted (the next pack takes them), and the remove has still happened.
  bool counted = false;
  try {
    WriteHeaderCount(kept, true);
    counted = true;
  } catch (const XBaseError&) {
  }
  if (counted) {
    // The new count is on the disk before the file is cut: a file cut short
    // of the count it states does not open. A failed sync is reported.
    io::Sync(*file_, path_);
    try {
      WriteEofMark(kept);
    } catch (const XBaseError&) {
    }
  }
  return count - kept;
}

void Dbf::Restore() {
  ApplyUndo(UndoPathFor(path_), *file_, path_);
  undoPending_ = false;
  const uint64_t size = io::SizeOf(*file_, path_);
  fields_.clear();
  Parse(size);
}

uint32_t Dbf::Zap(uint32_t first, uint32_t last) {
  return Remove([&](uint32_t r, const std::string&) { return r >= first && r <= last; });
}

uint32_t Dbf::Pack() {
  return Remove([](uint32_t, const std::string& rec) { return IsDeleted(rec); });
}

void Dbf::SetIndexFlag(bool on) {
  CheckWritable();
  flags_ = static_cast<uint8_t>(on ? (flags_ | 0x01) : (flags_ & ~0x01));
  WriteAll(*file_, &flags_, 1, 28, path_);
}

void Dbf::Flush() {
  if (readOnly_) return;
  CheckWritable();
  uint32_t count = RecordCount();
  WriteHeaderCount(count, true);
  const uint64_t end = headerLen_ + static_cast<uint64_t>(count) * recordLen_;
  char c = 0;
  size_t got = 0;
  if (!file_->ReadAt(end, &c, 1, &got) || got != 1 || c != '\x1A') WriteEofMark(count);
  // Callers rely on what they wrote being on the disk once this returns (a
  // printed label's mark, say): a sync that fails is their failure too.
  io::Sync(*file_, path_);
}

std::unique_ptr<Dbf> Dbf::Create(const std::string& nativePath, const std::vector<DbfFieldDef>& defs, bool hasIndex) {
  if (defs.empty()) throw XBaseError("A table needs at least one field");
  if (defs.size() > 254) throw XBaseError("A table may have at most 254 fields");
  bool memo = false;
  std::vector<DbfField> fields;
  int offset = 1;
  for (const auto& d : defs) {
    DbfField f;
    f.name = d.name;
    for (auto& c : f.name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    CheckName(f.name);
    for (const auto& g : fields)
      if (g.name == f.name) throw XBaseError("Field name " + f.name + " is used twice");
    f.type = static_cast<char>(std::toupper(static_cast<unsigned char>(d.type)));
    f.len = d.len;
    f.dec = d.dec;
    std::string what = "Field " + f.name + ": ";
    switch (f.type) {
      case 'C':
        if (f.len < 1 || f.len > 254) throw XBaseError(what + "character fields hold 1 to 254 characters");
        f.dec = 0;
        break;
      case 'N': case 'F':
        if (f.len < 1 || f.len > 20) throw XBaseError(what + "numeric fields are 1 to 20 wide");
        if (f.dec < 0 || (f.dec > 0 && f.dec > f.len - 2)) throw XBaseError(what + "too many decimals for the width");
        break;
      case 'D': f.len = 8; f.dec = 0; break;
      case 'L': f.len = 1; f.dec = 0; break;
      case 'I': f.len = 4; f.dec = 0; break;
      case 'B': f.len = 8; if (f.dec < 0 || f.dec > 18) f.dec = 0; break;
      case 'Y': f.len = 8; f.dec = 4; break;
      case 'T': f.len = 8; f.dec = 0; break;
      case 'M': f.len = 10; f.dec = 0; memo = true; break;
      default:
        throw XBaseError(what + "unsupported type '" + std::string(1, f.type) + "'");
    }
    f.offset = offset;
    offset += f.len;
    fields.push_back(std::move(f));
  }
  if (offset > 65535) throw XBaseError("The record is too long");
  // A memo field needs a memo file; FoxPro's layout (version 0xF5, empty .fpt).
  uint8_t version = memo ? 0xF5 : 0x03;
  int headerLen = 32 + 32 * static_cast<int>(fields.size()) + 1;
  std::string hdr(static_cast<size_t>(headerLen) + 1, '\0');
  auto* h = reinterpret_cast<unsigned char*>(hdr.data());
  h[0] = version;
  Today(h + 1);
  Put16(h + 8, static_cast<uint32_t>(headerLen));
  Put16(h + 10, static_cast<uint32_t>(offset));
  h[28] = hasIndex ? 0x01 : 0x00;
  for (size_t i = 0; i < fields.size(); ++i) {
    unsigned char* d = h + 32 + 32 * i;
    std::memcpy(d, fields[i].name.data(), fields[i].name.size());
    d[11] = static_cast<unsigned char>(fields[i].type);
    Put32(d + 12, static_cast<uint32_t>(fields[i].offset));
    d[16] = static_cast<unsigned char>(fields[i].len);
    d[17] = static_cast<unsigned char>(fields[i].dec);
  }
  h[headerLen - 1] = 0x0D;
  h[headerLen] = 0x1A;

  plat::os::OpenRequest how;
  how.access = plat::os::Access::ReadWrite;
  how.disposition = plat::os::Disposition::CreateNew;
  std::unique_ptr<Dbf> t(new Dbf);
  t->file_ = Os().Open(nativePath, how);
  if (!t->file_) throw XBaseError(OsError("Cannot create", nativePath));
  t->path_ = nativePath;
  try {
    WriteAll(*t->file_, hdr.data(), hdr.size(), 0, nativePath);
    if (memo) {
      std::string fpt = nativePath.substr(0, nativePath.size() >= 4 ? nativePath.size() - 4 : nativePath.size()) + ".fpt";
      std::string mh(512, '\0');
      mh[3] = 8;   // next free block (big-endian), after the 512-byte header
      mh[7] = 64;  // block size (big-endian)
      plat::os::OpenRequest memoHow;
      memoHow.access = plat::os::Access::Write;
      memoHow.disposition = plat::os::Disposition::CreateOrTruncate;
      std::unique_ptr<plat::os::File> memoFile = Os().Open(fpt, memoHow);
      if (!memoFile) throw XBaseError(OsError("Cannot create", fpt));
      if (!memoFile->WriteAt(0, mh.data(), mh.size())) throw XBaseError(OsError("Cannot write", fpt));
    }
  } catch (...) {
    t.reset();  // closed first: some systems remove no open file
    Os().Remove(nativePath);
    throw;
  }
  t->version_ = version;
  t->flags_ = h[28];
  t->headerLen_ = headerLen;
  t->recordLen_ = offset;
  t->fields_ = std::move(fields);
  return t;
}

}  // namespace xbase
