#pragma once

#include <QtGlobal>

namespace tessera::bench {

// User plus system CPU time of this process so far, in seconds.
double processCpuSeconds();

// The highest resident set size of this process's address space, in KiB (VmHWM). Unlike
// ru_maxrss it starts afresh at exec: QProcess starts children with vfork, and Linux carries
// the parent's peak over into the child's ru_maxrss.
qint64 peakResidentKiB();

// How long the threads of this process have waited on a run queue for a CPU, in seconds
// (from /proc/self/task/*/schedstat); what a loaded machine adds to every wake-up.
double runQueueWaitSeconds();

} // namespace tessera::bench
