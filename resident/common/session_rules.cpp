#include "session_rules.h"

namespace {

constexpr std::uint32_t NO_CONSOLE_SESSION = 0xFFFFFFFF;

}  // namespace

bool SessionDrivesKeyboard(bool ownKnown, std::uint32_t own, std::uint32_t console) {
  if (!ownKnown) return true;
  return console != NO_CONSOLE_SESSION && own == console;
}
