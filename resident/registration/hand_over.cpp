#include "registration/hand_over.h"

#include <sddl.h>
#include <tlhelp32.h>

#include "registration/hand_over_rules.h"

namespace {

constexpr wchar_t END_EVENT_NAME[] = L"Global\\Corvane.EndEveryResident";
// Full access for SYSTEM and administrators; only SYNCHRONIZE (0x00100000) for
// authenticated users and for the object's owner (OWNER RIGHTS takes away the
// owner's implicit right to change the access list). Protected: nothing inherited.
constexpr wchar_t END_EVENT_SECURITY[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x00100000;;;AU)(A;;0x00100000;;;OW)";
constexpr DWORD PROCESS_POLL_MS = 50;

// Created with the guarded descriptor when no process holds it yet, else opened
// with ACCESS, which the descriptor may refuse.
HANDLE OpenEndEvent(DWORD access) {
  SECURITY_ATTRIBUTES attributes;
  if (!DescribeSecurity(END_EVENT_SECURITY, &attributes)) return nullptr;
  HANDLE event = CreateEventExW(&attributes, END_EVENT_NAME, CREATE_EVENT_MANUAL_RESET, access);
  LocalFree(attributes.lpSecurityDescriptor);
  return event;
}

// Whether a process of Corvane.exe other than this one and its parent runs.
// Without a list of processes, none is known to run.
bool AnotherCorvaneRuns() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  const DWORD self = GetCurrentProcessId();
  DWORD parent = self;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == self) parent = entry.th32ParentProcessID;
  }
  bool found = false;
  for (BOOL more = Process32FirstW(snapshot, &entry); more && !found; more = Process32NextW(snapshot, &entry)) {
    found = IsAnotherCorvane(entry.szExeFile, entry.th32ProcessID, self, parent);
  }
  CloseHandle(snapshot);
  return found;
}

}  // namespace

bool EndRunningResident(HWND window, UINT message) {
  // Taken before the message: once the resident has gone, its window no longer leads to it.
  HANDLE process = nullptr;
  DWORD processId = 0;
  if (GetWindowThreadProcessId(window, &processId)) process = OpenProcess(SYNCHRONIZE, FALSE, processId);
  bool handled = SendMessageTimeoutW(window, message, 0, 0, SMTO_ABORTIFHUNG, RESIDENT_ANSWER_WAIT_MS, nullptr) != 0;
  if (!handled) PostMessageW(window, message, 0, 0);
  if (!process) return handled;
  const bool ended = WaitForSingleObject(process, RESIDENT_EXIT_WAIT_MS) == WAIT_OBJECT_0;
  CloseHandle(process);
  return ended;
}

HANDLE WatchEndOfEveryResident() { return OpenEndEvent(SYNCHRONIZE); }

bool EndEveryResident() {
  HANDLE event = OpenEndEvent(EVENT_MODIFY_STATE);
  if (!event) return false;
  bool ended = false;
  if (SetEvent(event)) {
    const DWORD start = GetTickCount();
    while (!(ended = !AnotherCorvaneRuns()) && GetTickCount() - start < RESIDENT_EXIT_WAIT_MS) Sleep(PROCESS_POLL_MS);
    ResetEvent(event);
  }
  CloseHandle(event);
  return ended;
}

bool DescribeSecurity(const wchar_t* sddl, SECURITY_ATTRIBUTES* attributes) {
  attributes->nLength = sizeof(*attributes);
  attributes->bInheritHandle = FALSE;
  attributes->lpSecurityDescriptor = nullptr;
  return ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                              &attributes->lpSecurityDescriptor, nullptr) != FALSE;
}
