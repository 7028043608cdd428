#include "statistics.h"

#include <algorithm>
#include <cmath>

namespace TessarnBench {

double percentile(std::vector<double> values, double fraction)
{
    std::sort(values.begin(), values.end());
    const auto index =
        static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
    return values[index];
}

double median(const std::vector<double>& values)
{
    if (values.empty() ||
        std::any_of(values.begin(), values.end(), [](double value) { return std::isnan(value); }))
        return notMeasured;
    return percentile(values, 0.5);
}

} // namespace TessarnBench
