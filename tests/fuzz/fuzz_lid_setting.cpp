// POWERBROADCAST_SETTING records of any setting.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "app/activity_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::unique_ptr<unsigned char[]> record(new unsigned char[size]);
  if (size != 0) std::memcpy(record.get(), data, size);

  // The lid and display states lie in a 32-bit word after the 16-byte GUID and the data length.
  if (DecodePowerSetting(record.get(), size) != PowerSetting::Other && size < 24) __builtin_trap();
  return 0;
}
