#include "keyboard_identity.h"

#include <cstring>

namespace {

// Interface paths and device names fit in MAX_PATH; longer ones are matched on
// their first 259 characters.
constexpr std::size_t PATH_COPY_SIZE = 260;
// The raw-input source name arrives converted into a buffer of this size.
constexpr std::size_t NAME_COPY_SIZE = 400;

// Copies at most size - 1 characters into a zeroed buffer, turning only 'a'..'z'
// into upper case so the code page's other characters stay as they are.
void CopyUpper(const char* text, char* copy, std::size_t size) {
  std::memset(copy, 0, size);
  for (std::size_t i = 0; i + 1 < size && text[i] != '\0'; ++i) {
    const char c = text[i];
    copy[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
}

unsigned HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
  return 0;
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The "%4X" conversion of a formatted scan, written out so that the program does not
// carry a C99 scanf: blanks skipped, then within four characters an optional sign, an
// optional 0x prefix and at least one hexadecimal digit. Advances text on success.
bool ScanHexField(const char*& text, unsigned* value) {
  const char* at = text;
  while (*at == ' ' || (*at >= '\t' && *at <= '\r')) ++at;
  int width = 4;
  bool negative = false;
  if (*at == '+' || *at == '-') {
    negative = *at == '-';
    ++at;
    --width;
  }
  if (width >= 3 && at[0] == '0' && (at[1] == 'x' || at[1] == 'X') && IsHexDigit(at[2])) {
    at += 2;
    width -= 2;
  }
  unsigned result = 0;
  int digits = 0;
  for (; digits < width && IsHexDigit(*at); ++digits, ++at) result = (result << 4) | HexDigitValue(*at);
  if (digits == 0) return false;
  *value = negative ? 0u - result : result;
  text = at;
  return true;
}

}  // namespace

unsigned ParseHex4(const char* text) {
  unsigned value = 0;
  bool ended = false;
  for (int i = 0; i < 4; ++i) {
    ended = ended || text[i] == '\0';
    value = (value << 4) | (ended ? 0 : HexDigitValue(text[i]));
  }
  return value;
}

bool ParseDevicePathIds(const char* path, std::uint16_t* vendorId, std::uint16_t* productId) {
  char copy[PATH_COPY_SIZE];
  CopyUpper(path, copy, sizeof copy);

  const char* vendor = std::strstr(copy, "#VID_");
  if (vendor == nullptr) return false;
  *vendorId = static_cast<std::uint16_t>(ParseHex4(vendor + 5));

  const char* product = std::strstr(vendor, "&PID_");
  if (product == nullptr) return false;
  *productId = static_cast<std::uint16_t>(ParseHex4(product + 5));
  return true;
}

bool IsKeyboardAnsiName(const char* name) {
  char copy[NAME_COPY_SIZE];
  CopyUpper(name, copy, sizeof copy);
  if (copy[0] == '\0') return false;

  const char* vendor = std::strstr(copy, "VID_");
  if (vendor == nullptr) return false;

  // "%04X&PID_%04X": vendor digits, then the marker directly, then product digits.
  const char* at = vendor + 4;
  unsigned vendorId = 0;
  unsigned productId = 0;
  if (!ScanHexField(at, &vendorId) || std::strncmp(at, "&PID_", 5) != 0) return false;
  at += 5;
  if (!ScanHexField(at, &productId)) return false;
  return static_cast<std::uint16_t>(vendorId) == KeyboardVendorId &&
         static_cast<std::uint16_t>(productId) == KeyboardProductId;
}
