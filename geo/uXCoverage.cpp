// Zone coverage of the province list's postal lines.
#include "geo/uXCoverage.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>

#include "platform/text.h"

namespace {

struct LineRef {
  const TProvince* province;
  int32_t line;
};

// The lines of one province code (several list entries may share a code),
// indexed both ways a zone entry looks them up: by ordinal postal code for
// Canadian ranges, by upper-cased code for zip codes.
struct ProvinceLines {
  std::vector<uint32_t> ids;  // into the global line table, list order
  std::vector<std::pair<std::string_view, uint32_t>> sorted;
  std::unordered_map<std::string, std::vector<uint32_t>> byZip;

  void Build(const std::vector<LineRef>& lines) {
    sorted.reserve(ids.size());
    for (uint32_t id : ids) {
      const std::string& code = lines[id].province->Areas[static_cast<size_t>(lines[id].line)];
      sorted.emplace_back(code, id);
      byZip[plat::UpperAZ(code)].push_back(id);
    }
    std::sort(sorted.begin(), sorted.end());
  }
};

}  // namespace

TZoneCoverage ComputeZoneCoverage(const TProvinceArray& provinces, const TZoneArray& zones) {
  std::vector<LineRef> lines;
  std::unordered_map<std::string, ProvinceLines> byCode;
  for (const auto& p : provinces) {
    ProvinceLines& g = byCode[p->Province];
    for (size_t i = 0; i < p->Areas.size(); ++i) {
      g.ids.push_back(static_cast<uint32_t>(lines.size()));
      lines.push_back({p.get(), static_cast<int32_t>(i)});
    }
  }
  for (auto& [code, g] : byCode) g.Build(lines);

  // Zones go in order, so each line's list comes out in zone order; a zone
  // that takes a line through several entries or ranges counts once.
  std::vector<std::vector<int32_t>> taken(lines.size());
  int32_t zone = 0;
  auto take = [&](uint32_t id) {
    auto& z = taken[id];
    if (z.empty() || z.back() != zone) z.push_back(zone);
  };
  for (; zone < static_cast<int32_t>(zones.size()); ++zone) {
    for (const auto& e : zones[static_cast<size_t>(zone)]->Provinces) {
      auto it = byCode.find(e->Province);
      if (it == byCode.end()) continue;
      const ProvinceLines& g = it->second;
      if (e->Areas.empty()) {
        for (uint32_t id : g.ids) take(id);
      } else if (e->Country == "CA") {
        for (size_t k = 0; k < e->Areas.size(); ++k) {
          const std::string_view from = e->Areas[k];
          const std::string_view to = k < e->AreasTo.size() ? std::string_view(e->AreasTo[k]) : std::string_view();
          if (to < from) continue;
          auto lo = std::lower_bound(g.sorted.begin(), g.sorted.end(), from,
                                     [](const auto& a, std::string_view v) { return a.first < v; });
          for (; lo != g.sorted.end() && lo->first <= to; ++lo) take(lo->second);
        }
      } else {
        for (const std::string& a : e->Areas) {
          auto z = g.byZip.find(plat::UpperAZ(a));
          if (z != g.byZip.end())
            for (uint32_t id : z->second) take(id);
        }
      }
    }
  }

  TZoneCoverage out;
  out.Lines = static_cast<int64_t>(lines.size());
  for (size_t id = 0; id < lines.size(); ++id) {
    if (taken[id].size() == 1) continue;
    if (taken[id].empty()) {
      ++out.Uncovered;
      out.UncoveredProvinces.insert(lines[id].province->Province);
    } else {
      ++out.Overlapping;
    }
    out.Gaps.push_back({lines[id].province, lines[id].line, std::move(taken[id])});
  }
  return out;
}

std::string ZoneCoverageReport(const TZoneCoverage& coverage, const TZoneArray& zones) {
  std::string out = "status\tcountry\tprovince\tname\tpostal\tpostal_to\ttown\tzones\twinner\n";
  for (const TLineCoverage& g : coverage.Gaps) {
    const TProvince& p = *g.Province;
    const size_t i = static_cast<size_t>(g.Line);
    auto at = [i](const TStringList& l) { return i < l.size() ? l[i] : std::string(); };
    out += g.Zones.empty() ? "uncovered" : "overlap";
    for (const std::string* f : {&p.Country, &p.Province, &p.Name}) {
      out += '\t';
      out += *f;
    }
    out += '\t' + at(p.Areas) + '\t' + at(p.AreasTo) + '\t' + at(p.Towns) + '\t';
    for (size_t k = 0; k < g.Zones.size(); ++k) {
      if (k) out += ',';
      out += zones[static_cast<size_t>(g.Zones[k])]->Zone;
    }
    out += '\t';
    if (!g.Zones.empty()) out += zones[static_cast<size_t>(g.Zones[0])]->Zone;
    out += '\n';
  }
  out += "# postal lines\t" + std::to_string(coverage.Lines) + "\n";
  out += "# uncovered\t" + std::to_string(coverage.Uncovered) + "\n";
  out += "# covered more than once\t" + std::to_string(coverage.Overlapping) + "\n";
  out += "# provinces with uncovered lines\t" + std::to_string(coverage.UncoveredProvinces.size()) + "\n";
  out += "# zones\t" + std::to_string(zones.size()) + "\n";
  return out;
}
