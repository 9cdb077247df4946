#pragma once

#include <vector>

// The nearest-rank percentile of values sorted in ascending order: the
// smallest value with at least the fraction p (0 to 1) of all at or below it.
// The runner's summary and the benchmarks both use this one rule. 0 for no
// values.
double NearestRank(const std::vector<double>& sorted, double p);
