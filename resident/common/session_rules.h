#pragma once
// Which session's resident drives the keyboard. Platform-free: the resident and
// the self-check both decide by it.
#include <cstdint>

// Whether this process's session is the one attached to the physical console, the
// only one whose resident drives the keyboard. ownKnown: ProcessIdToSessionId
// succeeded. A session that cannot be told keeps driving the keyboard, as before
// the check; no session at the console (0xFFFFFFFF, while one attaches) is not it.
bool SessionDrivesKeyboard(bool ownKnown, std::uint32_t own, std::uint32_t console);
