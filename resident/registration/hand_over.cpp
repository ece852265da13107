#include "registration/hand_over.h"

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
