// A few threads kept for the life of the process, for readers that share a long file among
// threads. A thread made for each task would start late where the scheduler first places it
// beside its busy parent; a kept thread is woken where it last ran.
#pragma once

#include <cstddef>
#include <functional>

namespace wz::platform {

// Number of threads the pool runs: one less than the processors the process may run on (at most
// eight), so 0 on one processor.
unsigned WorkerCount();

// Runs `task` on a pool thread, starting the threads on first use. False (and the task is not
// run) when there is no thread or no memory for it. A task must not wait for another task.
bool PostWork(std::function<void()> task);

// Runs part(0) .. part(count - 1), each once, on the calling thread and the pool's threads, and
// returns when all have ended. The caller takes parts in order (part 0 first) whenever no pool
// thread has taken them yet, so nothing waits for a thread that is slow to start. A part that
// throws is run again on the calling thread afterwards, where what it throws then is thrown on.
void RunParts(size_t count, const std::function<void(size_t)>& part);

}  // namespace wz::platform
