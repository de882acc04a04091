// Sequence keys: the derived keys of an item, comparison and output order.
#include <algorithm>
#include <limits>
#include <numeric>
#include <string_view>
#include <unordered_map>

#include "engine/uSequncr.h"
#include "platform/text.h"

TFieldsInUse FieldsInUse(const TSortOrderArray& order) {
  TFieldsInUse f;
  for (TSortField c : order)
    if (c < SortFieldCount) f.Used[c] = true;
  return f;
}

void LoadPassProvinces(const TSortOrderArray& order, TProvinceArray& provinces) {
  const TFieldsInUse used = FieldsInUse(order);
  if (used[sfZoneLocation] || used[sfProvinceLocation]) LoadProvinceRows(provinces);
  else FreeProvinces(provinces);
}

std::string ZoneLocation(const TZone& zone, const TProvinceArray& provinces) {
  if (zone.Provinces.empty()) return "";
  const std::string& code = zone.Provinces[0]->Province;
  for (const auto& p : provinces)
    if (p->Province == code) return plat::FormatS3d(p->Country, p->Sequence);
  return "";
}

namespace {

constexpr uint32_t kNone = std::numeric_limits<uint32_t>::max();

// The first eight bytes of t, big-endian, zeros past its end: heads compare
// as their texts do wherever they differ, so most comparisons end there.
uint64_t Head(std::string_view t) {
  uint64_t head = 0;
  for (size_t b = 0; b < 8; ++b) head = (head << 8) | (b < t.size() ? static_cast<unsigned char>(t[b]) : 0u);
  return head;
}

// Every zone entry of one province code, numbered in zone order and entry
// order (the "priority"); a look-up answers with the smallest priority that
// matches, which is the first match of a walk through the zones.
struct ProvinceZones {
  std::vector<uint32_t> zoneOf;  // priority -> zone index
  uint32_t whole = kNone;        // first entry that covers the whole province

  // Canadian ranges, flattened: points are the sorted distinct range ends;
  // region 2i+1 is exactly points[i], region 2i lies just below it, region
  // 2n above the last. Each region holds the smallest priority covering it.
  std::vector<std::string> points;
  std::vector<uint64_t> heads;  // Head of each point
  std::vector<uint32_t> region;
  // US entries: zip code (upper-cased) -> smallest priority listing it.
  std::unordered_map<std::string, uint32_t> zips;

  struct Range {
    std::string from, to;
    uint32_t pri;
  };
  std::vector<Range> ranges;  // only while building

  void Build() {
    // Sorted as views with their heads beside them, without moving texts.
    struct End {
      uint64_t head;
      std::string_view text;
    };
    std::vector<End> ends;
    ends.reserve(2 * ranges.size());
    for (const Range& r : ranges) {
      ends.push_back({Head(r.from), r.from});
      ends.push_back({Head(r.to), r.to});
    }
    std::sort(ends.begin(), ends.end(),
              [](const End& a, const End& b) { return a.head != b.head ? a.head < b.head : a.text < b.text; });
    points.reserve(ends.size());
    heads.reserve(ends.size());
    for (const End& e : ends)
      if (points.empty() || points.back() != e.text) {
        points.emplace_back(e.text);
        heads.push_back(e.head);
      }
    const size_t regions = 2 * points.size() + 1;
    region.assign(regions, kNone);
    // Ranges come in priority order: paint each region once, with the first
    // range that reaches it; next[] skips regions already painted.
    std::vector<uint32_t> next(regions + 1);
    std::iota(next.begin(), next.end(), 0u);
    auto find = [&](uint32_t x) {
      while (next[x] != x) {
        next[x] = next[next[x]];
        x = next[x];
      }
      return x;
    };
    for (const Range& r : ranges) {
      const size_t lo = 2 * LowerBound(r.from) + 1;
      const size_t hi = 2 * LowerBound(r.to) + 1;
      for (uint32_t x = find(static_cast<uint32_t>(lo)); x <= hi; x = find(x)) {
        region[x] = r.pri;
        next[x] = x + 1;
      }
    }
    ranges.clear();
    ranges.shrink_to_fit();
  }

  // The first point not below t.
  size_t LowerBound(const std::string& t) const {
    const uint64_t h = Head(t);
    size_t lo = 0, hi = points.size();
    while (lo < hi) {
      const size_t mid = lo + (hi - lo) / 2;
      if (heads[mid] < h || (heads[mid] == h && points[mid] < t)) lo = mid + 1;
      else hi = mid;
    }
    return lo;
  }

  uint32_t Find(const std::string& postal) const {
    uint32_t best = whole;
    if (!points.empty()) {
      const size_t i = LowerBound(postal);
      const size_t r = (i < points.size() && points[i] == postal) ? 2 * i + 1 : 2 * i;
      best = std::min(best, region[r]);
    }
    if (!zips.empty()) {
      auto it = zips.find(plat::UpperAZ(postal));
      if (it != zips.end()) best = std::min(best, it->second);
    }
    return best;
  }
};

}  // namespace

struct TKeyDeriver::Impl {
  std::unordered_map<std::string, std::string> provinceLocation;
  struct ZoneKeys {
    std::string location, code;
  };
  std::vector<ZoneKeys> zones;
  std::unordered_map<std::string, ProvinceZones> byProvince;
};

TKeyDeriver::TKeyDeriver(const TProvinceArray& provinces, const TSortOrderArray& order)
    : fields_(FieldsInUse(order)), impl_(std::make_unique<Impl>()) {
  if (fields_[sfProvinceLocation])
    for (const auto& p : provinces)  // the last entry of a code wins
      impl_->provinceLocation[p->Province] = plat::Format3d(p->Sequence);
  provinces_ = &provinces;
}

TKeyDeriver::~TKeyDeriver() = default;

void TKeyDeriver::PrepareZones() {
  if (!fields_.Zone()) return;
  TZoneArray zones;
  LoadZones(zones);
  PrepareZones(zones);
  FreeZones(zones);
}

void TKeyDeriver::PrepareZones(TZoneArray& zones) {
  impl_->zones.clear();
  impl_->byProvince.clear();
  if (!fields_.Zone()) return;
  const bool location = fields_[sfZoneLocation];
  for (auto& z : zones) {
    if (location) z->Name = ZoneLocation(*z, *provinces_);
    impl_->zones.push_back({location ? z->Name : std::string(), z->Zone});
  }
  for (uint32_t zi = 0; zi < zones.size(); ++zi) {
    for (const auto& e : zones[zi]->Provinces) {
      ProvinceZones& pz = impl_->byProvince[e->Province];
      if (pz.whole != kNone) continue;  // nothing after a whole-province entry can win
      const uint32_t pri = static_cast<uint32_t>(pz.zoneOf.size());
      pz.zoneOf.push_back(zi);
      if (e->Areas.empty()) {
        pz.whole = pri;
      } else if (e->Country == "CA") {
        for (size_t k = 0; k < e->Areas.size(); ++k) {
          const std::string& to = k < e->AreasTo.size() ? e->AreasTo[k] : std::string();
          if (!(to < e->Areas[k])) pz.ranges.push_back({e->Areas[k], to, pri});
        }
      } else {
        for (const std::string& a : e->Areas) pz.zips.emplace(plat::UpperAZ(a), pri);
      }
    }
  }
  for (auto& [code, pz] : impl_->byProvince) pz.Build();
}

void TKeyDeriver::ZoneOf(const std::string& province, const std::string& postal,
                         std::string& location, std::string& code) const {
  location.clear();
  code.clear();
  auto it = impl_->byProvince.find(province);
  if (it == impl_->byProvince.end()) return;
  const uint32_t pri = it->second.Find(postal);
  if (pri == kNone) return;
  const auto& z = impl_->zones[it->second.zoneOf[pri]];
  location = z.location;
  code = z.code;
}

std::string TKeyDeriver::ProvinceLocation(const std::string& province) const {
  auto it = impl_->provinceLocation.find(province);
  return it == impl_->provinceLocation.end() ? std::string() : it->second;
}

void TKeyDeriver::Derive(TItem& item) const {
  if (fields_.Zone())
    ZoneOf(item.Values[sfProvinceCode], item.Values[sfPostalCode], item.Values[sfZoneLocation],
           item.Values[sfZoneCode]);
  if (fields_[sfProvinceLocation])
    item.Values[sfProvinceLocation] = ProvinceLocation(item.Values[sfProvinceCode]);
}

// std::string compares through char_traits<char>, which orders bytes as
// unsigned values (memcmp): exactly the ordinal comparison.
bool ItemAfter(const TItem& A, const TItem& B, const TSortOrderArray& order) {
  for (size_t k = 0; k < order.size(); ++k) {
    const TSortField c = order[k];
    const int r = A.Values[c].compare(B.Values[c]);
    if (r != 0) return order.Descending(k) ? r < 0 : r > 0;
  }
  return false;
}

std::vector<size_t> SortedOrder(const std::vector<TItem>& items, const TSortOrderArray& order) {
  std::vector<size_t> idx(items.size());
  std::iota(idx.begin(), idx.end(), size_t{0});
  std::stable_sort(idx.begin(), idx.end(),
                   [&](size_t a, size_t b) { return ItemAfter(items[b], items[a], order); });
  if (order.Reverse) std::reverse(idx.begin(), idx.end());
  return idx;
}

bool TakeOutSorted(std::vector<TItem>& items, const TSortOrderArray& order,
                   const std::function<bool(TItem&)>& step) {
  for (size_t i : SortedOrder(items, order)) {
    const bool ok = step(items[i]);
    items[i].Done = true;
    if (!ok) return false;
  }
  return true;
}
