// The base of every Direct3D 9 resource of the stand-in: a process-unique id, the pool, a
// contents version that grows on every change (backends upload when it differs from what they
// hold), and the registry it shares with its device. The registry counts live default-pool
// resources (a reset is refused while any lives, as Direct3D's is) and collects the ids of
// destroyed resources so that a backend can free its copies on the thread that draws.
//
// Resources may be created and filled on the loader thread while the main thread draws; the
// registry and the versions are thread-safe, the contents are handed over by the program's own
// synchronisation (a model is drawn only after its load completed).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/win_types.h"

namespace wz::d3d {

class Device;

class ResourceRegistry {
 public:
  void Created(D3DPOOL pool, bool counted);
  void Destroyed(uint64_t id, D3DPOOL pool, bool counted);
  // Ids of resources destroyed since the last call.
  std::vector<uint64_t> TakeDestroyed();
  int LiveDefaultPool() const { return liveDefault_.load(); }

 private:
  std::mutex mutex_;
  std::vector<uint64_t> destroyed_;
  std::atomic<int> liveDefault_{0};
};

class Resource {
 public:
  virtual ~Resource();
  Resource(const Resource&) = delete;
  Resource& operator=(const Resource&) = delete;

  Device* GetDevice() const { return device_; }
  D3DPOOL Pool() const { return pool_; }
  uint64_t Id() const { return id_; }
  // Grows by at least one on every change of the contents.
  uint64_t Version() const { return version_.load(std::memory_order_acquire); }
  void Touch() { version_.fetch_add(1, std::memory_order_acq_rel); }

 protected:
  // `counted` false for the device's own implicit surfaces, which never block a reset.
  Resource(Device* device, D3DPOOL pool, bool counted = true);

 private:
  bool counted_;
  Device* device_;
  D3DPOOL pool_;
  uint64_t id_;
  std::atomic<uint64_t> version_{1};
  std::shared_ptr<ResourceRegistry> registry_;
};

}  // namespace wz::d3d
