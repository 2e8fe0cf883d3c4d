// The LibDataLoader: a background thread that takes load requests from a FIFO queue, and the
// table of eight worker slots that share its stop protocol (no thread is ever started in them).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace wz {

// One load request as it is queued: the slot, the directory, the file name and "%s\%s" of the
// two. The strings are whole: fixed fields would cut a long path and load another file.
struct LoadRequest {
  int32_t slotId = -1;
  std::string directory;
  std::string fileName;
  std::string fullPath;
};

enum class LoaderState : int32_t { NotStarted = 0, Running = 1, Stopping = 2, Ended = 3 };

class DataLoader {
 public:
  using LogFn = std::function<void(const char* line)>;
  using ProcessFn = std::function<void(const LoadRequest&)>;

  DataLoader() = default;
  ~DataLoader();
  DataLoader(const DataLoader&) = delete;
  DataLoader& operator=(const DataLoader&) = delete;

  // Starts the thread. `process` handles one request on the loader thread; `log` writes a log
  // line. Logs "*** エラー *** 既にHANDLE作成済み" when a thread already exists.
  void Start(ProcessFn process, LogFn log);
  // Stops the thread: logs "LibDataLoader 終了待ち", waits for the request in progress, logs
  // "LibDataLoader 終了". Requests still queued are dropped unprocessed. A second stop does
  // nothing.
  void Stop();
  // Appends a request; the thread takes it at once. False (nothing queued) when the thread is not
  // running: no one would ever process the request.
  bool Enqueue(const LoadRequest& request);
  LoaderState State() const;
  size_t QueuedCount() const;
  // Test hook: makes the next Start behave as if the thread could not be created.
  void FailNextStartForTesting() { failNextStart_ = true; }
  // Test hook: while held, the thread takes no request from the queue.
  void HoldForTesting(bool hold);

 private:
  void Run();

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<LoadRequest> queue_;
  std::thread thread_;
  LoaderState state_ = LoaderState::NotStarted;
  ProcessFn process_;
  LogFn log_;
  bool failNextStart_ = false;
  bool held_ = false;
};

// Eight worker slots with the loader's stop protocol. No thread ever runs in them; each slot
// starts idle, which is the ended state, so teardown has nothing to wait for.
class WorkerSlots {
 public:
  static constexpr int kCount = 8;
  struct Slot {
    LoaderState state = LoaderState::Ended;
    bool hasThread = false;
    int number = 0;
  };
  WorkerSlots();
  // Stops every slot that is not ended, logging "スレッド %d 終了待ち" and "スレッド %d 終了".
  void Stop(const std::function<void(const char*)>& log);
  Slot& operator[](int i) { return slots_[i]; }

 private:
  std::mutex mutex_;
  Slot slots_[kCount];
};

}  // namespace wz
