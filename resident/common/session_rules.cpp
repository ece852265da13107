#include "session_rules.h"

namespace {

constexpr std::uint32_t NO_CONSOLE_SESSION = 0xFFFFFFFF;
constexpr std::uint32_t SERVICES_SESSION = 0;

}  // namespace

bool SessionDrivesKeyboard(bool ownKnown, std::uint32_t own, std::uint32_t console) {
  if (!ownKnown) return true;
  return console != NO_CONSOLE_SESSION && own == console;
}

ResidentPlace ResidentPlaceFor(bool ownKnown, std::uint32_t own, std::uint32_t console) {
  if (!ownKnown || own != SERVICES_SESSION) return ResidentPlace::Here;
  return console == NO_CONSOLE_SESSION || console == SERVICES_SESSION ? ResidentPlace::Nowhere
                                                                      : ResidentPlace::ConsoleSession;
}
