// Records fetched with GetRawInputData.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "app/activity_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::unique_ptr<unsigned char[]> record(new unsigned char[size]);
  if (size != 0) std::memcpy(record.get(), data, size);

  const InputTrigger trigger = ClassifyRawInput(record.get(), size);

  // A forcing report needs the header, the report size and count, and two bytes.
  const std::size_t header = 2 * sizeof(std::uint32_t) + 2 * sizeof(std::uintptr_t);
  if (trigger == InputTrigger::Force && size < header + 8 + 2) __builtin_trap();
  return 0;
}
