#include "activity_rules.h"

#include <cstring>

namespace {

// RAWINPUTHEADER: DWORD dwType, DWORD dwSize, HANDLE hDevice, WPARAM wParam. The
// union that follows starts right after it in both the 32-bit and 64-bit layout.
constexpr std::size_t RAW_HEADER_SIZE = 2 * sizeof(std::uint32_t) + 2 * sizeof(std::uintptr_t);
// RAWHID: DWORD dwSizeHid, DWORD dwCount, BYTE bRawData[].
constexpr std::size_t RAW_HID_DATA_OFFSET = RAW_HEADER_SIZE + 2 * sizeof(std::uint32_t);

constexpr std::uint32_t RIM_TYPEMOUSE = 0;
constexpr std::uint32_t RIM_TYPEKEYBOARD = 1;
constexpr std::uint32_t RIM_TYPEHID = 2;

// DEV_BROADCAST_HDR: dbch_size, dbch_devicetype, dbch_reserved. The device-interface
// record adds a 16-byte class GUID, then the UTF-16 name.
constexpr std::size_t BROADCAST_HEADER_SIZE = 12;
constexpr std::size_t INTERFACE_NAME_OFFSET = BROADCAST_HEADER_SIZE + 16;
constexpr std::uint32_t DBT_DEVTYP_DEVICEINTERFACE = 5;

// POWERBROADCAST_SETTING: GUID PowerSetting, DWORD DataLength, UCHAR Data[].
constexpr std::size_t SETTING_DATA_LENGTH_OFFSET = 16;
constexpr std::size_t SETTING_DATA_OFFSET = 20;

struct Guid {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  unsigned char Data4[8];
};
static_assert(sizeof(Guid) == 16, "GUID layout");
constexpr Guid GUID_LIDSWITCH_STATE_CHANGE = {
    0xBA3E0F4D, 0xB817, 0x4094, {0xA2, 0xD1, 0xD5, 0x63, 0x79, 0xE6, 0xA0, 0xF3}};
constexpr Guid GUID_CONSOLE_DISPLAY_STATE = {
    0x6FE69556, 0x704A, 0x47A0, {0x8F, 0x24, 0xC2, 0x8D, 0x93, 0x6F, 0xDA, 0x47}};
constexpr std::uint32_t POWER_MONITOR_ON = 1;

// WM_WTSSESSION_CHANGE events.
constexpr std::uintptr_t WTS_CONSOLE_CONNECT = 0x1;
constexpr std::uintptr_t WTS_SESSION_UNLOCK = 0x8;

// The records come from the system as plain bytes, so fields are copied out rather
// than read through casts that assume alignment.
std::uint32_t ReadU32(const unsigned char* at) {
  std::uint32_t value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

std::uint16_t ReadU16(const unsigned char* at) {
  std::uint16_t value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

bool IsSettingGuid(const unsigned char* at, const Guid& setting) {
  Guid guid;
  std::memcpy(&guid, at, sizeof guid);
  return guid.Data1 == setting.Data1 && guid.Data2 == setting.Data2 && guid.Data3 == setting.Data3 &&
         std::memcmp(guid.Data4, setting.Data4, sizeof guid.Data4) == 0;
}

}  // namespace

InputTrigger ClassifyRawInput(const unsigned char* record, std::size_t size) {
  if (size < RAW_HEADER_SIZE) return InputTrigger::None;
  switch (ReadU32(record)) {
    case RIM_TYPEMOUSE:
    case RIM_TYPEKEYBOARD:
      return InputTrigger::Nudge;
    case RIM_TYPEHID: {
      if (size < RAW_HID_DATA_OFFSET) return InputTrigger::None;
      // Only the first report counts, and only bytes the record really holds.
      const std::uint32_t reportSize = ReadU32(record + RAW_HEADER_SIZE);
      if (reportSize == 2 && size - RAW_HID_DATA_OFFSET >= 2 &&
          record[RAW_HID_DATA_OFFSET] == 0x05 && record[RAW_HID_DATA_OFFSET + 1] == 0x01) {
        return InputTrigger::Force;
      }
      return InputTrigger::Nudge;
    }
    default:
      return InputTrigger::None;
  }
}

bool FindInterfaceName(const unsigned char* record, std::size_t available,
                       const std::uint16_t** name, std::size_t* length) {
  if (available < BROADCAST_HEADER_SIZE) return false;
  const std::size_t declared = ReadU32(record);
  const std::size_t bound = declared < available ? declared : available;
  // Volume, port and handle broadcasts share the header but carry no interface name.
  if (bound < INTERFACE_NAME_OFFSET || ReadU32(record + 4) != DBT_DEVTYP_DEVICEINTERFACE) return false;

  const unsigned char* text = record + INTERFACE_NAME_OFFSET;
  const std::size_t capacity = (bound - INTERFACE_NAME_OFFSET) / 2;
  std::size_t units = 0;
  while (units < capacity && ReadU16(text + 2 * units) != 0) ++units;
  *name = reinterpret_cast<const std::uint16_t*>(text);
  *length = units;
  return true;
}

PowerSetting DecodePowerSetting(const unsigned char* record, std::size_t available) {
  if (available < SETTING_DATA_OFFSET) return PowerSetting::Other;
  if (ReadU32(record + SETTING_DATA_LENGTH_OFFSET) < 4 || available - SETTING_DATA_OFFSET < 4) {
    return PowerSetting::Other;
  }
  const std::uint32_t value = ReadU32(record + SETTING_DATA_OFFSET);
  if (IsSettingGuid(record, GUID_LIDSWITCH_STATE_CHANGE)) {
    return value == 1 ? PowerSetting::LidOpen : PowerSetting::LidClosed;
  }
  if (IsSettingGuid(record, GUID_CONSOLE_DISPLAY_STATE) && value == POWER_MONITOR_ON) return PowerSetting::DisplayOn;
  return PowerSetting::Other;
}

bool SessionChangeResyncs(std::uintptr_t event) {
  return event == WTS_CONSOLE_CONNECT || event == WTS_SESSION_UNLOCK;
}

unsigned char CombineLockBits(short numLock, short capsLock, short scrollLock) {
  return static_cast<unsigned char>((numLock & 1) | ((capsLock & 1) << 1) | ((scrollLock & 1) << 2));
}

KnownDevice RecallDevice(const DeviceMemory& memory, std::uintptr_t handle) {
  for (unsigned i = 0; i < memory.Count; ++i) {
    if (memory.Handles[i] == handle) return memory.Keyboard[i] ? KnownDevice::Keyboard : KnownDevice::Other;
  }
  return KnownDevice::Unknown;
}

void RememberDevice(DeviceMemory& memory, std::uintptr_t handle, bool keyboard) {
  unsigned slot = memory.Count;
  if (memory.Count < REMEMBERED_DEVICES) {
    ++memory.Count;
  } else {
    slot = memory.Oldest;
    memory.Oldest = (memory.Oldest + 1) % REMEMBERED_DEVICES;
  }
  memory.Handles[slot] = handle;
  memory.Keyboard[slot] = keyboard;
}

bool TakeDeviceVerdict(DeviceMemory& memory, std::uintptr_t handle, DeviceNameVerdict verdict) {
  if (verdict == DeviceNameVerdict::Unreadable) return false;
  const bool keyboard = verdict == DeviceNameVerdict::Keyboard;
  RememberDevice(memory, handle, keyboard);
  return keyboard;
}

void ForgetDevices(DeviceMemory& memory) {
  memory.Count = 0;
  memory.Oldest = 0;
}
