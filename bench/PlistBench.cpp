// Reading and describing a preference-sized file: 1000 application sets of
// nested dictionaries, as a user with many per-application settings has.
#include "Foundation/PropertyList.h"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <plist/plist.h>
#include <unistd.h>

namespace {

Value preferenceSizedDomain()
{
    Value sets = Value::dictionary();
    for (int i = 0; i < 1000; ++i) {
        Value set = Value::dictionary({{"ApplicationName", "Application " + std::to_string(i)}});
        for (const char* corner : {"NWCorner", "NECorner", "SWCorner", "SECorner"})
            set.set(corner, Value::dictionary({{"Action", i % 8}, {"Data", 65536 + i}}));
        sets.set("com.example.app" + std::to_string(i), set);
    }
    return Value::dictionary({{"PrefsVersion", 4}, {"TrackpadSpeed", 1.5}, {"ApplicationSet", sets}});
}

std::string benchFile()
{
    static std::string path = [] {
        std::string p = (std::filesystem::temp_directory_path() / ("arvel-bench-" + std::to_string(getpid()) + ".plist")).string();
        writePropertyListFile(p, preferenceSizedDomain());
        return p;
    }();
    return path;
}

void ReadPreferenceFile(benchmark::State& state)
{
    std::string path = benchFile();
    for (auto _ : state)
        benchmark::DoNotOptimize(readPropertyListFile(path));
}
BENCHMARK(ReadPreferenceFile)->Unit(benchmark::kMillisecond);

// The reference for a settings read: libplist's parse of the same bytes
// into its own nodes, with no file access and no conversion.
void LibplistRawParse(benchmark::State& state, PropertyListFormat format)
{
    std::string data = *propertyListData(preferenceSizedDomain(), format);
    for (auto _ : state) {
        plist_t root = nullptr;
        if (format == PropertyListFormat::Binary)
            plist_from_bin(data.data(), static_cast<uint32_t>(data.size()), &root);
        else
            plist_from_xml(data.data(), static_cast<uint32_t>(data.size()), &root);
        benchmark::DoNotOptimize(root);
        plist_free(root);
    }
}
BENCHMARK_CAPTURE(LibplistRawParse, xml, PropertyListFormat::XML)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LibplistRawParse, binary, PropertyListFormat::Binary)->Unit(benchmark::kMillisecond);

void ParsePreferenceData(benchmark::State& state, PropertyListFormat format)
{
    std::string data = *propertyListData(preferenceSizedDomain(), format);
    for (auto _ : state)
        benchmark::DoNotOptimize(propertyListFromData(data));
}
BENCHMARK_CAPTURE(ParsePreferenceData, xml, PropertyListFormat::XML)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ParsePreferenceData, binary, PropertyListFormat::Binary)->Unit(benchmark::kMillisecond);

void DescribePreferenceDomain(benchmark::State& state)
{
    Value domain = preferenceSizedDomain();
    for (auto _ : state)
        benchmark::DoNotOptimize(domain.description());
}
BENCHMARK(DescribePreferenceDomain)->Unit(benchmark::kMillisecond);

void ReadAndDescribePreferenceFile(benchmark::State& state)
{
    std::string path = benchFile();
    for (auto _ : state)
        benchmark::DoNotOptimize(readPropertyListFile(path).description());
}
BENCHMARK(ReadAndDescribePreferenceFile)->Unit(benchmark::kMillisecond);

void WritePreferenceFile(benchmark::State& state)
{
    Value domain = preferenceSizedDomain();
    std::string path = benchFile() + ".out";
    for (auto _ : state)
        benchmark::DoNotOptimize(writePropertyListFile(path, domain));
    std::filesystem::remove(path);
}
BENCHMARK(WritePreferenceFile)->Unit(benchmark::kMillisecond);

} // namespace
