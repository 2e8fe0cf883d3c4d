// The loader thread. The queue is guarded by one mutex; a condition variable wakes the thread as
// soon as a request is queued or a stop is asked for, so no request waits for a polling tick.
#include "core/loader.h"

#include <cstdio>

#include "platform/text.h"

namespace wz {

DataLoader::~DataLoader() {
  // The owner normally stops the loader; make sure the thread never outlives what it uses.
  std::unique_lock lock(mutex_);
  if (thread_.joinable()) {
    state_ = LoaderState::Stopping;
    lock.unlock();
    wake_.notify_all();
    thread_.join();
  }
}

void DataLoader::Start(ProcessFn process, LogFn log) {
  std::unique_lock lock(mutex_);
  log_ = std::move(log);
  if (thread_.joinable()) {
    if (log_) log_(WZ_TEXT("*** エラー *** 既にHANDLE作成済み"));
    return;
  }
  queue_.clear();
  process_ = std::move(process);
  if (failNextStart_) {
    failNextStart_ = false;
    if (log_) log_(WZ_TEXT("*** エラー *** スレッド作成"));
    return;
  }
  // The state reads Running before the thread first tests it.
  state_ = LoaderState::Running;
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    state_ = LoaderState::NotStarted;
    if (log_) log_(WZ_TEXT("*** エラー *** スレッド作成"));
  }
}

void DataLoader::Run() {
  std::unique_lock lock(mutex_);
  while (state_ == LoaderState::Running) {
    if (queue_.empty() || held_) {
      wake_.wait(lock,
                 [this] { return state_ != LoaderState::Running || (!queue_.empty() && !held_); });
      continue;
    }
    // The request stays at the head of the queue while it is processed, and leaves it after.
    LoadRequest request = queue_.front();
    lock.unlock();
    // An exception must not end the process (std::terminate); the processing function reports
    // its own failures, so here it is only kept from leaving the thread.
    try {
      if (process_) process_(request);
    } catch (...) {
    }
    lock.lock();
    queue_.pop_front();
  }
}

void DataLoader::Stop() {
  std::unique_lock lock(mutex_);
  if (state_ == LoaderState::Ended) return;
  LogFn log = log_;
  lock.unlock();
  if (log) log(WZ_TEXT("LibDataLoader 終了待ち"));
  lock.lock();
  state_ = LoaderState::Stopping;
  lock.unlock();
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  if (log) log(WZ_TEXT("LibDataLoader 終了"));
  lock.lock();
  state_ = LoaderState::Ended;
  queue_.clear();
}

bool DataLoader::Enqueue(const LoadRequest& request) {
  {
    std::lock_guard lock(mutex_);
    if (state_ != LoaderState::Running) return false;
    queue_.push_back(request);
  }
  wake_.notify_all();
  return true;
}

void DataLoader::HoldForTesting(bool hold) {
  {
    std::lock_guard lock(mutex_);
    held_ = hold;
  }
  wake_.notify_all();
}

LoaderState DataLoader::State() const {
  std::lock_guard lock(mutex_);
  return state_;
}

size_t DataLoader::QueuedCount() const {
  std::lock_guard lock(mutex_);
  return queue_.size();
}

WorkerSlots::WorkerSlots() {
  for (int i = 0; i < kCount; ++i)
    slots_[i].number = i;
}

void WorkerSlots::Stop(const std::function<void(const char*)>& log) {
  std::lock_guard lock(mutex_);
  for (Slot& slot : slots_) {
    if (slot.state == LoaderState::Ended) continue;
    char line[64];
    std::snprintf(line, sizeof line, WZ_TEXT("スレッド %d 終了待ち"), slot.number);
    if (log) log(line);
    slot.state = LoaderState::Stopping;
    slot.hasThread = false;  // there is never a thread to wait for or close
    std::snprintf(line, sizeof line, WZ_TEXT("スレッド %d 終了"), slot.number);
    if (log) log(line);
    slot.state = LoaderState::Ended;
  }
}

}  // namespace wz
