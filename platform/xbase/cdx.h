#pragma once
// Compound index files (.cdx, FoxPro layout): reading the tag directory and each
// tag's B-tree, walking and seeking in stored order, and writing a whole index
// file from sorted key lists. Key texts here are raw key bytes of exactly the
// tag's key length (character keys padded with blanks, numeric and date keys as
// 8 byte-sortable bytes). The table layer compiles the expressions and decides
// what a key means; this layer only stores and finds bytes.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace xbase {

// Raised for corrupt or unsupported files; the text says what and where.
class XBaseError;  // platform/xbase/error.h

struct CdxTagHeader {
  std::string name;    // as stored (upper case)
  std::string expr;    // key expression text
  std::string filter;  // FOR expression text, "" when none
  int keyLen = 0;
  bool unique = false;
  bool descending = false;   // stored ascending, walked backwards by the caller
  bool machineCollation = true;  // false: another collation (read in stored order only)
  std::string collation;     // collation name as stored ("" = machine)
};

struct CdxEntry {
  std::string key;   // keyLen bytes
  uint32_t recno;    // 1-based record number
};

// Sortable 8-byte encodings used by numeric (N, F, I, B, Y) and date keys.
std::string EncodeNumericKey(double value);
double DecodeNumericKey(const std::string& key8);

class CdxCursor {
 public:
  virtual ~CdxCursor() = default;
  // Each returns false when there is no entry there (cursor then invalid).
  virtual bool First() = 0;
  virtual bool Last() = 0;
  virtual bool Next() = 0;
  virtual bool Prev() = 0;
  // Positions on the first entry whose key is >= key (key may be shorter than
  // keyLen; it is compared on its own length, so a shorter key finds the first
  // entry it is a prefix of). False when every key is smaller.
  virtual bool Seek(const std::string& key) = 0;
  virtual const std::string& Key() const = 0;
  virtual uint32_t Recno() const = 0;
};

// How long a read waits for another program that is changing an index (and
// a write for its lock byte) before failing with XBaseBusy; 5000 ms unless set.
void SetIndexBusyWait(int milliseconds);
int IndexBusyWait();

class CdxFile {
 public:
  virtual ~CdxFile() = default;
  // Opens and checks the header and the tag directory; raises XBaseError.
  static std::unique_ptr<CdxFile> Open(const std::string& nativePath);

  virtual const std::vector<CdxTagHeader>& Tags() const = 0;
  // Index of the tag by name, case-insensitive; -1 if none.
  virtual int FindTag(const std::string& name) const = 0;
  // Byte that fills trailing-compressed key bytes when leaves are decoded:
  // ' ' for character tags (the default), 0 for numeric and date tags.
  virtual void SetPadByte(int tag, char pad) = 0;
  virtual std::unique_ptr<CdxCursor> OpenCursor(int tag) = 0;
  // Every entry of a tag in stored order (for loading a tag into memory).
  virtual std::vector<CdxEntry> ReadAll(int tag) = 0;
  // Big-endian change counter at bytes 8..11 of the file header.
  virtual uint32_t ChangeCounter() const = 0;
  // Re-reads the counter from the file: true when it no longer matches
  // ChangeCounter(), i.e. some program rewrote the index since it was opened
  // (pages read from now on may not fit the ones read before: reopen).
  virtual bool ChangedOnDisk() const = 0;
};

struct CdxTagData {
  CdxTagHeader header;
  char pad = ' ';
  std::vector<CdxEntry> entries;  // sorted by (key, recno)
};

// The bytes of a complete index file: header, tag directory, each tag's
// B-tree with compact leaves, with the change counter given.
std::vector<uint8_t> BuildCdx(const std::vector<CdxTagData>& tags, uint32_t changeCounter);

// Writes a complete index file in place (the file keeps its identity for other
// programs that have it open), under the index's lock byte. The change counter
// is the one given (callers pass old + 1), or one above the file's when another
// program has counted further meanwhile. Raises XBaseError on failure,
// XBaseBusy when another program holds the lock byte too long.
void WriteCdx(const std::string& nativePath, const std::vector<CdxTagData>& tags, uint32_t changeCounter);

}  // namespace xbase
