#pragma once
// What the files making up Table share among themselves; not for its callers.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os.h"
#include "platform/xbase/table.h"

namespace xbase {

namespace table_detail {

// The table header byte that marks an incomplete transaction.
constexpr int64_t kPendingFlagOffset = 14;

// Equal but for the letter case of ASCII letters.
bool EqualNoCase(std::string_view a, std::string_view b);
// path without its extension.
std::string Stem(const std::string& path);
void CheckTagName(const std::string& name);
std::string Upper(std::string s);

std::string TagsPathFor(const std::string& cdxPath);
void SaveTagDefinitions(const std::string& path, const std::vector<CdxTagHeader>& headers);
// False when there is no whole definitions file.
bool LoadTagDefinitions(const std::string& path, std::vector<CdxTagHeader>& headers);

// Whether another open of the table holds its lock (also on a read-only fd).
bool OtherHoldsLock(plat::os::File& table);

}  // namespace table_detail

// A walk over a tag's stored (ascending) order.
class Table::Walker {
 public:
  virtual ~Walker() = default;
  virtual bool First() = 0;
  virtual bool Last() = 0;
  virtual bool Next() = 0;
  virtual bool Prev() = 0;
  // First entry whose key, on the length of key, is >= key.
  virtual bool Seek(const std::string& key) = 0;
  // First entry >= (key, recno); exact tells whether it is that entry.
  virtual bool Locate(const std::string& key, uint32_t recno, bool& exact) = 0;
  virtual const std::string& Key() const = 0;
  virtual uint32_t Recno() const = 0;
};

}  // namespace xbase
