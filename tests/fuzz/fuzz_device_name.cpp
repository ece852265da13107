// Raw-input device names, after their conversion to ANSI.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "keyboard/keyboard_identity.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::unique_ptr<char[]> name(new char[size + 1]);
  std::memcpy(name.get(), data, size);
  name[size] = '\0';
  const bool matches = IsKeyboardAnsiName(name.get());

  // Letter case must not matter: the same name in lower case gives the same answer.
  for (std::size_t i = 0; i < size; ++i) {
    if (name[i] >= 'A' && name[i] <= 'Z') name[i] = static_cast<char>(name[i] - 'A' + 'a');
  }
  if (IsKeyboardAnsiName(name.get()) != matches) __builtin_trap();
  return 0;
}
