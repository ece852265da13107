#pragma once
// Decoding of the records that Windows hands the control window for keyboard
// input, device arrival, power settings and session changes. Platform-free; every
// function reads only within the bytes it is given.
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

// What the name look-up of an unknown device said.
enum class DeviceNameVerdict { Unreadable, Keyboard, Other };
// Whether the device is the keyboard; remembers only a verdict that came from a
// name, since a failed look-up may pass and must not deafen the keyboard's input.
bool TakeDeviceVerdict(DeviceMemory& memory, std::uintptr_t handle, DeviceNameVerdict verdict);

enum class PowerSetting { Other, LidOpen, LidClosed, DisplayOn };

// record: a POWERBROADCAST_SETTING; available: the bytes that may be read. The lid
// switch: a data word of 1 is LidOpen, any other value LidClosed. The console
// display: a data word of 1 (PowerMonitorOn) is DisplayOn; off and dimmed are Other.
// Any other setting, or data shorter than 4 bytes: Other.
PowerSetting DecodePowerSetting(const unsigned char* record, std::size_t available);

// WM_WTSSESSION_CHANGE: whether the event (wParam) opens a resync period. The
// session came to the physical console or was unlocked; in both cases another
// session's resident or nobody may have driven the keyboard meanwhile.
bool SessionChangeResyncs(std::uintptr_t event);

// Toggle bits from GetKeyState results: Num Lock bit 0, Caps Lock bit 1, Scroll Lock bit 2.
unsigned char CombineLockBits(short numLock, short capsLock, short scrollLock);
