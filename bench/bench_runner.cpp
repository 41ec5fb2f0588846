// The task runner against what the machine allows (bench/runner.sh explains the ratios): 256 MiB of
// output (one stream or both) through the whole call and the collection alone, against the pipe's limit
// and Python's subprocess.run; and one run of `true` against a bare posix_spawn + waitpid, with and
// without the application holding 256 MiB. The arms alternate inside every iteration, so a busy machine
// slows them alike; counters are medians.

#include "Platform/ChildProcess.h"
#include "VTScriptUtils.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

constexpr qsizetype kCollected = qsizetype(256) * 1024 * 1024;

const QString kWholeCommand = QStringLiteral("head -c 268435456 /dev/zero");
const QString kSplitCommand =
    QStringLiteral("head -c 134217728 /dev/zero & head -c 134217728 /dev/zero >&2; wait");
const char* const kPipeLimitCommand = "head -c 268435456 /dev/zero | cat >/dev/null";

// Python times its own subprocess.run and decoding, so its start-up is left out.
const char* const kPythonScript = R"(
import subprocess, sys, time
start = time.perf_counter()
r = subprocess.run(['/bin/bash', '-c', sys.argv[1]], capture_output=True)
out, err = r.stdout.decode('utf-8'), r.stderr.decode('utf-8')
elapsed = time.perf_counter() - start
assert len(out) + len(err) == 268435456
print(elapsed)
)";

template <class F> double seconds(F&& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Resident memory from /proc: the current size and the peak since the last reset.
long statusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const size_t length = std::strlen(field);
    while (std::getline(status, line)) {
        if (line.compare(0, length, field) == 0)
            return std::stol(line.substr(length + 1));
    }
    return -1;
}

void resetPeakMemory() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// posix_spawn + waitpid of /bin/bash -c command: the least any runner has to do.
bool bareSpawn(const char* command) {
    const char* argv[] = {"/bin/bash", "-c", command, nullptr};
    pid_t pid = -1;
    if (::posix_spawn(&pid, "/bin/bash", nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0)
        return false;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Python's own measurement, or 0 when Python cannot be run.
double pythonSeconds(const QString& command) {
    const QVariantMap result =
        runTask(QStringLiteral("/usr/bin/env"),
                {QStringLiteral("python3"), QStringLiteral("-c"), QString::fromUtf8(kPythonScript), command},
                std::nullopt);
    bool ok = false;
    const double value = result.value(QStringLiteral("out")).toString().trimmed().toDouble(&ok);
    return ok ? value : 0;
}

void BM_Collect256MiB(benchmark::State& state) {
    const QString command = state.range(0) ? kSplitCommand : kWholeCommand;
    std::vector<double> pipeLimit, whole, collection, python, peak;
    for (auto _ : state) {
        pipeLimit.push_back(seconds([] { benchmark::DoNotOptimize(bareSpawn(kPipeLimitCommand)); }));

        resetPeakMemory();
        const long before = statusKiB("VmRSS:");
        QVariantMap result; // released outside the timed part, as Python's result is
        const double wholeCall =
            seconds([&] { result = runScriptWaitForExit(command, std::nullopt, std::nullopt, true); });
        peak.push_back(double(statusKiB("VmHWM:") - before) / 1024);
        if (result.value("out").toString().size() + result.value("err").toString().size() != kCollected)
            state.SkipWithError("the whole call lost bytes");
        whole.push_back(wholeCall);
        state.SetIterationTime(wholeCall);
        result.clear();

        VTChildProcessResult child;
        collection.push_back(seconds([&] {
            child = vt_runChildProcess(VTChildProcessRequest{
                QStringLiteral("/bin/bash"), {QStringLiteral("-c"), command}, std::nullopt, true, 1 << 20});
        }));
        if (child.standardOutput.size() + child.standardError.size() != kCollected)
            state.SkipWithError("the collection lost bytes");
        python.push_back(pythonSeconds(command));
    }
    const double limit = median(pipeLimit);
    state.counters["pipe_limit_MiB/s"] = 256 / limit;
    state.counters["whole_MiB/s"] = 256 / median(whole);
    state.counters["whole/limit"] = limit / median(whole);
    state.counters["collect/limit"] = limit / median(collection);
    state.counters["python_s/whole_s"] = median(python) / median(whole);
    // Budget: the collected bytes plus their text (two bytes a character) plus 10 %.
    state.counters["peak_MiB"] = *std::max_element(peak.begin(), peak.end());
    state.counters["peak/budget"] = state.counters["peak_MiB"] / ((256.0 + 512.0) * 1.10);
}
BENCHMARK(BM_Collect256MiB)
    ->ArgName("split")
    ->DenseRange(0, 1)
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_SpawnTrue(benchmark::State& state) {
    std::unique_ptr<char[]> ballast;
    if (state.range(0)) {
        ballast = std::make_unique<char[]>(kCollected);
        std::memset(ballast.get(), 1, kCollected);
        benchmark::DoNotOptimize(ballast.get());
    }
    std::vector<double> bare, runner, ratio;
    for (auto _ : state) {
        bare.push_back(seconds([] { benchmark::DoNotOptimize(bareSpawn("true")); }));
        runner.push_back(seconds([] {
            benchmark::DoNotOptimize(
                runScriptWaitForExit(QStringLiteral("true"), std::nullopt, std::nullopt, true));
        }));
        ratio.push_back(runner.back() / bare.back());
        state.SetIterationTime(runner.back());
    }
    state.counters["bare_us"] = median(bare) * 1e6;
    state.counters["runner_us"] = median(runner) * 1e6;
    // The median of the paired ratios: each pair ran back to back, so load that comes and goes
    // touches both arms of a pair alike.
    state.counters["runner/bare"] = median(ratio);
}
BENCHMARK(BM_SpawnTrue)
    ->ArgName("holding_256MiB")
    ->DenseRange(0, 1)
    ->Iterations(400)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
