#pragma once
// A "latest value" hand-over from any number of producer threads to the one
// thread that owns a window. Producers keep only the newest value and post at
// most one message while one is on its way; the owner, on that message, clears
// the pending mark before it reads, so a value stored meanwhile posts afresh.
// A backlog thus folds into one message for the newest value, and the window's
// queue never holds more than one message per hand-over. Platform-free: the
// caller posts.
#include <atomic>
#include <cstdint>

struct LatestValue {
  std::atomic<std::uint32_t> Value{0};
  std::atomic<bool> Pending{false};
};

// Producer: stores VALUE; true when the caller must post (none is on its way).
bool StoreLatest(LatestValue& handOver, std::uint32_t value);

// Producer: the post that StoreLatest asked for was refused (the queue is full);
// the next StoreLatest posts again.
void PostFailed(LatestValue& handOver);

// Owner, on the posted message: the newest value.
std::uint32_t TakeLatest(LatestValue& handOver);
