#include "check/self_check.h"

#include <mmdeviceapi.h>
#include <endpointvolume.h>
// Defines the property key here instead of taking it from a library.
#include <initguid.h>
#include <functiondiscoverykeys_devpkey.h>

#include "check/check_report.h"
#include "elevation/elevation.h"
#include "elevation/elevation_rules.h"
#include "common/control_ids.h"
#include "common/resident_answer.h"
#include "common/session_rules.h"
#include "common/system_functions.h"
#include "keyboard/feature_channel.h"
#include "keyboard/keyboard_identity.h"
#include "registration/install_record.h"
#include "registration/install_record_values.h"
#include "registration/program_file.h"
#include "res/resource.h"

namespace {

constexpr unsigned NAME_CAPACITY = 256;
// Long enough for a resident that binds afresh before it answers.
constexpr UINT RESIDENT_ANSWER_TIMEOUT_MS = 3000;

Answer AnswerOf(bool yes) { return yes ? Answer::Yes : Answer::No; }

void DescribeSystemError(std::uint32_t code, wchar_t* text, unsigned capacity) {
  if (!FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text, capacity,
                      nullptr))
    text[0] = L'\0';
}

// GetVersionExW answers no higher than the newest Windows the manifest names; the kernel's
// own call tells the truth.
void ReadWindowsVersion(ProgramFacts* program) {
  using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  FARPROC address = ntdll ? GetProcAddress(ntdll, "RtlGetVersion") : nullptr;
  if (!address) return;
  OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  if (reinterpret_cast<RtlGetVersionFunction>(reinterpret_cast<void*>(address))(&version) != 0) return;
  program->WindowsMajor = version.dwMajorVersion;
  program->WindowsMinor = version.dwMinorVersion;
  program->WindowsBuild = version.dwBuildNumber;
}

void ReadProgram(ProgramFacts* program, const WCHAR* path) {
  program->Path = path;
  ReadFileVersion(path, program->Version);
  program->Bits = sizeof(void*) * 8;
  BOOL wow64 = FALSE;
  program->Wow64 = IsWow64Process(GetCurrentProcess(), &wow64) ? AnswerOf(wow64) : Answer::Unknown;
  ReadWindowsVersion(program);
  switch (ReadTokenElevation()) {
    case ElevationState::Elevated: program->Elevated = Answer::Yes; break;
    case ElevationState::NotElevated: program->Elevated = Answer::No; break;
    case ElevationState::Unknown: program->Elevated = Answer::Unknown; break;
  }
}

void ReadEndpointName(IMMDevice* device, OutputFacts* output, WCHAR (&name)[NAME_CAPACITY]) {
  IPropertyStore* store = nullptr;
  HRESULT result = device->OpenPropertyStore(STGM_READ, &store);
  if (SUCCEEDED(result)) {
    PROPVARIANT value;
    PropVariantInit(&value);
    result = store->GetValue(PKEY_Device_FriendlyName, &value);
    if (SUCCEEDED(result) && value.vt == VT_LPWSTR && value.pwszVal) {
      lstrcpynW(name, value.pwszVal, NAME_CAPACITY);
      output->Name = name;
    } else if (SUCCEEDED(result)) {
      result = DISP_E_TYPEMISMATCH;  // the key holds no text
    }
    PropVariantClear(&value);
    store->Release();
  }
  output->NameResult = static_cast<std::uint32_t>(result);
}

// The default render endpoint of the console role, as the resident binds it, read
// without registering anything.
void ReadOutput(OutputFacts* output, WCHAR (&name)[NAME_CAPACITY]) {
  IMMDeviceEnumerator* enumerator = nullptr;
  IMMDevice* device = nullptr;
  IAudioEndpointVolume* volume = nullptr;
  BOOL muted = FALSE;
  output->FailedStep = L"CoCreateInstance(MMDeviceEnumerator)";
  HRESULT result = CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_INPROC_SERVER,
                                    __uuidof(IMMDeviceEnumerator), reinterpret_cast<void**>(&enumerator));
  if (SUCCEEDED(result)) {
    output->FailedStep = L"GetDefaultAudioEndpoint";
    result = enumerator->GetDefaultAudioEndpoint(eRender, eConsole, &device);
  }
  if (SUCCEEDED(result)) {
    output->Found = true;
    ReadEndpointName(device, output, name);
    output->FailedStep = L"Activate(IAudioEndpointVolume)";
    result = device->Activate(__uuidof(IAudioEndpointVolume), CLSCTX_ALL, nullptr, reinterpret_cast<void**>(&volume));
  }
  if (SUCCEEDED(result)) {
    output->FailedStep = L"GetMute";
    result = volume->GetMute(&muted);
  }
  if (SUCCEEDED(result)) {
    output->FailedStep = nullptr;
    output->Muted = muted != FALSE;
  }
  output->FailedResult = static_cast<std::uint32_t>(result);
  if (volume) volume->Release();
  if (device) device->Release();
  if (enumerator) enumerator->Release();
}

// Sends the state as the resident does: a state that cannot be read counts as not muted.
// Only from the session at the physical console, as the resident does: another
// session's state must not overwrite the light of the user at the screen.
void SendState(CheckFacts* facts, FeatureSendRecord* record) {
  const unsigned char value = facts->Output.FailedStep == nullptr && facts->Output.Muted ? 1 : 0;
  BuildFeatureReport(FEATURE_CMD_MUTE, value, facts->Report);
  if (!CheckSessionDrivesKeyboard(*facts)) return;
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  SendKeyboardFeature(FEATURE_CMD_MUTE, value, record);
  QueryPerformanceCounter(&end);
  facts->Keyboard = record;
  facts->SendMicroseconds = static_cast<std::uint32_t>((end.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart);
}

// A value of the installation record, where the resident writes it: the 64-bit view.
void ReadRecordEntry(const WCHAR* keyPath, const WCHAR* valueName, const WCHAR* self, RecordEntryFacts* entry,
                     WCHAR (&command)[2 * PROGRAM_PATH_CAPACITY]) {
  command[0] = L'\0';
  LSTATUS status = ReadRecordText(keyPath, valueName, command, sizeof(command));
  entry->ReadError = static_cast<std::uint32_t>(status);
  entry->Command = command;
  if (status != ERROR_SUCCESS) return;
  WCHAR program[PROGRAM_PATH_CAPACITY];
  ProgramOfCommand(command, program);
  entry->Program = CompareWithSelf(program, self);
}

// The local time of the check and its offset from UTC, as the time zone settings give them for now.
void ReadTime(CheckTime* time) {
  SYSTEMTIME utc, local;
  GetSystemTime(&utc);
  FILETIME utcFile, localFile;
  if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local) || !SystemTimeToFileTime(&utc, &utcFile) ||
      !SystemTimeToFileTime(&local, &localFile))
    return;
  ULARGE_INTEGER utcTicks = {{utcFile.dwLowDateTime, utcFile.dwHighDateTime}};
  ULARGE_INTEGER localTicks = {{localFile.dwLowDateTime, localFile.dwHighDateTime}};
  constexpr LONGLONG TICKS_PER_MINUTE = 600000000;  // of 100 ns
  const LONGLONG offset = static_cast<LONGLONG>(localTicks.QuadPart - utcTicks.QuadPart) / TICKS_PER_MINUTE;
  *time = CheckTime{true,        local.wYear,   local.wMonth,  local.wDay, local.wHour,
                    local.wMinute, local.wSecond, static_cast<std::int32_t>(offset)};
}

// Whether PROGRAM lies directly in the system folder of its own bitness: System32 for a
// 64-bit program or on 32-bit Windows, SysWOW64 for a 32-bit program on 64-bit Windows.
Answer InSystemFolderOfItsBitness(const WCHAR* program) {
  DWORD type;
  if (!GetBinaryTypeW(program, &type) || (type != SCS_32BIT_BINARY && type != SCS_64BIT_BINARY)) return Answer::Unknown;
  ProgramPlaceText place;
  ReadProgramPlace(program, &place);
  // Read here too: ReadProgramPlace reads it only for a WoW64 process, and this one may be 64-bit.
  WCHAR wow64[MAX_PATH];
  const UINT length = GetSystemWow64DirectoryW(wow64, MAX_PATH);
  place.Place.Wow64 = type == SCS_32BIT_BINARY && length > 0 && length < MAX_PATH;
  if (place.Place.Wow64 && place.Wow64[0] == L'\0') place.Place.Wow64Folder = wow64;
  return AnswerOf(IsInstalledProgram(place.Place));
}

void ReadRunProgram(CheckFacts* facts) {
  if (facts->RunValue.ReadError != ERROR_SUCCESS || facts->RunValue.Program == NamedProgram::Missing) return;
  WCHAR program[PROGRAM_PATH_CAPACITY];
  ProgramOfCommand(facts->RunValue.Command, program);
  ReadFileVersion(program, facts->RunProgramVersion);
  facts->RunProgramInSystemFolder = InSystemFolderOfItsBitness(program);
}

// The resident's own account of what it holds. Sent, not posted, so that the answer
// comes back to this process only; a hung resident (SMTO_ABORTIFHUNG) or one busy
// beyond the time-out gives none.
void AskResident(HWND window, CheckFacts* facts) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(window, WM_CHECK_QUERY, 0, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG, RESIDENT_ANSWER_TIMEOUT_MS,
                           &result)) {
    facts->ResidentAskError = GetLastError();
    // Earlier Windows versions report a time-out with no error code.
    if (facts->ResidentAskError == ERROR_SUCCESS) facts->ResidentAskError = ERROR_TIMEOUT;
    return;
  }
  facts->ResidentAnswered = UnpackResidentAnswer(result, &facts->Resident);
}

// The resident of this session: FindWindowW sees the windows of this desktop only.
void FindResident(HINSTANCE instance, CheckFacts* facts, WCHAR (&path)[PROGRAM_PATH_CAPACITY]) {
  WCHAR className[100];
  if (LoadStringW(instance, IDS_CLASS_NAME, className, ARRAYSIZE(className)) == 0) return;
  HWND window = FindWindowW(className, nullptr);
  DWORD processId = 0;
  facts->ResidentRunning = window && GetWindowThreadProcessId(window, &processId) != 0;
  facts->ResidentProcessId = processId;
  if (!facts->ResidentRunning) return;
  AskResident(window, facts);
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
  DWORD length = PROGRAM_PATH_CAPACITY;
  if (process && QueryFullProcessImageNameW(process, 0, path, &length)) {
    facts->ResidentPath = path;
    ReadFileVersion(path, facts->ResidentVersion);
    facts->ResidentIsRunProgram = Answer::Unknown;
    if (facts->RunValue.ReadError == ERROR_SUCCESS) {
      WCHAR program[PROGRAM_PATH_CAPACITY];
      ProgramOfCommand(facts->RunValue.Command, program);
      switch (CompareWithSelf(program, path)) {
        case NamedProgram::ThisFile: facts->ResidentIsRunProgram = Answer::Yes; break;
        case NamedProgram::Missing:
        case NamedProgram::AnotherFile: facts->ResidentIsRunProgram = Answer::No; break;
        case NamedProgram::NotCompared: break;
      }
    }
  } else {
    facts->ResidentPathError = GetLastError();
  }
  if (process) CloseHandle(process);
}

void ReadLid(CheckFacts* facts) {
  SYSTEM_POWER_CAPABILITIES capabilities = {};
  facts->LidKnown = Sys.GetPwrCapabilities && Sys.GetPwrCapabilities(&capabilities);
  if (facts->LidKnown)
    facts->LidPresent = capabilities.LidPresent != FALSE;
  else
    facts->LidError = Sys.GetPwrCapabilities ? GetLastError() : ERROR_PROC_NOT_FOUND;
}

void ReadSession(CheckFacts* facts) {
  DWORD own = 0;
  facts->Session.Known = ProcessIdToSessionId(GetCurrentProcessId(), &own) != FALSE;
  if (!facts->Session.Known) facts->Session.Error = GetLastError();
  facts->Session.Own = own;
  facts->Session.Console = WTSGetActiveConsoleSessionId();
}

void WriteUtf8(HANDLE output, const wchar_t* text) {
  const int characters = lstrlenW(text);
  const int length = WideCharToMultiByte(CP_UTF8, 0, text, characters, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return;
  char* bytes = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, static_cast<SIZE_T>(length)));
  if (!bytes) return;
  DWORD written;
  if (WideCharToMultiByte(CP_UTF8, 0, text, characters, bytes, length, nullptr, nullptr) == length)
    WriteFile(output, bytes, static_cast<DWORD>(length), &written, nullptr);
  HeapFree(GetProcessHeap(), 0, bytes);
}

// A file or pipe of the caller's gets the text as UTF-8; a console it was started
// from gets it as UTF-16, whatever its code page; otherwise a message box shows it,
// except in session 0, where nobody would see it: the exit code tells alone.
void Deliver(const wchar_t* text, int exitCode, bool boxSeen) {
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  const DWORD type = output && output != INVALID_HANDLE_VALUE ? GetFileType(output) : FILE_TYPE_UNKNOWN;
  if (type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE) {
    WriteUtf8(output, text);
    return;
  }
  if (AttachConsole(ATTACH_PARENT_PROCESS)) {
    HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
    if (console != INVALID_HANDLE_VALUE) {
      DWORD written;
      const bool shown = WriteConsoleW(console, text, static_cast<DWORD>(lstrlenW(text)), &written, nullptr);
      CloseHandle(console);
      if (shown) return;
    }
  }
  if (boxSeen)
    MessageBoxW(nullptr, text, L"Corvane check", MB_OK | (exitCode == 0 ? MB_ICONINFORMATION : MB_ICONWARNING));
}

}  // namespace

int RunSelfCheck(HINSTANCE instance) {
  // About 25 KB on the stack: the check runs alone, at the bottom of the main thread.
  CheckFacts facts = {};
  FeatureSendRecord record;
  WCHAR path[PROGRAM_PATH_CAPACITY];
  WCHAR endpointName[NAME_CAPACITY];
  WCHAR runCommand[2 * PROGRAM_PATH_CAPACITY];
  WCHAR uninstallCommand[2 * PROGRAM_PATH_CAPACITY];
  WCHAR residentPath[PROGRAM_PATH_CAPACITY];
  wchar_t text[CHECK_REPORT_CAPACITY];

  facts.DescribeError = DescribeSystemError;
  ReadTime(&facts.Time);
  const DWORD length = GetModuleFileNameW(nullptr, path, PROGRAM_PATH_CAPACITY);
  if (length == 0 || length >= PROGRAM_PATH_CAPACITY) path[0] = L'\0';
  ReadProgram(&facts.Program, path);

  const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  ReadOutput(&facts.Output, endpointName);
  if (com) CoUninitialize();

  facts.VendorId = KeyboardVendorId;
  facts.ProductId = KeyboardProductId;
  ReadSession(&facts);
  SendState(&facts, &record);
  ReadRecordEntry(RUN_KEY, PROGRAM_VALUE_NAME, path, &facts.RunValue, runCommand);
  ReadRecordEntry(UNINSTALL_KEY, L"UninstallString", path, &facts.UninstallEntry, uninstallCommand);
  ReadRunProgram(&facts);
  FindResident(instance, &facts, residentPath);
  ReadLid(&facts);

  FormatCheckReport(facts, text);
  const int exitCode = CheckExitCode(facts);
  Deliver(text, exitCode,
          ResidentPlaceFor(facts.Session.Known, facts.Session.Own, facts.Session.Console) == ResidentPlace::Here);
  return exitCode;
}
