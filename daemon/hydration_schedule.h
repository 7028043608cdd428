// When an open that waits for a hydration looks at its request again: first soon, so a fast
// answer is picked up quickly, then backing off steeply, so a long download costs few wake-ups.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>

namespace TessarnFuse {

inline constexpr int maxHydrationChecks = 20;

// The sleep before each check: 10, 40, 110, 290, 760 ms and so on, each delay growing by a step
// that itself grows by the new delay. The twentieth check comes about 26.5 days after the request.
constexpr std::array<std::chrono::milliseconds, maxHydrationChecks> hydrationCheckDelays()
{
    std::array<std::chrono::milliseconds, maxHydrationChecks> delays{};
    std::int64_t delay = 10;
    std::int64_t step = 30;
    for (auto& entry : delays) {
        entry = std::chrono::milliseconds(delay);
        delay += step;
        step += delay;
    }
    return delays;
}

} // namespace TessarnFuse
