// stoppable_run SCRIPT: runs SCRIPT, stopping it from the SIGINT handler; prints "status <n>" for it,
// then "after <n> <out>" for a run tried once it has ended.

#include "VTScriptUtils.h"

#include <csignal>
#include <cstdio>

namespace {

extern "C" void onInterrupt(int) {
    vt_stopRunningScripts();
}

QVariantMap run(const char* script) {
    return runScriptWaitForExit(QString::fromLocal8Bit(script), std::nullopt, std::nullopt, true);
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc < 2)
        return 2;
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);

    std::printf("status %d\n", run(argv[1]).value(QStringLiteral("status")).toInt());
    const QVariantMap after = run("echo ran");
    std::printf("after %d %s\n", after.value(QStringLiteral("status")).toInt(),
                qPrintable(after.value(QStringLiteral("out")).toString().left(3)));
    return 0;
}
