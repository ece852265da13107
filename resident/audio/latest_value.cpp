#include "audio/latest_value.h"

// The producer's exchange publishes its value (release); the owner's exchange
// (acquire) reads that mark or a later one, so its read sees that value or a
// newer one. Read before clearing, a value stored in between would find the mark
// still set, post nothing and stay unsent.
bool StoreLatest(LatestValue& handOver, std::uint32_t value) {
  handOver.Value.store(value, std::memory_order_relaxed);
  return !handOver.Pending.exchange(true, std::memory_order_acq_rel);
}

void PostFailed(LatestValue& handOver) { handOver.Pending.store(false, std::memory_order_release); }

std::uint32_t TakeLatest(LatestValue& handOver) {
  handOver.Pending.exchange(false, std::memory_order_acq_rel);
  return handOver.Value.load(std::memory_order_relaxed);
}
