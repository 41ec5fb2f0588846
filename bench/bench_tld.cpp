// Time per call of the registrable-domain reduction, and of the plain first-match walk over the same
// table, as a multiple of libpsl's registrable-domain lookup, for hosts that match the suffix table
// early, at its last entry, and not at all (the whole table is walked). The arms alternate in batches
// inside every iteration, timed in thread CPU time; below 1 means faster than libpsl.
// Run: build/bench/bench/bench_tld

#include "VantleString.h"
#include "reference/LiteralTLDWalk.h"

#include <benchmark/benchmark.h>
#include <libpsl.h>

#include <cstdio>
#include <ctime>
#include <string>

namespace {

constexpr int kBatch = 1000;

// CPU time of this thread, so that time spent waiting for a core on a busy machine does not count.
double threadSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

template <class F> double batchSeconds(F&& call) {
    const double start = threadSeconds();
    for (int i = 0; i < kBatch; ++i)
        call();
    return threadSeconds() - start;
}

void reduce(benchmark::State& state, const char* text) {
    const QString host = QString::fromLatin1(text);
    const std::string bytes(text);
    double ours = 0, plain = 0, theirs = 0;
    for (auto _ : state) {
        theirs += batchSeconds([&] {
            benchmark::DoNotOptimize(bytes.data());
            benchmark::DoNotOptimize(psl_registrable_domain(psl_builtin(), bytes.c_str()));
        });
        plain += batchSeconds([&] {
            benchmark::DoNotOptimize(bytes.data());
            benchmark::DoNotOptimize(literal::firstTLDEnding(bytes));
        });
        ours += batchSeconds([&] { benchmark::DoNotOptimize(vt_stringByExtracting2ndTLD(host)); });
    }
    state.counters["libpsl_ns"] = theirs * 1e9 / (double(state.iterations()) * kBatch);
    state.counters["ours/libpsl"] = ours / theirs;
    state.counters["plain/libpsl"] = plain / theirs;
}

// ".com.au" sits in the first tenth of the table, ".org.zw" is its last entry, ".com" is in none.
constexpr const char* kHosts[][2] = {
    {"early", "www.example.com.au"}, {"last", "www.example.org.zw"}, {"none", "www.example.com"}};

} // namespace

int main(int argc, char** argv) {
    for (const auto& [label, host] : kHosts) {
        benchmark::RegisterBenchmark(label, reduce, host);
        // Both sides must answer the same for the comparison to mean anything.
        const char* theirs = psl_registrable_domain(psl_builtin(), host);
        std::printf("%-6s %-20s ours %-16s libpsl %s\n", label, host,
                    qPrintable(vt_stringByExtracting2ndTLD(QString::fromLatin1(host))),
                    theirs ? theirs : "(none)");
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
