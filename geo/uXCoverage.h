#pragma once
// Zone coverage: which postal lines and zip codes of the province list no zone
// takes, and which more than one zone takes. A line counts as taken by a zone
// when a package with the line's postal code (for Canada the first code of
// its range) and its province code falls into that zone by the rule the
// sorting uses; when several zones take it, the first in zone order wins.
#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "geo/uXArea.h"
#include "geo/uXZone.h"

struct TLineCoverage {
  const TProvince* Province = nullptr;  // entry of the province list
  int32_t Line = 0;                     // index into its Areas (and AreasTo, Towns)
  std::vector<int32_t> Zones;           // zone indices in zone order; [0] wins; empty: uncovered
};

struct TZoneCoverage {
  int64_t Lines = 0;        // postal lines and zip codes of the province list
  int64_t Uncovered = 0;
  int64_t Overlapping = 0;  // taken by more than one zone
  // Only the lines not taken by exactly one zone, in province-list order.
  std::vector<TLineCoverage> Gaps;
  // Codes of the provinces and states with at least one uncovered line.
  std::unordered_set<std::string> UncoveredProvinces;
};

TZoneCoverage ComputeZoneCoverage(const TProvinceArray& provinces, const TZoneArray& zones);

// The tab-separated report: a header line, one line per gap, then the counts
// as lines that start with "#".
std::string ZoneCoverageReport(const TZoneCoverage& coverage, const TZoneArray& zones);
