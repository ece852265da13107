#pragma once
// Which session's resident drives the keyboard, and where a resident may run.
// Platform-free: the resident, the self-check and the installer decide by them.
#include <cstdint>

// Whether this process's session is the one attached to the physical console, the
// only one whose resident drives the keyboard. ownKnown: ProcessIdToSessionId
// succeeded. A session that cannot be told keeps driving the keyboard, as before
// the check; no session at the console (0xFFFFFFFF, while one attaches) is not it.
bool SessionDrivesKeyboard(bool ownKnown, std::uint32_t own, std::uint32_t console);

// Where a resident of a process in session OWN may run now. Session 0 is the
// services' session (a deployment tool's SYSTEM): nobody sees it or sits at it, so
// nothing stays resident and nothing shows a box there; its resident belongs in
// the console's session, and with nobody at the console (0xFFFFFFFF, or the console
// in session 0) nowhere until the next log-on. A session that cannot be told is
// taken as an ordinary one, as before the check.
enum class ResidentPlace { Here, ConsoleSession, Nowhere };
ResidentPlace ResidentPlaceFor(bool ownKnown, std::uint32_t own, std::uint32_t console);
