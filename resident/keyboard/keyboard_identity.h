#pragma once
// The one supported keyboard and the two matchers that recognise its interface
// paths and raw-input device names. Platform-free: the UTF-16 to ANSI conversion
// happens in the callers.
#include <cstdint>

constexpr std::uint16_t KeyboardVendorId = CORVANE_KEYBOARD_VID;
constexpr std::uint16_t KeyboardProductId = CORVANE_KEYBOARD_PID;

// Four characters as hexadecimal digits; any other character (also the end of the
// text) counts 0 but keeps its place. Never reads past a terminator.
unsigned ParseHex4(const char* text);

// Interface path of a device-arrival broadcast (ANSI). Looks for "#VID_" in the
// first 259 characters, upper-cased, then "&PID_" anywhere after it. vendorId is
// written once "#VID_" is found, even when "&PID_" is missing.
bool ParseDevicePathIds(const char* path, std::uint16_t* vendorId, std::uint16_t* productId);

// Device name of a raw-input source, already converted to ANSI and terminated
// within 400 bytes: "VID_", then "%04X&PID_%04X" as a formatted scan.
bool IsKeyboardAnsiName(const char* name);
