#include "self_delete_command.h"

namespace {

// The program's image stays mapped until its process is gone, so the deletion is
// retried about once a second (ping is the pause that every Windows has). Rounds
// after the deletion only find the file gone: not every cmd can leave a for loop
// early. Wine's cmd misreads a parenthesised block after an if within a for body,
// so the body is one block of two ifs, and it takes a ")" right after ">nul" into
// the file name, hence the blank. A null piece stands for the quoted file name.
constexpr wchar_t ROUNDS[] = L"20";
constexpr const wchar_t* PIECES[] = {
    L"/d /c del /F Corvane_WMI_DLL.dll & for /l %i in (1,1,", ROUNDS, L") do (if exist \"", nullptr,
    L"\" del /F \"", nullptr,
    L"\" & if exist \"", nullptr,
    L"\" ping -n 2 127.0.0.1 >nul )",
};
constexpr unsigned Decimal(const wchar_t* text, unsigned value = 0) {
  return *text == L'\0' ? value : Decimal(text + 1, value * 10 + static_cast<unsigned>(*text - L'0'));
}
static_assert(Decimal(ROUNDS) == SELF_DELETE_ROUNDS, "the rounds of the command are those announced");
static_assert(SELF_DELETE_ROUND_MS == 1000, "ping -n 2 pauses for one second");

// Letters, digits, blanks and . - _ ~ mean nothing else to cmd within quotes.
bool PlainNameCharacter(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L' ' ||
         c == L'.' || c == L'-' || c == L'_' || c == L'~';
}

unsigned TextLength(const wchar_t* text) {
  unsigned length = 0;
  while (text[length] != L'\0') ++length;
  return length;
}

}  // namespace

bool BuildSelfDeleteParameters(const wchar_t* fileName, wchar_t* parameters, unsigned capacity) {
  if (fileName[0] == L'\0') return false;
  for (const wchar_t* c = fileName; *c != L'\0'; ++c) {
    if (!PlainNameCharacter(*c)) return false;
  }
  unsigned needed = 1;
  for (const wchar_t* piece : PIECES) needed += TextLength(piece ? piece : fileName);
  if (needed > capacity) return false;
  wchar_t* end = parameters;
  for (const wchar_t* piece : PIECES) {
    for (const wchar_t* text = piece ? piece : fileName; *text != L'\0'; ++text)
      *end++ = *text;
  }
  *end = L'\0';
  return true;
}
