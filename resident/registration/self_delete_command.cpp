#include "self_delete_command.h"

namespace {

// The program's image stays mapped until its process is gone, so the deletion is
// retried about once a second (ping is the pause that every Windows has) for 20
// rounds. Rounds after the deletion only find the file gone: not every cmd can
// leave a for loop early. Wine's cmd misreads a parenthesised block after an if
// within a for body, so the body is one block of two ifs, and it takes a ")" right
// after ">nul" into the file name, hence the blank. A null piece stands for the
// quoted path.
constexpr const wchar_t* PIECES[] = {
    L"/c del /F Corvane_WMI_DLL.dll & for /l %i in (1,1,20) do (if exist \"", nullptr,
    L"\" del /F \"", nullptr,
    L"\" & if exist \"", nullptr,
    L"\" ping -n 2 127.0.0.1 >nul )",
};

unsigned TextLength(const wchar_t* text) {
  unsigned length = 0;
  while (text[length] != L'\0') ++length;
  return length;
}

}  // namespace

bool BuildSelfDeleteParameters(const wchar_t* shortPath, wchar_t* parameters, unsigned capacity) {
  unsigned needed = 1;
  for (const wchar_t* piece : PIECES) needed += TextLength(piece ? piece : shortPath);
  if (needed > capacity) return false;
  wchar_t* end = parameters;
  for (const wchar_t* piece : PIECES) {
    for (const wchar_t* text = piece ? piece : shortPath; *text != L'\0'; ++text) *end++ = *text;
  }
  *end = L'\0';
  return true;
}
