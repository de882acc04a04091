#pragma once
// DBF tables (dBase III, FoxPro 2.x and Visual FoxPro layouts): the header and
// field descriptors, record reads and writes, append, pack and zap. Paths here
// are native paths. Every failure raises xbase::XBaseError with a text saying
// what and where; nothing here ever trusts the header without checking it
// against the file.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os.h"

namespace xbase {

struct DbfField {
  std::string name;  // upper case as stored
  char type = 'C';   // C N F D L I B Y T M G W (and V Q 0 read as raw bytes)
  int len = 0;
  int dec = 0;
  int offset = 0;    // in the record, counting the deleted flag byte
};

// A field to create.
struct DbfFieldDef {
  std::string name;
  char type = 'C';
  int len = 0;
  int dec = 0;
};

// Julian day number of a date (the one xBase uses: 2440588 = 1970-01-01).
// 0 when the date is invalid.
long DateToJulian(int year, int month, int day);
void JulianToDate(long julian, int& year, int& month, int& day);
// "YYYYMMDD" -> Julian day, 0 when blank or invalid.
long DateTextToJulian(std::string_view yyyymmdd);
// Julian day -> "YYYYMMDD", 8 blanks for 0 or below.
std::string JulianToDateText(long julian);

// A number in fixed notation with dec decimals, rounded half away from zero
// from its exact binary value (2.675 is 2.67499999... and gives "2.67"), as
// the host's engine writes numeric field text and STR() keys; a negative
// value keeps its minus sign even when it rounds to zero ("-0.00").
std::string FormatFixed(double v, int dec);

class Dbf {
 public:
  ~Dbf();
  Dbf(const Dbf&) = delete;
  Dbf& operator=(const Dbf&) = delete;

  // Opens and checks an existing table; read-write when possible, else
  // read-only (writes then fail).
  static std::unique_ptr<Dbf> Open(const std::string& nativePath, bool readOnly = false);
  // Creates a new table (fails when the file exists): version 0x03, no records.
  static std::unique_ptr<Dbf> Create(const std::string& nativePath, const std::vector<DbfFieldDef>& fields,
                                     bool hasIndex);

  const std::string& Path() const { return path_; }
  const std::vector<DbfField>& Fields() const { return fields_; }
  int FieldIndex(std::string_view name) const;  // case-insensitive; -1 if none
  int RecordLength() const { return recordLen_; }
  int HeaderLength() const { return headerLen_; }
  uint8_t Version() const { return version_; }
  bool IndexFlag() const { return (flags_ & 0x01) != 0; }
  bool ReadOnly() const { return readOnly_; }
  // The open table file (for the table's own header flags and locks).
  plat::os::File& Handle() const { return *file_; }

  // Records in the table, read from the file header each time (another program
  // may have appended), limited to the records the file really holds.
  uint32_t RecordCount() const;
  // Another program's append writes the record and the header count at
  // different moments, so either may run ahead of the other by a few records.
  static constexpr uint32_t kAppendsInFlight = 8;
  // Whether record recno, not whole in the file, may be one that another
  // program is appending right now (rather than one that cannot exist).
  bool MayBeAppending(uint32_t recno) const;

  // Reads record recno (1-based) into buf; false when there is no such record.
  bool ReadRecord(uint32_t recno, std::string& buf) const;
  // Reads n records from first on into buf (n * record length bytes); false
  // when the file holds fewer.
  bool ReadRecords(uint32_t first, uint32_t n, std::string& buf) const;
  void WriteRecord(uint32_t recno, const std::string& buf);
  // Appends a record after the last one; returns its number.
  uint32_t AppendRecord(const std::string& buf);
  std::string BlankRecord() const;

  static bool IsDeleted(const std::string& rec) { return !rec.empty() && rec[0] == '*'; }
  // Raw field bytes of a record.
  std::string_view RawField(const std::string& rec, int field) const;
  // Field as text: character fields as stored, numbers and dates as their
  // text, binary numbers (I B Y T) converted, memo fields empty.
  std::string FieldText(const std::string& rec, int field) const;
  // Field as a number (numeric and binary numeric types, and text parsed as a
  // number for the rest); dates give their Julian day.
  double FieldNumber(const std::string& rec, int field) const;
  // Stores text into the field of rec, padded or cut (character), right-aligned
  // and formatted with the field's decimals (numbers). Raises when the value
  // cannot be stored (a number too wide for the field, a memo field).
  void SetField(std::string& rec, int field, std::string_view text) const;

  // Removes records from the file: every record for which drop(recno, rec) is
  // true; later records move down. Returns the number removed.
  template <class Pred>
  uint32_t Remove(Pred drop);
  // Removes records first..last (clamped to the table).
  uint32_t Zap(uint32_t first, uint32_t last);
  uint32_t Pack();
  // Removes do the change in place under an undo file (see undo.h): a
  // remove that fails leaves the records as they were. Restore puts a
  // table back from an undo file left by a remove that could not be undone
  // at once (another process's, or this one's).
  void Restore();

  void SetIndexFlag(bool on);
  // Writes the header (record count, today's date) and the end-of-file mark.
  void Flush();

 private:
  Dbf() = default;
  void Parse(uint64_t fileSize);
  void WriteHeaderCount(uint32_t count, bool withDate);
  void WriteEofMark(uint32_t count);
  uint32_t RemoveIf(bool (*drop)(void*, uint32_t, const std::string&), void* ctx);
  void CheckWritable();

  std::string path_;
  std::unique_ptr<plat::os::File> file_;
  bool readOnly_ = false;
  bool undoPending_ = false;  // a failed remove is still to be undone
  uint8_t version_ = 0x03;
  uint8_t flags_ = 0;
  int headerLen_ = 0;
  int recordLen_ = 0;
  std::vector<DbfField> fields_;
};

template <class Pred>
uint32_t Dbf::Remove(Pred drop) {
  return RemoveIf([](void* ctx, uint32_t r, const std::string& rec) { return (*static_cast<Pred*>(ctx))(r, rec); },
                  &drop);
}

}  // namespace xbase
