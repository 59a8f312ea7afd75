// What the latency benchmarks report of their samples: the median and the
// 99th percentile, in microseconds, and a way to time one call.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
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

// Times `rounds` bus round trips and calls, interleaved after a warm-up of
// 100 of each, and prints both figures with their ratio; `label` names the
// call in the table ("distributed-objects call").
template <class Ping, class Call>
void compareWithPing(int rounds, const char* label, Ping&& ping, Call&& call)
{
    for (int i = 0; i < 100; ++i) {
        ping();
        call();
    }
    std::vector<double> pings, calls;
    for (int i = 0; i < rounds; ++i) {
        pings.push_back(microseconds(ping));
        calls.push_back(microseconds(call));
    }
    LatencyFigures p = figuresOf(pings), c = figuresOf(calls);
    std::printf("%d rounds on one private bus\n", rounds);
    std::printf("bus round trip (Peer.Ping):      median %8.1f us   p99 %8.1f us\n", p.median, p.p99);
    std::printf("%-32s median %8.1f us   p99 %8.1f us\n", (std::string(label) + ":").c_str(), c.median, c.p99);
    std::printf("ratio (call / ping):             median %8.2f      p99 %8.2f\n", c.median / p.median, c.p99 / p.p99);
}

// The CPU time a process has used so far, in microseconds, to the
// nanosecond the scheduler counts (/proc/PID/schedstat); 0 when unreadable.
inline double cpuMicroseconds(int pid)
{
    std::FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/schedstat").c_str(), "r");
    unsigned long long ns = 0;
    if (f) {
        if (std::fscanf(f, "%llu", &ns) != 1)
            ns = 0;
        std::fclose(f);
    }
    return static_cast<double>(ns) / 1000.0;
}

// What the serving process spends on each of `rounds` pings and of
// `rounds` calls, measured one after the other, and their ratio.
template <class Ping, class Call>
void compareServingCpu(int rounds, int servingPid, const char* label, Ping&& ping, Call&& call)
{
    double start = cpuMicroseconds(servingPid);
    for (int i = 0; i < rounds; ++i)
        ping();
    double afterPings = cpuMicroseconds(servingPid);
    for (int i = 0; i < rounds; ++i)
        call();
    double afterCalls = cpuMicroseconds(servingPid);
    double perPing = (afterPings - start) / rounds, perCall = (afterCalls - afterPings) / rounds;
    std::printf("serving CPU per Peer.Ping:       %8.1f us\n", perPing);
    std::printf("%-32s %8.1f us\n", ("serving CPU per " + std::string(label) + ":").c_str(), perCall);
    std::printf("ratio (call / ping):             %8.2f\n", perCall / perPing);
}
