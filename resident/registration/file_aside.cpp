#include "file_aside.h"

namespace {

constexpr unsigned long ACCESS_DENIED = 5;      // ERROR_ACCESS_DENIED
constexpr unsigned long SHARING_VIOLATION = 32; // ERROR_SHARING_VIOLATION
constexpr unsigned long FILE_EXISTS = 80;       // ERROR_FILE_EXISTS
constexpr unsigned long ALREADY_EXISTS = 183;   // ERROR_ALREADY_EXISTS
constexpr wchar_t PREFIX[] = L"Corvane-";
constexpr wchar_t SUFFIX[] = L".old";

wchar_t* Append(wchar_t* end, const wchar_t* text) {
  while (*text != L'\0') *end++ = *text++;
  return end;
}

}  // namespace

MoveFailure ClassifyMoveFailure(unsigned long error) {
  if (error == SHARING_VIOLATION) return MoveFailure::Retry;
  if (error == ACCESS_DENIED) return MoveFailure::RenameTargetAside;
  return MoveFailure::GiveUp;
}

const wchar_t* FileNameOf(const wchar_t* path) {
  const wchar_t* name = path;
  for (const wchar_t* c = path; *c != L'\0'; ++c) {
    if (*c == L'\\') name = c + 1;
  }
  return name;
}

bool RenameAside(const wchar_t* path, std::uint32_t firstNumber, RenameFile rename, wchar_t* aside,
                 unsigned capacity) {
  const unsigned folderLength = static_cast<unsigned>(FileNameOf(path) - path);
  if (folderLength + ASIDE_NAME_LENGTH + 1 > capacity) return false;
  for (unsigned attempt = 0; attempt < ASIDE_ATTEMPTS; ++attempt) {
    wchar_t* end = aside;
    for (unsigned i = 0; i < folderLength; ++i) *end++ = path[i];
    end = Append(end, PREFIX);
    const std::uint32_t number = firstNumber + attempt;
    for (int shift = 28; shift >= 0; shift -= 4) *end++ = L"0123456789ABCDEF"[(number >> shift) & 0xF];
    *Append(end, SUFFIX) = L'\0';
    unsigned long error = 0;
    if (rename(path, aside, &error)) return true;
    if (error != FILE_EXISTS && error != ALREADY_EXISTS) return false;
  }
  return false;
}
