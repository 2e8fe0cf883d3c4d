// Resource ids, versions and the registry a device shares with its resources.
#include "platform/d3d/resource.h"

#include <utility>

#include "platform/d3d/device.h"

namespace wz::d3d {
namespace {
std::atomic<uint64_t> nextResourceId{1};
}

void ResourceRegistry::Created(D3DPOOL pool, bool counted) {
  if (counted && pool == D3DPOOL_DEFAULT) liveDefault_.fetch_add(1);
}

void ResourceRegistry::Destroyed(uint64_t id, D3DPOOL pool, bool counted) {
  if (counted && pool == D3DPOOL_DEFAULT) liveDefault_.fetch_sub(1);
  std::lock_guard lock(mutex_);
  destroyed_.push_back(id);
}

std::vector<uint64_t> ResourceRegistry::TakeDestroyed() {
  std::lock_guard lock(mutex_);
  return std::exchange(destroyed_, {});
}

Resource::Resource(Device* device, D3DPOOL pool, bool counted)
    : counted_(counted), device_(device), pool_(pool), id_(nextResourceId.fetch_add(1)) {
  if (device) registry_ = device->Registry();
  if (registry_) registry_->Created(pool_, counted_);
}

Resource::~Resource() {
  if (registry_) registry_->Destroyed(id_, pool_, counted_);
}

}  // namespace wz::d3d
