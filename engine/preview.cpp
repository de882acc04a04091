// The shipment preview reads the file as the shipment pass does (the same
// field reader and the same rules for short header lines) so that it shows
// the order the pass will write.
#include "engine/preview.h"

#include <memory>

#include "platform/file.h"

namespace {

// Reads a header line's keys the way the pass does: every read stops at the
// end of the line, and the zone keys come from what the line has.
void ReadHeaderKeys(TFieldReader& r, const TKeyDeriver& keys, TItem& item) {
  r.SkipFields(2);
  item.Values[sfCustomerId] = r.ReadFieldInLine();
  item.Values[sfCustomerName] = r.ReadFieldInLine();
  r.SkipFields(7);
  const bool hasPostal = !r.AtLineEnd && !r.AtEnd;
  item.Values[sfPostalCode] = r.ReadFieldInLine();
  item.Values[sfProvinceCode] = r.ReadFieldInLine();
  if (hasPostal) keys.Derive(item);
  r.SkipFields(59);
  for (int f = sfShipmentRef1; f <= sfPackageRef4; ++f) item.Values[f] = r.ReadFieldInLine();
  r.SkipLine();
}

}  // namespace

bool PreviewShipmentFile(const std::string& sourceFile, const TProvinceArray& provinces,
                         const TSortOrderArray& order, std::vector<TShipmentLine>& out) {
  out.clear();
  if (!plat::IsRegularFile(sourceFile)) return false;
  auto file = plat::OpenFile(sourceFile, plat::OpenMode::Read);
  if (!file) return false;
  const int64_t size = file->Size();

  TKeyDeriver keys(provinces, order);
  keys.PrepareZones();
  std::vector<TItem> items;
  std::vector<int64_t> origins;
  {
    TFieldReader r(*file);
    while (!r.AtEnd) {
      const int64_t p = r.Position;
      if (r.ReadField() != "H") {
        r.SkipLine();
        continue;
      }
      TItem item;
      item.Origin = static_cast<int32_t>(items.size());
      ReadHeaderKeys(r, keys, item);
      items.push_back(std::move(item));
      origins.push_back(p);
    }
    if (size < 0 || r.Position != size) return false;  // a read failed before the end
  }

  // The header lines, in one more read from the start: they begin at the
  // origins, which ascend, and end at a line feed or NUL as lines do for
  // the reading of fields.
  std::vector<std::string> headers(origins.size());
  if (!origins.empty()) {
    if (!file->Seek(0)) return false;
    std::string chunk(64 * 1024, '\0');
    int64_t at = 0;
    size_t next = 0;
    bool inHeader = false;
    for (size_t n; next < origins.size() && (n = file->Read(chunk.data(), chunk.size())) > 0;) {
      for (size_t i = 0; i < n && next < origins.size(); ++i, ++at) {
        const char c = chunk[i];
        if (!inHeader && at == origins[next]) inHeader = true;
        if (!inHeader) continue;
        if (c == '\n' || c == '\0') {
          inHeader = false;
          ++next;
        } else if (c != '\r') {
          headers[next] += c;
        }
      }
    }
  }

  int position = 0;
  for (size_t i : SortedOrder(items, order)) {
    TShipmentLine line;
    line.Position = ++position;
    line.Origin = origins[i];
    line.Header = std::move(headers[i]);
    for (TSortField f : order) line.Keys.push_back(items[i].Values[f]);
    out.push_back(std::move(line));
  }
  return true;
}
