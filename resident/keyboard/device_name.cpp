#include "keyboard/device_name.h"

#include "keyboard/keyboard_identity.h"

namespace {

size_t BoundedLength(const WCHAR* text, size_t capacity) {
  size_t length = 0;
  while (length < capacity && text[length]) ++length;
  return length;
}

// Converts to the ANSI code page into a zero-filled buffer, leaving room for the
// terminator. A text that does not fit is not converted at all.
template <size_t Size>
bool ToAnsi(const WCHAR* text, size_t length, char (&ansi)[Size], int maxBytes) {
  if (length == 0) return false;
  return WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), ansi, maxBytes, nullptr,
                             nullptr) > 0;
}

}  // namespace

bool IsKeyboardDeviceName(const WCHAR* name, size_t capacity) {
  char ansi[400] = {};
  return ToAnsi(name, BoundedLength(name, capacity), ansi, sizeof(ansi) - 1) && IsKeyboardAnsiName(ansi);
}

bool IsKeyboardInterfacePath(const WCHAR* path, size_t length) {
  // The matcher reads at most 259 characters; longer paths are matched on their start.
  constexpr size_t MAX_CONVERTED = 500;
  char ansi[512] = {};
  if (length > MAX_CONVERTED) length = MAX_CONVERTED;
  UINT16 vendorId = 0;
  UINT16 productId = 0;
  return ToAnsi(path, BoundedLength(path, length), ansi, MAX_CONVERTED) &&
         ParseDevicePathIds(ansi, &vendorId, &productId) && vendorId == KeyboardVendorId &&
         productId == KeyboardProductId;
}
