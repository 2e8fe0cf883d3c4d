#include "platform/worker_pool.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace wz::platform {
namespace {

class Pool {
 public:
  explicit Pool(unsigned count) {
    for (unsigned i = 0; i < count; ++i) {
      try {
        std::thread([this] { Run(); }).detach();
        ++threads_;
      } catch (...) {  // fewer threads: tasks wait for those there are
        break;
      }
    }
  }

  bool Post(std::function<void()> task) {
    if (threads_ == 0) return false;
    try {
      std::lock_guard lock(mutex_);
      queue_.push_back(std::move(task));
    } catch (...) {
      return false;
    }
    wake_.notify_one();
    return true;
  }

 private:
  // The threads live as long as the process: the pool is never destroyed, so no thread can
  // outlive what it uses.
  void Run() {
    while (true) {
      std::function<void()> task;
      {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return !queue_.empty(); });
        task = std::move(queue_.front());
        queue_.pop_front();
      }
      try {
        task();
      } catch (...) {  // a task reports its own failures; one that throws only ends early
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> queue_;
  unsigned threads_ = 0;
};

Pool& Shared() {
  static Pool* const pool = new Pool(WorkerCount());
  return *pool;
}

}  // namespace

unsigned WorkerCount() {
  // The processors this process may run on (a container or taskset may allow fewer than the
  // machine has), at most eight: stretches are long enough that more would barely pay.
  static const unsigned count = [] {
    cpu_set_t set;
    CPU_ZERO(&set);
    unsigned n = ::sched_getaffinity(0, sizeof set, &set) == 0
                     ? unsigned(CPU_COUNT(&set))
                     : std::thread::hardware_concurrency();
    n = std::min(n, 8u);
    return n > 1 ? n - 1 : 0;
  }();
  return count;
}

bool PostWork(std::function<void()> task) {
  return Shared().Post(std::move(task));
}

namespace {

// Parts are taken by counting up `next`; `ended` counts the parts that have ended. Pool tasks
// that start after every part is taken find nothing to do and never touch `part`.
struct PartsState {
  size_t count = 0;
  const std::function<void(size_t)>* part = nullptr;
  std::atomic<size_t> next{0}, ended{0};
  std::unique_ptr<std::atomic<bool>[]> failed;
};

void TakeParts(PartsState& s) {
  for (size_t k; (k = s.next.fetch_add(1, std::memory_order_relaxed)) < s.count;) {
    try {
      (*s.part)(k);
    } catch (...) {
      s.failed[k].store(true, std::memory_order_relaxed);
    }
    s.ended.fetch_add(1, std::memory_order_release);
    s.ended.notify_all();
  }
}

}  // namespace

void RunParts(size_t count, const std::function<void(size_t)>& part) {
  if (count <= 1) {  // nothing to share: no state, no pool
    if (count == 1) {
      try {
        part(0);
      } catch (...) {
        part(0);
      }
    }
    return;
  }
  auto state = std::make_shared<PartsState>();
  state->count = count;
  state->part = &part;
  state->failed = std::make_unique<std::atomic<bool>[]>(count);
  for (size_t k = 1; k < count && k <= WorkerCount(); ++k) {
    try {
      if (!PostWork([state] { TakeParts(*state); })) break;
    } catch (...) {  // no memory for the task: the caller takes its parts
      break;
    }
  }
  TakeParts(*state);
  for (size_t e; (e = state->ended.load(std::memory_order_acquire)) < count;)
    state->ended.wait(e, std::memory_order_acquire);
  for (size_t k = 0; k < count; ++k) {
    if (state->failed[k].load(std::memory_order_relaxed)) part(k);
  }
}

}  // namespace wz::platform
