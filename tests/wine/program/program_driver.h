#pragma once
// Drives Corvane.exe from another process, as the system and other programs
// do: starts it on the virtual devices, finds its control window and its
// message boxes, and waits for what the doubles log. No GoogleTest here, so
// that the demo uses it too.

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "virtual_devices.h"

namespace corvane {

constexpr unsigned short kKeyboardVendorId = CORVANE_KEYBOARD_VID;
constexpr unsigned short kKeyboardProductId = CORVANE_KEYBOARD_PID;
constexpr wchar_t kControlWindowClass[] = L"CORVANE";

// The folder of the running program (bin\ of the build tree), no trailing backslash.
std::wstring ProgramFolder();

// A folder for one test or demo run under the build tree: build\windows-x64\wine-runs\NAME.
std::wstring RunFolder(const std::wstring& name);

// The folder that files written to the system directory land in, named as a
// program started from there reports its own path: SysWOW64 for a 32-bit process
// on 64-bit Windows, whose writes to the system directory are redirected there.
std::wstring SystemDirectory();

// An installed Corvane runs from the system directory and takes setupapi.dll
// from there (hid.dll always comes from there, where wine-run puts its double):
// while this object lives the double from ProgramFolder() stands in for the
// system's, which is put back when it goes.
class VirtualKeyboardInSystemDirectory {
 public:
  explicit VirtualKeyboardInSystemDirectory(const std::wstring& dir);
  ~VirtualKeyboardInSystemDirectory();
  VirtualKeyboardInSystemDirectory(const VirtualKeyboardInSystemDirectory&) = delete;
  VirtualKeyboardInSystemDirectory& operator=(const VirtualKeyboardInSystemDirectory&) = delete;
  bool ready() const { return ready_; }

 private:
  std::wstring dir_;
  bool ready_ = false;
};

// Three collections of the keyboard (the keyboard one exclusive, as Windows
// keeps it), a foreign mouse, and two devices that share one identifier each.
std::vector<vdev::HidInterface> KeyboardAndForeignDevices();
std::vector<std::string> KeyboardInterfaceNames(const std::vector<vdev::HidInterface>& interfaces);
std::vector<std::string> ForeignInterfaceNames(const std::vector<vdev::HidInterface>& interfaces);

struct Process {
  HANDLE handle = nullptr;
  DWORD pid = 0;
  DWORD startTick = 0;
};

// Copies Corvane.exe and the setupapi double from ProgramFolder()
// into DIR\app (once) and starts the copy with ARGUMENTS after the quoted
// program path (none when empty), in DIR (or FOLDER, when given) as current directory,
// on DESKTOP (null: this one), CORVANE_DOUBLES_DIR naming DIR. The copy keeps the build's program safe from
// "/uninstall", which deletes its own file.
bool StartCorvane(const std::wstring& dir, const std::wstring& arguments, Process* process,
                  const std::wstring& folder = L"", const wchar_t* desktop = nullptr);
// A second desktop stands in for another session: FindWindowW here does not see its windows.
constexpr wchar_t kOtherDesktop[] = L"winsta0\\CorvaneOther";
std::wstring CorvaneCopyPath(const std::wstring& dir);

// The self-check as a user types it into a command prompt: "cmd.exe /c" runs the
// quoted path of PROGRAM (CorvaneCopyPath(DIR), or another Corvane.exe) followed by
// TYPED, in DIR as current directory, CORVANE_DOUBLES_DIR naming DIR. True when cmd
// ended within 10 s, leaving no process it started behind; its exit code (the
// check's, after a redirection) and the text of DIR\check.txt (UTF-8) in the outputs.
constexpr wchar_t kCheckToFile[] = L"/check > check.txt";
// Runs "cmd.exe /c LINE" in DIR: true when cmd ended within 10 s and left no process
// it started running; its exit code in *exitCode.
bool RunInCmd(const std::wstring& dir, const std::wstring& line, DWORD* exitCode);
// The text of the file at PATH (at most 16 KB); false when it cannot be read.
bool ReadTextFile(const std::wstring& path, std::string* text);
bool RunCheck(const std::wstring& dir, const std::wstring& program, DWORD* exitCode, std::string* text,
              const std::wstring& typed = kCheckToFile);
// "/check" of CorvaneCopyPath(DIR) started directly with a pipe as its standard output
// (Wine's cmd gives the left side of "|" a file): true when it ended within 10 s; its
// exit code and what it wrote into the pipe in the outputs.
bool RunCheckIntoPipe(const std::wstring& dir, DWORD* exitCode, std::string* text);
// A pipe for a started program's output, as a deployment tool reads it; whether every writer has closed it.
bool CreateOutputPipe(HANDLE* reader, HANDLE* writer);
bool PipeEnded(HANDLE reader);

// True when the process ended within the time; its exit code in *exitCode.
bool WaitForExit(const Process& process, DWORD timeoutMs, DWORD* exitCode);
bool IsRunning(const Process& process);

// The control window (class CORVANE) that belongs to PID; null if none.
HWND FindControlWindow(DWORD pid);
HWND WaitForControlWindow(DWORD pid, DWORD timeoutMs);

// A message box of PID with the caption CAPTION (dialog class #32770): its text
// and the window; null when none appears within the time.
HWND WaitForMessageBox(DWORD pid, const wchar_t* caption, DWORD timeoutMs, std::wstring* text);
// Presses its OK button.
bool DismissMessageBox(HWND box);

// The handles PROCESS holds: GetProcessHandleCount where it counts them (Wine's
// says 0), else the entries of the system's handle table owned by the process.
DWORD OpenHandleCount(const Process& process);

// Ends the process: dismisses its message boxes, closes its control window,
// and terminates it when that does not end it in time. Closes the handle.
void EndProcess(Process* process);

// Polls (every 20 ms) until DONE returns true or the time is up.
bool WaitUntil(DWORD timeoutMs, const std::function<bool()>& done);

// Waits until every interface in NAMES has received BYTES from PID (0: any
// process) in a report after the first SKIP reports of the log.
bool WaitForReportOnEach(const std::wstring& dir, size_t skip, DWORD pid, const std::vector<std::string>& names,
                         const std::vector<unsigned char>& bytes, DWORD timeoutMs);

// Waits until audio.log holds EVENT (with FIELDS as its first words, when given)
// from PID; returns the entry's index, or -1.
int WaitForAudioEvent(const std::wstring& dir, DWORD pid, const std::string& event,
                      const std::vector<std::string>& fields, DWORD timeoutMs);

// The entries of audio.log written by PID.
std::vector<vdev::LogEntry> AudioEventsOf(const std::wstring& dir, DWORD pid);

// The mute command as the keyboard receives it.
std::vector<unsigned char> MuteReport(bool muted);

// Whether a process that PID started still runs (Toolhelp snapshot; true when
// none can be taken). A command that a process started before its exit is, after
// the exit, either still running or already ended.
bool HasRunningChildren(DWORD pid);

// PendingFileRenameOperations, where MoveFileExW records what Windows renames or
// deletes at the next restart: the raw data, empty while there is no value.
std::vector<wchar_t> ReadPendingRenames();
bool RestorePendingRenames(const std::vector<wchar_t>& data);
// The files that the entries added after BEFORE delete at the restart, without
// the "\??\" that MoveFileExW puts in front.
std::vector<std::wstring> DeletionsAtRestartSince(const std::vector<wchar_t>& before);

// A window of class CORVANE in this process whose thread never retrieves a message,
// as a hung resident's or another program's window of that class. Gone with the object.
class UnansweringWindow {
 public:
  UnansweringWindow();
  UnansweringWindow(const UnansweringWindow&) = delete;
  UnansweringWindow& operator=(const UnansweringWindow&) = delete;
  ~UnansweringWindow();
  HWND window() const { return window_; }

 private:
  static DWORD WINAPI Own(void* self);
  HANDLE created_ = nullptr;
  HANDLE release_ = nullptr;
  HANDLE thread_ = nullptr;
  HWND window_ = nullptr;
};

}  // namespace corvane
