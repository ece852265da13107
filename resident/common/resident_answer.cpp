#include "common/resident_answer.h"

namespace {

// Bits 0-3 mark the answer, 4-8 the flags, 9-13 the accepted count, 14-30 the age.
// Bit 31 stays clear, so that a 32-bit resident's result reads the same in a
// 64-bit check, whether WoW64 extends it with zeros or with its sign.
constexpr std::uint32_t MARK = 0xA;
constexpr std::uint32_t MARK_MASK = 0xF;
constexpr unsigned FLAG_SHIFT = 4;
constexpr unsigned ACCEPTED_SHIFT = 9;
constexpr unsigned AGE_SHIFT = 14;

std::uint32_t Bit(bool value, unsigned index) { return value ? 1u << (FLAG_SHIFT + index) : 0; }
bool HasBit(std::uint32_t packed, unsigned index) { return (packed >> (FLAG_SHIFT + index) & 1) != 0; }

}  // namespace

std::uint32_t PackResidentAnswer(const ResidentAnswer& answer) {
  const std::uint32_t accepted =
      answer.Accepted < RESIDENT_ANSWER_ACCEPTED_LIMIT ? answer.Accepted : RESIDENT_ANSWER_ACCEPTED_LIMIT;
  const std::uint32_t age =
      answer.SentSecondsAgo < RESIDENT_ANSWER_AGE_LIMIT ? answer.SentSecondsAgo : RESIDENT_ANSWER_AGE_LIMIT;
  return MARK | Bit(answer.FollowsOutput, 0) | Bit(answer.DrivesKeyboard, 1) | Bit(answer.LidClosed, 2) |
         Bit(answer.Muted, 3) | Bit(answer.Sent, 4) | accepted << ACCEPTED_SHIFT | age << AGE_SHIFT;
}

bool UnpackResidentAnswer(std::uint64_t result, ResidentAnswer* answer) {
  if (result > 0xFFFFFFFFu || (result & MARK_MASK) != MARK) return false;
  const auto packed = static_cast<std::uint32_t>(result);
  *answer = ResidentAnswer{HasBit(packed, 0), HasBit(packed, 1), HasBit(packed, 2), HasBit(packed, 3), HasBit(packed, 4),
                           packed >> ACCEPTED_SHIFT & RESIDENT_ANSWER_ACCEPTED_LIMIT, packed >> AGE_SHIFT};
  return true;
}
