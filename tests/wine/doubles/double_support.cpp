#include "double_support.h"

#include <stdarg.h>
#include <stdio.h>

#include "virtual_devices.h"

bool DoublesPath(const wchar_t* file, wchar_t* path, DWORD capacity) {
  DWORD length = GetEnvironmentVariableW(vdev::kDirVariable, path, capacity);
  if (length == 0 || length >= capacity) return false;
  int written = _snwprintf(path + length, capacity - length, L"\\%ls", file);
  return written > 0 && static_cast<DWORD>(written) < capacity - length;
}

char* ReadWholeFile(const wchar_t* path, DWORD* size) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  char* text = nullptr;
  LARGE_INTEGER length;
  if (GetFileSizeEx(file, &length) && length.QuadPart < 16 * 1024 * 1024) {
    DWORD wanted = static_cast<DWORD>(length.QuadPart);
    text = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, wanted + 1));
    DWORD got = 0;
    if (text && ReadFile(file, text, wanted, &got, nullptr)) {
      text[got] = 0;
      *size = got;
    } else if (text) {
      HeapFree(GetProcessHeap(), 0, text);
      text = nullptr;
    }
  }
  CloseHandle(file);
  return text;
}

void AppendLog(const wchar_t* file, const char* format, ...) {
  wchar_t path[MAX_PATH];
  if (!DoublesPath(file, path, MAX_PATH)) return;
  char line[1024];
  int used = snprintf(line, sizeof line, "%lu %lu ", GetTickCount(), GetCurrentProcessId());
  va_list args;
  va_start(args, format);
  int more = vsnprintf(line + used, sizeof line - used - 1, format, args);
  va_end(args);
  if (more < 0 || used + more >= static_cast<int>(sizeof line) - 1) return;
  used += more;
  line[used++] = '\n';
  // FILE_APPEND_DATA makes each write land at the end of the file whoever else
  // writes to it, so lines of several processes never interleave.
  HANDLE log = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_ALWAYS, 0, nullptr);
  if (log == INVALID_HANDLE_VALUE) return;
  DWORD written;
  WriteFile(log, line, used, &written, nullptr);
  CloseHandle(log);
}

char* NextConfigLine(char** cursor) {
  while (**cursor) {
    char* line = *cursor;
    char* end = line;
    while (*end && *end != '\n') ++end;
    *cursor = *end ? end + 1 : end;
    *end = 0;
    if (end > line && end[-1] == '\r') end[-1] = 0;
    while (*line == ' ' || *line == '\t') ++line;
    if (*line && *line != '#') return line;
  }
  return nullptr;
}

char* NextWord(char** cursor) {
  char* word = *cursor;
  while (*word == ' ' || *word == '\t') ++word;
  if (!*word) return nullptr;
  char* end = word;
  while (*end && *end != ' ' && *end != '\t') ++end;
  *cursor = *end ? end + 1 : end;
  *end = 0;
  return word;
}
