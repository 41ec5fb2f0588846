// Time per call of the registrable-domain reduction against libpsl's registrable-domain lookup, for
// hosts that match the suffix table early, at its last entry, and not at all (the whole table is
// walked). Ratios below 1 mean faster than libpsl. Run: build/bench/bench/bench_tld

#include "VantleString.h"
#include "VantleTLDs.h"

#include <benchmark/benchmark.h>
#include <libpsl.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>

#include <unistd.h>

namespace {

struct Host {
    const char* label;
    const char* text;
};

// ".com.au" sits in the first tenth of the table, ".org.zw" is its last entry, ".com" is in none.
constexpr Host kHosts[] = {
    {"early", "www.example.com.au"},
    {"last", "www.example.org.zw"},
    {"none", "www.example.com"},
};

// The plain walk: one exact suffix comparison per entry, in table order.
std::size_t plainFirstTLDEnding(std::string_view host) {
    for (std::size_t i = 0; i < TLDs.size(); ++i) {
        if (TLDs[i].size() < host.size() && host.ends_with(TLDs[i]))
            return i;
    }
    return TLDs.size();
}

void operation(benchmark::State& state, const char* text) {
    const QString host = QString::fromLatin1(text);
    for (auto _ : state)
        benchmark::DoNotOptimize(vt_stringByExtracting2ndTLD(host));
}

void byteWalk(benchmark::State& state, const char* text) {
    const std::string host(text);
    for (auto _ : state) {
        benchmark::DoNotOptimize(host.data());
        benchmark::DoNotOptimize(vt_registrableDomainStart(host));
    }
}

void plainWalk(benchmark::State& state, const char* text) {
    const std::string host(text);
    for (auto _ : state) {
        benchmark::DoNotOptimize(host.data());
        benchmark::DoNotOptimize(plainFirstTLDEnding(host));
    }
}

void libpsl(benchmark::State& state, const char* text) {
    const psl_ctx_t* psl = psl_builtin();
    const std::string host(text);
    for (auto _ : state) {
        benchmark::DoNotOptimize(host.data());
        benchmark::DoNotOptimize(psl_registrable_domain(psl, host.c_str()));
    }
}

// Prints the usual table, then each measurement's time as a multiple of libpsl's for the same host.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred)
                continue;
            // With --benchmark_repetitions the median stands for the name; otherwise the one run does.
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            const std::string name = run.run_name.str();
            if (median || (run.run_type == Run::RT_Iteration && !medians_.contains(name)))
                times_[name] = run.GetAdjustedCPUTime();
            if (median)
                medians_.insert(name);
        }
    }

    void printRatios() const {
        std::printf("\nCPU time per call as a multiple of libpsl's (same host, same run):\n");
        for (const Host& host : kHosts) {
            const auto baseline = times_.find(std::string("libpsl/") + host.label);
            if (baseline == times_.end() || baseline->second <= 0)
                continue;
            for (const char* kind : {"operation", "byteWalk", "plainWalk"}) {
                const auto measured = times_.find(std::string(kind) + "/" + host.label);
                if (measured != times_.end())
                    std::printf("  %-10s %-6s %6.2fx\n", kind, host.label,
                                measured->second / baseline->second);
            }
        }
    }

private:
    std::map<std::string, double> times_;
    std::set<std::string> medians_;
};

} // namespace

int main(int argc, char** argv) {
    for (const Host& host : kHosts) {
        benchmark::RegisterBenchmark((std::string("libpsl/") + host.label).c_str(), libpsl, host.text);
        benchmark::RegisterBenchmark((std::string("operation/") + host.label).c_str(), operation, host.text);
        benchmark::RegisterBenchmark((std::string("byteWalk/") + host.label).c_str(), byteWalk, host.text);
        benchmark::RegisterBenchmark((std::string("plainWalk/") + host.label).c_str(), plainWalk, host.text);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    // Both sides must answer the same for the comparison to mean anything.
    for (const Host& host : kHosts) {
        const char* theirs = psl_registrable_domain(psl_builtin(), host.text);
        const QString ours = vt_stringByExtracting2ndTLD(QString::fromLatin1(host.text));
        std::printf("%-6s %-20s ours %-16s libpsl %s\n", host.label, host.text, qPrintable(ours),
                    theirs ? theirs : "(none)");
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return 0;
}
