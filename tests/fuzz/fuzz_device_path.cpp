// Interface paths of device-arrival broadcasts, after their conversion to ANSI.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "keyboard/keyboard_identity.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::unique_ptr<char[]> path(new char[size + 1]);
  std::memcpy(path.get(), data, size);
  path[size] = '\0';

  std::uint16_t vendor = 0;
  std::uint16_t product = 0;
  const bool found = ParseDevicePathIds(path.get(), &vendor, &product);

  // Only the first 259 characters count: a path cut there gives the same answer.
  if (size > 259) {
    path[259] = '\0';
    std::uint16_t cutVendor = 0;
    std::uint16_t cutProduct = 0;
    if (ParseDevicePathIds(path.get(), &cutVendor, &cutProduct) != found ||
        (found && (cutVendor != vendor || cutProduct != product))) {
      __builtin_trap();
    }
  }
  return 0;
}
