#pragma once

// Collects the children nobody waits for once they end, so that none stays a zombie.
//
// Each child gets a small detached thread that waits for its end (ChildWait.h) and collects it. When no
// thread can be started, the child is kept in a short table instead and collected by a later call of
// vt_collectChildLater or vt_collectEndedChildren once it has ended; when that table is full as well, it
// stays a zombie until the tool ends. Nothing here throws or blocks its caller, and how the child ended
// is not kept.

#include <sys/types.h>

// Called on the collecting thread once the child has ended, right before it is collected, while its pid
// (and so its process group id) still belongs to it. Must not throw.
using VTBeforeCollect = void (*)(pid_t pid) noexcept;

// Collects the child (a direct child of this process) in the background once it ends, calling
// beforeCollect first when it is given.
void vt_collectChildLater(pid_t pid, VTBeforeCollect beforeCollect = nullptr) noexcept;

// Collects the children of the table that have ended by now.
void vt_collectEndedChildren() noexcept;
