// What the latency benchmarks report of their samples: the median and the
// 99th percentile, in microseconds, and a way to time one call.
#pragma once

#include <algorithm>
#include <chrono>
#include <vector>

struct LatencyFigures {
    double median;
    double p99;
};

inline LatencyFigures figuresOf(std::vector<double> samples)
{
    if (samples.empty())
        return {0, 0};
    std::sort(samples.begin(), samples.end());
    auto at = [&](double q) { return samples[std::min(samples.size() - 1, static_cast<std::size_t>(q * static_cast<double>(samples.size())))]; };
    return {at(0.5), at(0.99)};
}

template <class F>
double microseconds(F&& f)
{
    auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
}
