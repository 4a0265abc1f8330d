#pragma once

#include <algorithm>
#include <vector>

// The value at `which` percent of the sorted samples; -1 when there are none.
inline double percentile(std::vector<double> values, int which) {
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, values.size() * which / 100)];
}
