#include "ChildCollector.h"

#include "ChildWait.h"

#include <array>
#include <new>

#include <pthread.h>

namespace {

struct Uncollected {
    pid_t pid = 0;
    VTBeforeCollect beforeCollect = nullptr;
};

void collect(const Uncollected& child) noexcept {
    if (child.beforeCollect)
        child.beforeCollect(child.pid);
    (void)vt_reapChild(child.pid);
}

// Children whose collecting thread could not be started. A plain mutex: it reports failure instead of
// throwing.
constexpr size_t kTableSize = 64;
pthread_mutex_t tableMutex = PTHREAD_MUTEX_INITIALIZER;
std::array<Uncollected, kTableSize> table;

void keepInTable(const Uncollected& child) noexcept {
    if (::pthread_mutex_lock(&tableMutex) != 0)
        return;
    for (Uncollected& slot : table) {
        if (slot.pid == 0) {
            slot = child;
            break;
        }
    }
    ::pthread_mutex_unlock(&tableMutex);
}

void* collectWhenEnded(void* argument) {
    const Uncollected child = *static_cast<Uncollected*>(argument);
    delete static_cast<Uncollected*>(argument);
    (void)vt_awaitChildEnd(child.pid, VTChildWait::Blocking);
    collect(child);
    return nullptr;
}

[[nodiscard]] bool startCollectingThread(const Uncollected& child) noexcept {
    auto* argument = new (std::nothrow) Uncollected(child);
    if (argument == nullptr)
        return false;
    pthread_attr_t attributes;
    int result = ::pthread_attr_init(&attributes);
    if (result == 0) {
        ::pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
        pthread_t thread;
        result = ::pthread_create(&thread, &attributes, collectWhenEnded, argument);
        ::pthread_attr_destroy(&attributes);
    }
    if (result != 0)
        delete argument;
    return result == 0;
}

} // namespace

void vt_collectChildLater(pid_t pid, VTBeforeCollect beforeCollect) noexcept {
    vt_collectEndedChildren();
    const Uncollected child{pid, beforeCollect};
    if (!startCollectingThread(child))
        keepInTable(child);
}

void vt_collectEndedChildren() noexcept {
    if (::pthread_mutex_lock(&tableMutex) != 0)
        return;
    for (Uncollected& slot : table) {
        if (slot.pid == 0 || vt_childState(slot.pid) == VTChildState::Running)
            continue;
        collect(slot);
        slot = {};
    }
    ::pthread_mutex_unlock(&tableMutex);
}
