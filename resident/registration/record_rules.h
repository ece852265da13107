#pragma once
// Access masks of the registry keys that the record is written and removed
// through, and what ending an uninstall means. Platform-free, so that native
// tests hold the masks against the rights each call needs; the numbers are
// those of <winnt.h>, which the Win32 side checks when it compiles.
#include <cstdint>

constexpr std::uint32_t RIGHT_QUERY_VALUE = 0x0001;
constexpr std::uint32_t RIGHT_SET_VALUE = 0x0002;
constexpr std::uint32_t RIGHT_CREATE_SUB_KEY = 0x0004;
constexpr std::uint32_t RIGHT_READ_CONTROL = 0x00020000;
constexpr std::uint32_t RIGHTS_KEY_WRITE = RIGHT_READ_CONTROL | RIGHT_SET_VALUE | RIGHT_CREATE_SUB_KEY;
// The 64-bit registry view, where Windows looks for both keys, also for a 32-bit program.
constexpr std::uint32_t VIEW_64 = 0x0100;
constexpr std::uint32_t VIEW_32 = 0x0200;

// Run key and uninstall entry, opened or created to write the record's values.
constexpr std::uint32_t RECORD_WRITE_ACCESS = RIGHTS_KEY_WRITE | VIEW_64;
// Run key, to delete the value "Corvane".
constexpr std::uint32_t RUN_VALUE_REMOVE_ACCESS = RIGHTS_KEY_WRITE | VIEW_64;
// Uninstall entry, to enumerate and delete its values.
constexpr std::uint32_t ENTRY_VALUES_REMOVE_ACCESS = RIGHTS_KEY_WRITE | RIGHT_QUERY_VALUE | VIEW_64;
// The view argument of the entry's own deletion (RegDeleteKeyExW).
constexpr std::uint32_t ENTRY_DELETE_VIEW = VIEW_64;

// Registry results that leave the record as removal wants it: done, or there was
// nothing to remove (ERROR_FILE_NOT_FOUND).
bool CountsAsRemoved(long status);

// How an uninstall ends once the indicator is off, from RemoveInstallRecord's
// result: a program that is still recorded must not delete its file.
struct UninstallEnd {
  bool SelfDelete;  // start the command that deletes the program file, then quit
  int ExitCode;     // the quit code
};
UninstallEnd EndOfUninstall(int recordRemoval);

// What a value of the record names, compared with the running program's file by
// volume and file index.
enum class NamedProgram : unsigned char { Missing, ThisFile, AnotherFile, NotCompared };

// An uninstall acts only on its own record: the Run value and the uninstall
// command each name this very file or a file that is gone (an absent value names
// none). A record of another program that exists, or one that cannot be compared,
// is left alone with the resident that runs it.
bool RecordIsOurs(NamedProgram runValue, NamedProgram uninstallCommand);
