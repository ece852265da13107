#include "registration/hand_over_rules.h"

namespace {

wchar_t FoldAscii(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

}  // namespace

bool IsAnotherCorvane(const wchar_t* imageName, std::uint32_t pid, std::uint32_t self, std::uint32_t parent) {
  if (pid == self || pid == parent) return false;
  const wchar_t* expected = L"CORVANE.EXE";
  for (; *expected != L'\0'; ++imageName, ++expected) {
    if (FoldAscii(*imageName) != *expected) return false;
  }
  return *imageName == L'\0';
}
