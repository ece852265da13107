#pragma once
// Renaming a program file aside within its folder. Windows refuses to overwrite or
// delete a file that a process has mapped, but lets it be renamed on the same
// volume: the name is then free for a new file, and the renamed one can go at the
// next restart. Platform-free; the rename itself is handed in.
#include <cstdint>

// The names tried before giving up.
constexpr unsigned ASIDE_ATTEMPTS = 16;
// The length of the aside file's name.
constexpr unsigned ASIDE_NAME_LENGTH = 20;  // "Corvane-XXXXXXXX.old"

// Renames from to to without replacing anything; on failure sets *error (a Win32 error code).
using RenameFile = bool (*)(const wchar_t* from, const wchar_t* to, unsigned long* error);

// Renames the file at path to "Corvane-XXXXXXXX.old" in the same folder, XXXXXXXX
// the hexadecimal number firstNumber, then the next numbers while rename reports
// the name taken, ASIDE_ATTEMPTS names at most. True with the new path in aside;
// false, the file left as it was, on any other failure or when the path does not
// fit in capacity characters (terminator included).
bool RenameAside(const wchar_t* path, std::uint32_t firstNumber, RenameFile rename, wchar_t* aside,
                 unsigned capacity);

// Moving a freshly written program file over its target, and what a failed move
// means. A scanner that holds the new file without delete sharing makes the move
// fail with a sharing violation for a moment: it is tried again, MOVE_ATTEMPTS
// times in all, MOVE_RETRY_MS apart. Only an access-denied target (a running
// process maps it) goes aside; anything else leaves the target as it is.
constexpr unsigned MOVE_ATTEMPTS = 10;
constexpr unsigned MOVE_RETRY_MS = 200;
enum class MoveFailure { Retry, RenameTargetAside, GiveUp };
MoveFailure ClassifyMoveFailure(unsigned long error);

// The part of path after its last backslash: the file's name.
const wchar_t* FileNameOf(const wchar_t* path);
