#include "self_delete_command.h"

namespace {

constexpr wchar_t PREFIX[] = L"/c del \"";
constexpr wchar_t SUFFIX[] = L"\" Corvane_WMI_DLL.dll /F";

unsigned TextLength(const wchar_t* text) {
  unsigned length = 0;
  while (text[length] != L'\0') ++length;
  return length;
}

wchar_t* CopyText(wchar_t* to, const wchar_t* text) {
  while (*text != L'\0') *to++ = *text++;
  return to;
}

}  // namespace

bool BuildSelfDeleteParameters(const wchar_t* shortPath, wchar_t* parameters, unsigned capacity) {
  const unsigned needed = TextLength(PREFIX) + TextLength(shortPath) + TextLength(SUFFIX) + 1;
  if (needed > capacity) return false;
  wchar_t* end = CopyText(parameters, PREFIX);
  end = CopyText(end, shortPath);
  end = CopyText(end, SUFFIX);
  *end = L'\0';
  return true;
}
