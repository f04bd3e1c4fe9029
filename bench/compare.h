#pragma once
// Today's code path beside the new one, in the same run: a benchmark named
// "<figure>/old..." and its twin "<figure>/new..." (the same arguments after
// the word) are printed once more at the end as one line with the ratio
// old / new, by CPU time (on a shared machine the wall clock also counts
// the time other programs had the core). A benchmark with repetitions is
// compared by its median.
//
// A benchmark program uses it in place of benchmark_main:
//     int main(int argc, char** argv) { return bench::RunComparing(argc, argv); }
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace bench {

class ComparingReporter : public benchmark::ConsoleReporter {
public:
    ComparingReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& reports) override
    {
        ConsoleReporter::ReportRuns(reports);
        for (const Run& r : reports) {
            if (r.error_occurred)
                continue;
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name != "median")
                continue;
            std::string name = r.run_name.str();
            const bool median = r.run_type == Run::RT_Aggregate;
            // Plain repetitions are overwritten by their median when it comes.
            if (!median && medians_.count(name))
                continue;
            if (median)
                medians_[name] = true;
            times_[name] = {r.GetAdjustedCPUTime(), benchmark::GetTimeUnitString(r.time_unit)};
        }
    }

    void Finalize() override
    {
        bool header = false;
        for (const auto& [name, old] : times_) {
            const std::size_t at = name.find("/old");
            if (at == std::string::npos)
                continue;
            const std::string twin = name.substr(0, at) + "/new" + name.substr(at + 4);
            const auto found = times_.find(twin);
            if (found == times_.end())
                continue;
            if (!header) {
                std::printf("\n%-48s %14s %14s %9s\n", "today's code path (old) beside the new one, CPU", "old",
                            "new", "old/new");
                header = true;
            }
            const Time& now = found->second;
            std::printf("%-48s %11.1f %-2s %11.1f %-2s %8.1fx\n",
                        (name.substr(0, at) + name.substr(at + 4)).c_str(), old.value, old.unit.c_str(), now.value,
                        now.unit.c_str(), now.value > 0 && old.unit == now.unit ? old.value / now.value : 0.0);
        }
        ConsoleReporter::Finalize();
    }

private:
    struct Time {
        double value = 0.0;
        std::string unit;
    };
    std::map<std::string, Time> times_;
    std::map<std::string, bool> medians_;
};

inline int RunComparing(int argc, char** argv)
{
    // Another output format (json, csv) is left to the library, without the table.
    bool console = true;
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--benchmark_format=", 19) == 0)
            console = std::strcmp(argv[i] + 19, "console") == 0;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    ComparingReporter reporter;
    if (console)
        benchmark::RunSpecifiedBenchmarks(&reporter);
    else
        benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace bench
