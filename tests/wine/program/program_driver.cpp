#include "program_driver.h"

#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>

namespace corvane {
namespace {

struct WindowSearch {
  DWORD pid;
  const wchar_t* className;
  const wchar_t* caption;  // null: any
  HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM param) {
  WindowSearch* search = reinterpret_cast<WindowSearch*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->pid) return TRUE;
  wchar_t name[64];
  if (!GetClassNameW(window, name, ARRAYSIZE(name)) || wcscmp(name, search->className) != 0) return TRUE;
  if (search->caption) {
    wchar_t caption[256];
    GetWindowTextW(window, caption, ARRAYSIZE(caption));
    if (wcscmp(caption, search->caption) != 0) return TRUE;
  }
  search->found = window;
  return FALSE;
}

HWND FindTopLevel(DWORD pid, const wchar_t* className, const wchar_t* caption) {
  WindowSearch search{pid, className, caption, nullptr};
  EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The text of a window of another process; WM_GETTEXT is answered by its owner.
std::wstring WindowText(HWND window) {
  wchar_t text[1024] = L"";
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, ARRAYSIZE(text), reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                           2000, &length)) {
    return std::wstring();
  }
  return std::wstring(text, std::min<size_t>(length, ARRAYSIZE(text) - 1));
}

BOOL CALLBACK CollectStaticText(HWND child, LPARAM param) {
  wchar_t name[32];
  if (GetClassNameW(child, name, ARRAYSIZE(name)) && _wcsicmp(name, L"Static") == 0) {
    std::wstring text = WindowText(child);
    if (!text.empty()) {
      *reinterpret_cast<std::wstring*>(param) = text;
      return FALSE;
    }
  }
  return TRUE;
}

bool CopyBeside(const std::wstring& from, const std::wstring& to) {
  return CopyFileW(from.c_str(), to.c_str(), FALSE) != 0;
}

}  // namespace

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::wstring();
  std::wstring folder(path, length);
  return folder.substr(0, folder.rfind(L'\\'));
}

std::wstring RunFolder(const std::wstring& name) {
  std::wstring bin = ProgramFolder();
  return bin.substr(0, bin.rfind(L'\\')) + L"\\wine-runs\\" + name;
}

std::wstring SystemDirectory() {
  wchar_t path[MAX_PATH];
  BOOL wow64 = FALSE;
  UINT length = IsWow64Process(GetCurrentProcess(), &wow64) && wow64 ? GetSystemWow64DirectoryW(path, MAX_PATH)
                                                                      : GetSystemDirectoryW(path, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::wstring(path, length) : std::wstring();
}

VirtualKeyboardInSystemDirectory::VirtualKeyboardInSystemDirectory(const std::wstring& dir) : dir_(dir) {
  std::wstring system = SystemDirectory();
  const std::wstring installed = system + L"\\setupapi.dll";
  ready_ = CopyFileW(installed.c_str(), (dir_ + L"\\system-setupapi.dll").c_str(), FALSE) &&
           CopyBeside(ProgramFolder() + L"\\setupapi.dll", installed);
}

VirtualKeyboardInSystemDirectory::~VirtualKeyboardInSystemDirectory() {
  if (ready_)
    CopyFileW((dir_ + L"\\system-setupapi.dll").c_str(), (SystemDirectory() + L"\\setupapi.dll").c_str(), FALSE);
}

std::vector<vdev::HidInterface> KeyboardAndForeignDevices() {
  const unsigned short vid = kKeyboardVendorId;
  const unsigned short pid = kKeyboardProductId;
  return {
      {L"keyboard-mi00", vid, pid, true},
      {L"mouse", static_cast<unsigned short>(vid ^ 0x5A5A), static_cast<unsigned short>(pid ^ 0x0C77), true},
      {L"keyboard-mi01", vid, pid, false},
      {L"same-vendor", vid, static_cast<unsigned short>(pid ^ 0x0F0F), false},
      {L"keyboard-mi02", vid, pid, false},
      {L"same-product", static_cast<unsigned short>(vid ^ 0x0F0F), pid, false},
  };
}

static std::vector<std::string> NamesWhere(const std::vector<vdev::HidInterface>& interfaces, bool keyboard) {
  std::vector<std::string> names;
  for (const vdev::HidInterface& device : interfaces) {
    bool isKeyboard = device.vendorId == kKeyboardVendorId && device.productId == kKeyboardProductId;
    if (isKeyboard == keyboard) names.emplace_back(device.name.begin(), device.name.end());
  }
  return names;
}

std::vector<std::string> KeyboardInterfaceNames(const std::vector<vdev::HidInterface>& interfaces) {
  return NamesWhere(interfaces, true);
}

std::vector<std::string> ForeignInterfaceNames(const std::vector<vdev::HidInterface>& interfaces) {
  return NamesWhere(interfaces, false);
}

std::wstring CorvaneCopyPath(const std::wstring& dir) { return dir + L"\\app\\Corvane.exe"; }

// The copy of Corvane.exe and the setupapi double in DIR\app (hid.dll is taken
// from the system folder, where wine-run puts its double).
static bool PrepareCorvaneCopy(const std::wstring& dir) {
  std::wstring bin = ProgramFolder();
  std::wstring app = dir + L"\\app";
  if (GetFileAttributesW(app.c_str()) == INVALID_FILE_ATTRIBUTES) {
    if (!CreateDirectoryW(app.c_str(), nullptr)) return false;
    if (!CopyBeside(bin + L"\\setupapi.dll", app + L"\\setupapi.dll")) return false;
  }
  std::wstring program = CorvaneCopyPath(dir);
  return GetFileAttributesW(program.c_str()) != INVALID_FILE_ATTRIBUTES || CopyBeside(bin + L"\\Corvane.exe", program);
}

// Starts PROGRAM in FOLDER (DIR when empty) as current directory, on DESKTOP (null: this one), with
// CORVANE_DOUBLES_DIR naming DIR and, when OUTPUT is given (inheritable), that as its standard output.
static bool StartProgram(const std::wstring& dir, const std::wstring& program, const std::wstring& arguments,
                         HANDLE output, Process* process, const std::wstring& folder = L"",
                         const wchar_t* desktop = nullptr) {
  // Inherited by the child: the doubles find their folder through it.
  if (!SetEnvironmentVariableW(vdev::kDirVariable, dir.c_str())) return false;
  std::wstring commandLine = L"\"" + program + L"\"";
  if (!arguments.empty()) commandLine += L" " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.lpDesktop = const_cast<wchar_t*>(desktop);
  if (output) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
  }
  PROCESS_INFORMATION info = {};
  DWORD tick = GetTickCount();
  if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, output != nullptr, 0, nullptr,
                      (folder.empty() ? dir : folder).c_str(), &startup, &info)) {
    return false;
  }
  CloseHandle(info.hThread);
  process->handle = info.hProcess;
  process->pid = info.dwProcessId;
  process->startTick = tick;
  return true;
}

bool StartCorvane(const std::wstring& dir, const std::wstring& arguments, Process* process,
                  const std::wstring& folder, const wchar_t* desktop) {
  return PrepareCorvaneCopy(dir) &&
         StartProgram(dir, CorvaneCopyPath(dir), arguments, nullptr, process, folder, desktop);
}

bool RunInCmd(const std::wstring& dir, const std::wstring& line, DWORD* exitCode) {
  wchar_t cmd[MAX_PATH];
  UINT length = GetSystemDirectoryW(cmd, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  Process shell;
  if (!StartProgram(dir, std::wstring(cmd) + L"\\cmd.exe", L"/c " + line, nullptr, &shell)) return false;
  bool ended = WaitForExit(shell, 10000, exitCode);
  bool alone = ended && !HasRunningChildren(shell.pid);
  EndProcess(&shell);
  return alone;
}

bool ReadTextFile(const std::wstring& path, std::string* text) {
  HANDLE input = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (input == INVALID_HANDLE_VALUE) return false;
  char buffer[16384];
  DWORD size = 0;
  bool read = ReadFile(input, buffer, sizeof buffer, &size, nullptr) != 0;
  CloseHandle(input);
  text->assign(buffer, size);
  return read;
}

bool RunCheck(const std::wstring& dir, const std::wstring& program, DWORD* exitCode, std::string* text,
              const std::wstring& typed) {
  if (program == CorvaneCopyPath(dir) && !PrepareCorvaneCopy(dir)) return false;
  std::wstring path = dir + L"\\check.txt";
  DeleteFileW(path.c_str());
  // cmd drops the outer quotes and runs the rest as typed at its prompt.
  return RunInCmd(dir, L"\"\"" + program + L"\" " + typed + L"\"", exitCode) && ReadTextFile(path, text);
}

bool CreateOutputPipe(HANDLE* reader, HANDLE* writer) {
  SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
  // Room for the whole report of a check: the pipe is read once the check has ended.
  return CreatePipe(reader, writer, &inherited, 65536) && SetHandleInformation(*reader, HANDLE_FLAG_INHERIT, 0);
}

bool PipeEnded(HANDLE reader) {
  return !PeekNamedPipe(reader, nullptr, 0, nullptr, nullptr, nullptr) && GetLastError() == ERROR_BROKEN_PIPE;
}

bool RunCheckIntoPipe(const std::wstring& dir, DWORD* exitCode, std::string* text) {
  HANDLE reader, writer;
  if (!PrepareCorvaneCopy(dir) || !CreateOutputPipe(&reader, &writer)) return false;
  Process check;
  const bool started = StartProgram(dir, CorvaneCopyPath(dir), L"/check", writer, &check);
  CloseHandle(writer);
  const bool ended = started && WaitForExit(check, 10000, exitCode);
  EndProcess(&check);
  text->clear();
  char buffer[4096];
  DWORD got;
  while (started && ReadFile(reader, buffer, sizeof buffer, &got, nullptr) && got > 0) text->append(buffer, got);
  CloseHandle(reader);
  return ended;
}

bool WaitForExit(const Process& process, DWORD timeoutMs, DWORD* exitCode) {
  if (!process.handle || WaitForSingleObject(process.handle, timeoutMs) != WAIT_OBJECT_0) return false;
  return GetExitCodeProcess(process.handle, exitCode) != 0;
}

bool IsRunning(const Process& process) {
  return process.handle && WaitForSingleObject(process.handle, 0) == WAIT_TIMEOUT;
}

HWND FindControlWindow(DWORD pid) { return FindTopLevel(pid, kControlWindowClass, nullptr); }

HWND WaitForControlWindow(DWORD pid, DWORD timeoutMs) {
  HWND window = nullptr;
  WaitUntil(timeoutMs, [&] { return (window = FindControlWindow(pid)) != nullptr; });
  return window;
}

HWND WaitForMessageBox(DWORD pid, const wchar_t* caption, DWORD timeoutMs, std::wstring* text) {
  HWND box = nullptr;
  WaitUntil(timeoutMs, [&] { return (box = FindTopLevel(pid, L"#32770", caption)) != nullptr; });
  if (box && text) {
    text->clear();
    // The box may still be filling in its controls.
    WaitUntil(2000, [&] {
      EnumChildWindows(box, CollectStaticText, reinterpret_cast<LPARAM>(text));
      return !text->empty();
    });
  }
  return box;
}

bool DismissMessageBox(HWND box) { return PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0) != 0; }

DWORD OpenHandleCount(const Process& process) {
  DWORD count = 0;
  if (GetProcessHandleCount(process.handle, &count) && count != 0) return count;
  using Query = NTSTATUS(WINAPI*)(SYSTEM_INFORMATION_CLASS, PVOID, ULONG, PULONG);
  auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  if (!query) return 0;
  std::vector<BYTE> table(1 << 16);
  NTSTATUS status;
  ULONG needed = 0;
  // STATUS_INFO_LENGTH_MISMATCH: the table grew past the buffer.
  while ((status = query(SystemHandleInformation, table.data(), static_cast<ULONG>(table.size()), &needed)) ==
         static_cast<NTSTATUS>(0xC0000004)) {
    table.resize(std::max<size_t>(table.size() * 2, needed));
  }
  if (status < 0) return 0;
  const auto* handles = reinterpret_cast<const SYSTEM_HANDLE_INFORMATION*>(table.data());
  count = 0;
  for (ULONG i = 0; i < handles->Count; ++i) count += handles->Handle[i].OwnerPid == process.pid;
  return count;
}

void EndProcess(Process* process) {
  if (!process->handle) return;
  if (IsRunning(*process)) {
    while (HWND box = FindTopLevel(process->pid, L"#32770", nullptr)) {
      if (!DismissMessageBox(box)) break;
      WaitUntil(1000, [&] { return !IsWindow(box); });
      if (IsWindow(box)) break;
    }
    if (HWND window = FindControlWindow(process->pid)) {
      DWORD_PTR result;
      SendMessageTimeoutW(window, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, 2000, &result);
    }
    if (WaitForSingleObject(process->handle, 3000) != WAIT_OBJECT_0) {
      TerminateProcess(process->handle, 99);
      WaitForSingleObject(process->handle, 3000);
    }
  }
  CloseHandle(process->handle);
  process->handle = nullptr;
}

bool WaitUntil(DWORD timeoutMs, const std::function<bool()>& done) {
  DWORD start = GetTickCount();
  for (;;) {
    if (done()) return true;
    if (GetTickCount() - start >= timeoutMs) return false;
    Sleep(20);
  }
}

bool WaitForReportOnEach(const std::wstring& dir, size_t skip, DWORD pid, const std::vector<std::string>& names,
                         const std::vector<unsigned char>& bytes, DWORD timeoutMs) {
  return WaitUntil(timeoutMs, [&] {
    std::vector<vdev::Report> reports = vdev::ReadReports(dir);
    for (const std::string& name : names) {
      bool seen = false;
      for (size_t i = skip; i < reports.size() && !seen; ++i) {
        seen = reports[i].interfaceName == name && reports[i].bytes == bytes && (pid == 0 || reports[i].pid == pid);
      }
      if (!seen) return false;
    }
    return true;
  });
}

int WaitForAudioEvent(const std::wstring& dir, DWORD pid, const std::string& event,
                      const std::vector<std::string>& fields, DWORD timeoutMs) {
  int found = -1;
  WaitUntil(timeoutMs, [&] {
    std::vector<vdev::LogEntry> entries = vdev::ReadLog(dir, vdev::kAudioLog);
    for (size_t i = 0; i < entries.size(); ++i) {
      const vdev::LogEntry& entry = entries[i];
      if (entry.pid != pid || entry.event != event || entry.fields.size() < fields.size()) continue;
      if (std::equal(fields.begin(), fields.end(), entry.fields.begin())) {
        found = static_cast<int>(i);
        return true;
      }
    }
    return false;
  });
  return found;
}

std::vector<vdev::LogEntry> AudioEventsOf(const std::wstring& dir, DWORD pid) {
  std::vector<vdev::LogEntry> events;
  for (const vdev::LogEntry& entry : vdev::ReadLog(dir, vdev::kAudioLog)) {
    if (entry.pid == pid) events.push_back(entry);
  }
  return events;
}

std::vector<unsigned char> MuteReport(bool muted) {
  return {0x00, 0xA1, static_cast<unsigned char>(muted ? 1 : 0), 0, 0, 0, 0, 0, 0};
}

bool HasRunningChildren(DWORD pid) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return true;  // no answer is no proof of none
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  bool found = false;
  for (BOOL more = Process32FirstW(snapshot, &entry); more && !found; more = Process32NextW(snapshot, &entry)) {
    found = entry.th32ParentProcessID == pid;
  }
  CloseHandle(snapshot);
  return found;
}

namespace {

constexpr wchar_t kSessionManagerKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingRenamesValue[] = L"PendingFileRenameOperations";

// The pairs of source and new name (empty for a deletion) in the value's data.
std::vector<std::pair<std::wstring, std::wstring>> RenamePairs(const std::vector<wchar_t>& data) {
  std::vector<std::pair<std::wstring, std::wstring>> pairs;
  size_t at = 0;
  auto next = [&] {
    std::wstring text;
    while (at < data.size() && data[at] != L'\0') text += data[at++];
    ++at;
    return text;
  };
  while (at < data.size()) {
    std::wstring source = next();
    if (source.empty()) break;
    pairs.emplace_back(source, next());
  }
  return pairs;
}

}  // namespace

std::vector<wchar_t> ReadPendingRenames() {
  std::vector<wchar_t> data;
  DWORD size = 0;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingRenamesValue, RRF_RT_REG_MULTI_SZ, nullptr,
                   nullptr, &size) != ERROR_SUCCESS) {
    return data;
  }
  data.resize(size / sizeof(wchar_t));
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingRenamesValue, RRF_RT_REG_MULTI_SZ, nullptr,
                   data.data(), &size) != ERROR_SUCCESS) {
    data.clear();
  }
  data.resize(size / sizeof(wchar_t));
  return data;
}

bool RestorePendingRenames(const std::vector<wchar_t>& data) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return false;
  LSTATUS status = data.empty() ? RegDeleteValueW(key, kPendingRenamesValue)
                                : RegSetValueExW(key, kPendingRenamesValue, 0, REG_MULTI_SZ,
                                                 reinterpret_cast<const BYTE*>(data.data()),
                                                 static_cast<DWORD>(data.size() * sizeof(wchar_t)));
  RegCloseKey(key);
  return status == ERROR_SUCCESS || (data.empty() && status == ERROR_FILE_NOT_FOUND);
}

std::vector<std::wstring> DeletionsAtRestartSince(const std::vector<wchar_t>& before) {
  const auto earlier = RenamePairs(before);
  const auto pairs = RenamePairs(ReadPendingRenames());
  std::vector<std::wstring> deletions;
  for (size_t i = earlier.size(); i < pairs.size(); ++i) {
    const std::wstring& source = pairs[i].first;
    if (pairs[i].second.empty()) {
      deletions.push_back(source.compare(0, 4, L"\\??\\") == 0 ? source.substr(4) : source);
    }
  }
  return deletions;
}

UnansweringWindow::UnansweringWindow() {
  created_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  release_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (created_ && release_) thread_ = CreateThread(nullptr, 0, Own, this, 0, nullptr);
  if (thread_) WaitForSingleObject(created_, 5000);
}

UnansweringWindow::~UnansweringWindow() {
  if (thread_) {
    SetEvent(release_);
    WaitForSingleObject(thread_, 5000);
    CloseHandle(thread_);
  }
  if (release_) CloseHandle(release_);
  if (created_) CloseHandle(created_);
}

DWORD WINAPI UnansweringWindow::Own(void* self) {
  auto* owner = static_cast<UnansweringWindow*>(self);
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = DefWindowProcW;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = kControlWindowClass;
  RegisterClassW(&windowClass);  // fails harmlessly when an earlier one registered it
  owner->window_ = CreateWindowExW(0, kControlWindowClass, L"Unanswering", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                                   CW_USEDEFAULT, 0, nullptr, nullptr, windowClass.hInstance, nullptr);
  SetEvent(owner->created_);
  // Waits without retrieving messages: whatever is sent to the window waits too.
  WaitForSingleObject(owner->release_, INFINITE);
  if (owner->window_) DestroyWindow(owner->window_);
  return 0;
}

}  // namespace corvane
