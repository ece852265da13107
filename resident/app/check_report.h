#pragma once
// The text and the exit code of "Corvane.exe /check" from the facts that the
// Win32 side gathered. Platform-free, so that every line is tested natively.
#include <cstdint>

#include "keyboard/feature_report.h"
#include "registration/record_rules.h"

enum class Answer : unsigned char { No, Yes, Unknown };

struct ProgramFacts {
  const wchar_t* Path;       // the running program's file
  std::uint16_t Version[4];  // its file version, zeros without a version block
  unsigned Bits;             // 32 or 64
  Answer Wow64;              // a 32-bit program on 64-bit Windows
  std::uint32_t WindowsMajor, WindowsMinor, WindowsBuild;
  Answer Elevated;
};

struct OutputFacts {
  bool Found;                  // the default render endpoint exists
  const wchar_t* FailedStep;   // the call that failed, null when the mute state was read
  std::uint32_t FailedResult;  // its HRESULT
  const wchar_t* Name;         // the endpoint's friendly name, null when it could not be read
  std::uint32_t NameResult;    // the HRESULT of that reading when Name is null
  bool Muted;
};

// The Run value or the uninstall entry's "UninstallString", read from the 64-bit view.
struct RecordEntryFacts {
  std::uint32_t ReadError;  // 0: read; ERROR_FILE_NOT_FOUND (2): absent; otherwise the registry's error
  const wchar_t* Command;   // the value as read
  NamedProgram Program;     // the program that Command starts
};

struct CheckFacts {
  ProgramFacts Program;
  OutputFacts Output;
  std::uint16_t VendorId, ProductId;  // the keyboard this build is for
  unsigned char Report[FEATURE_REPORT_LENGTH];
  const FeatureSendRecord* Keyboard;
  std::uint32_t SendMicroseconds;  // the whole walk
  RecordEntryFacts RunValue, UninstallEntry;
  bool ResidentRunning;
  std::uint32_t ResidentProcessId;
  bool LidKnown;             // the power capabilities could be read
  bool LidPresent;
  std::uint32_t LidError;    // the system's error code when they could not
  // The system's text for an error code or HRESULT (FormatMessageW); may leave it empty.
  void (*DescribeError)(std::uint32_t code, wchar_t* text, unsigned capacity);
};

constexpr unsigned CHECK_REPORT_CAPACITY = 8192;

// Lines ended by CR LF, at most about one screen.
void FormatCheckReport(const CheckFacts& facts, wchar_t (&text)[CHECK_REPORT_CAPACITY]);

// 0 when at least one interface of the keyboard took the report and an output exists.
int CheckExitCode(const CheckFacts& facts);

// The program that COMMAND starts: the text between leading double quotes, else
// the text before the first " /", else all of it. Cut to fit PATH.
void ProgramOfCommand(const wchar_t* command, wchar_t (&path)[RECORDED_PATH_CAPACITY]);
