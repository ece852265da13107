#pragma once
// The values of the installation record, computed from their inputs, and the program
// that a recorded command starts. Platform-free: the Win32 side gathers the inputs
// and writes the table in its order.
#include <cstdint>

constexpr const wchar_t* RUN_KEY = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const wchar_t* UNINSTALL_KEY = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Corvane";
constexpr const wchar_t* PROGRAM_VALUE_NAME = L"Corvane";  // Run value and uninstall subkey

constexpr unsigned PROGRAM_PATH_CAPACITY = 260;  // characters, terminator included

struct InstallRecordInputs {
  const wchar_t* ProgramPath;  // full path of the running program, at most 259 characters
  std::uint16_t VersionMajor;  // first component of the file version, 0 without one
  std::uint16_t VersionFourth; // fourth component of the file version, 0 without one
  std::uint64_t FileSize;      // bytes, 0 when it cannot be read
  unsigned Year, Month, Day;   // local date
};

enum class RecordValueType { String, Dword };

struct RecordValue {
  const wchar_t* Name;
  RecordValueType Type;
  const wchar_t* Text;   // String values; points into the InstallRecord, at inputs.ProgramPath or at a constant
  std::uint32_t Number;  // Dword values
};

constexpr unsigned UNINSTALL_VALUE_COUNT = 13;

struct InstallRecord {
  // The Run value: the program path, in double quotes when it contains a blank so
  // that Windows cannot run a different program from the first blank on.
  wchar_t RunCommand[PROGRAM_PATH_CAPACITY + 2];
  wchar_t DisplayVersion[16];
  wchar_t InstallDate[16];
  wchar_t InstallLocation[PROGRAM_PATH_CAPACITY];
  wchar_t UninstallString[PROGRAM_PATH_CAPACITY + 2 + 12];
  RecordValue UninstallValues[UNINSTALL_VALUE_COUNT];  // in the order they are written
};

// Fills record from inputs; record's text fields are terminated and the value table
// points into record, so record must not be copied afterwards.
void ComputeInstallRecord(const InstallRecordInputs& inputs, InstallRecord& record);

// The program that COMMAND starts: the text between leading double quotes, else
// the text before the first " /", else all of it. Cut to fit PATH.
void ProgramOfCommand(const wchar_t* command, wchar_t (&path)[PROGRAM_PATH_CAPACITY]);
