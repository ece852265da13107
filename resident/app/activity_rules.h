#pragma once
// Decoding of the records that Windows hands the control window for keyboard
// input, device arrival and power settings. Platform-free; every function reads
// only within the bytes it is given.
#include <cstddef>
#include <cstdint>

enum class InputTrigger { None, Nudge, Force };

// record: a RAWINPUT as fetched by GetRawInputData; size: the bytes fetched. The
// header layout follows the pointer size of the build (two handles after two DWORDs).
// Mouse and keyboard input nudge; a HID report of exactly 05 01 forces; any other
// HID report nudges; other types or a record too short for the fields read: None.
InputTrigger ClassifyRawInput(const unsigned char* record, std::size_t size);

// record: a DEV_BROADCAST_HDR-led record; available: the bytes that may be read
// (the caller's bound; dbch_size inside the record bounds it further). For a
// device-interface record, *name points at dbcc_name and *length counts its UTF-16
// units up to the terminator or the end of the record. Other device types, or a
// record too short for its header: false, and the name is not read.
bool FindInterfaceName(const unsigned char* record, std::size_t available,
                       const std::uint16_t** name, std::size_t* length);

// What the window remembers of the raw-input devices it met, by device handle:
// whether each is the keyboard, so that further input from it costs no name
// look-up. Forgotten whenever the devices change, since Windows may hand a
// departed device's handle to a new one.
enum class KnownDevice { Unknown, Keyboard, Other };
constexpr unsigned REMEMBERED_DEVICES = 16;

struct DeviceMemory {
  std::uintptr_t Handles[REMEMBERED_DEVICES];
  bool Keyboard[REMEMBERED_DEVICES];
  unsigned Count;
  unsigned Oldest;  // the slot that the next device takes once all are used
};

KnownDevice RecallDevice(const DeviceMemory& memory, std::uintptr_t handle);
// For a handle that RecallDevice does not know; the table's first devices stay
// until it is full, then each new one replaces the one remembered longest.
void RememberDevice(DeviceMemory& memory, std::uintptr_t handle, bool keyboard);
void ForgetDevices(DeviceMemory& memory);

enum class LidSetting { Other, Open, Closed };

// record: a POWERBROADCAST_SETTING; available: the bytes that may be read. A setting
// other than the lid switch, or lid data shorter than 4 bytes: Other. A data word of
// 1 is Open, any other value Closed.
LidSetting DecodeLidSetting(const unsigned char* record, std::size_t available);

// Toggle bits from GetKeyState results: Num Lock bit 0, Caps Lock bit 1, Scroll Lock bit 2.
unsigned char CombineLockBits(short numLock, short capsLock, short scrollLock);
