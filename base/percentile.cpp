#include "base/percentile.h"

#include <algorithm>
#include <cmath>

double NearestRank(const std::vector<double>& sorted, double p) {
    if (sorted.empty())
        return 0;
    const size_t rank = size_t(std::ceil(p * double(sorted.size())));
    return sorted[std::clamp<size_t>(rank, 1, sorted.size()) - 1];
}
