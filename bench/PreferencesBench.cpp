// The settings store with 1000 application sets, as a user with many
// per-application settings has: creating it (reading and preparing the
// domain), building the merged full configuration, and one application's
// corner dictionary (what the agent does on every application switch).
#include "Common/ArvelUserDefaults.h"
#include "Foundation/PropertyList.h"
#include "Paths/DiskRoot.h"
#include "machine/Machine.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace {

Value domainWithApplicationSets(int count)
{
    Value sets = Value::dictionary();
    for (int i = 0; i < count; ++i) {
        Value set = Value::dictionary({{"ApplicationName", "Application " + std::to_string(i)}});
        for (const char* corner : {"NWCorner", "NECorner", "SWCorner", "SECorner"})
            set.set(corner, Value::dictionary({{"Action", i % 8}, {"Data", 65536 + i}}));
        sets.set("com.example.app" + std::to_string(i), set);
    }
    return Value::dictionary({{"PrefsVersion", 4}, {"CornerSize", 12}, {"TapThreshold", 25}, {"ApplicationSet", sets}});
}

// A disk with user alice (uid 501) owning the large domain, as the process's
// effective user; removed when the program ends.
class BenchDisk {
public:
    BenchDisk()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "arvel-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        root_ = pattern;
        setDiskRoot(root_);
        auto& m = machine::Machine::shared();
        m.users().addUser("alice", 501);
        m.setEffectiveUserId(501);
        writePropertyListFile(hostPath("/Users/alice/Library/Preferences/com.tessmoor.Arvel.plist"),
            domainWithApplicationSets(1000), nullptr, true);
    }

    ~BenchDisk()
    {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }

private:
    std::string root_;
};

void setUpDisk()
{
    static BenchDisk disk;
}

const Value kSystemProperties = Value::dictionary({{"Arvel",
    Value::dictionary(
        {{"Calibration", Value::dictionary({{"MinX", 120}, {"MinY", 96}, {"MaxX", 1480}, {"MaxY", 1210}})}})}});

void InitStoreWith1000ApplicationSets(benchmark::State& state)
{
    setUpDisk();
    for (auto _ : state)
        benchmark::DoNotOptimize(ArvelUserDefaults::create());
}

BENCHMARK(InitStoreWith1000ApplicationSets)->Unit(benchmark::kMillisecond);

void HidPropertiesWithSystemHIDProperties(benchmark::State& state)
{
    setUpDisk();
    auto store = ArvelUserDefaults::create();
    for (auto _ : state)
        benchmark::DoNotOptimize(store->hidPropertiesWithSystemHIDProperties(kSystemProperties));
}

BENCHMARK(HidPropertiesWithSystemHIDProperties)->Unit(benchmark::kMicrosecond);

void PropertiesForAppID(benchmark::State& state)
{
    setUpDisk();
    auto store = ArvelUserDefaults::create();
    for (auto _ : state)
        benchmark::DoNotOptimize(store->propertiesForAppID("com.example.app517"));
}

BENCHMARK(PropertiesForAppID)->Unit(benchmark::kMicrosecond);

} // namespace
