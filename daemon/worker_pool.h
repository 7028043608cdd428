// How many FUSE workers the daemon runs, and how many of them may wait for hydrations at once.
//
// Each open that waits for a hydration holds a worker for the whole download, and the download
// itself needs workers: the sync client writes the content through the mount. With libfuse's
// default of 10 workers, ten waiting opens would take them all and the mount would stand still
// until the opens give up, days later. So the daemon asks for 64 workers (libfuse starts them
// only when requests pile up, so an idle mount pays nothing; each costs a thread and a receive
// buffer of about 1 MiB once started), and lets at most five eighths of them wait for
// hydrations: 40 of 64, leaving 24 for every other operation, the client's writes included.
// 40 waiting opens are far more than a desktop opens at once (a file manager previewing a
// folder of placeholders), and an open beyond the cap fails at once with EAGAIN instead of
// blocking the mount.
//
// max_idle_threads is given as well because libfuse 3.14 otherwise checks its "unset" default
// as a value and prints a warning at every start; 64 idle workers keep its default behaviour
// of never destroying idle threads below the limit.
#pragma once

#include <string>
#include <vector>

namespace TessarnFuse {

inline constexpr unsigned defaultMaxThreads = 64;
inline constexpr auto maxThreadsOption = "max_threads=64,max_idle_threads=64";

// The max_threads value FUSE will use: the last one among the arguments, as FUSE takes it.
unsigned effectiveMaxThreads(const std::vector<std::string>& fuseArguments);

// At least one, so that hydration works even with a tiny pool.
unsigned maxWaitingOpens(unsigned maxThreads);

} // namespace TessarnFuse
