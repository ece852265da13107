// DBT_DEVICEARRIVAL broadcasts of any device type.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "app/activity_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::unique_ptr<unsigned char[]> record(new unsigned char[size]);
  if (size != 0) std::memcpy(record.get(), data, size);

  const std::uint16_t* name = nullptr;
  std::size_t length = 0;
  if (!FindInterfaceName(record.get(), size, &name, &length)) return 0;

  // Read every unit of the name, as the conversion to ANSI will: a length that
  // reaches past the record is a heap overflow here.
  volatile std::uint32_t sum = 0;
  for (std::size_t i = 0; i < length; ++i) sum = sum + name[i];
  for (std::size_t i = 0; i < length; ++i) {
    if (name[i] == 0) __builtin_trap();  // the length stops at the terminator
  }
  return 0;
}
