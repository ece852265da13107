#pragma once
// What a running resident tells the self-check about itself when asked
// (WM_CHECK_QUERY), packed into the 32 bits of a window procedure's result in the
// 32-bit build. Platform-free: both sides and the native tests use it.
#include <cstdint>

struct ResidentAnswer {
  bool FollowsOutput;   // its audio watch is bound and registered for notifications
  bool DrivesKeyboard;  // its session is the one attached to the physical console
  bool LidClosed;
  bool Muted;           // the state it holds
  bool Sent;            // it has sent the mute state since it started
  unsigned Accepted;    // interfaces that took its last send, at most RESIDENT_ANSWER_ACCEPTED_LIMIT
  std::uint32_t SentSecondsAgo;  // at most RESIDENT_ANSWER_AGE_LIMIT
};

constexpr unsigned RESIDENT_ANSWER_ACCEPTED_LIMIT = 31;
constexpr std::uint32_t RESIDENT_ANSWER_AGE_LIMIT = 0x1FFFF;  // about 36 hours

// Counts beyond the limits are cut to them.
std::uint32_t PackResidentAnswer(const ResidentAnswer& answer);

// False when RESULT is no resident's answer: DefWindowProcW's 0 from another
// program's window of the class, or anything else without the answer's mark.
bool UnpackResidentAnswer(std::uint64_t result, ResidentAnswer* answer);
