#pragma once
// The 9-byte feature report that carries every command to the keyboard.
#include <cstdint>

constexpr unsigned char FEATURE_CMD_MUTE = 0xA1;  // value 1 muted, 0 not muted
constexpr unsigned char FEATURE_CMD_LID = 0xA2;   // value 1 lid closed, 0 lid open
constexpr unsigned FEATURE_REPORT_LENGTH = 9;

// Report identifier 0, command, value, six zero bytes.
void BuildFeatureReport(unsigned char command, unsigned char value,
                        unsigned char (&report)[FEATURE_REPORT_LENGTH]);

// What one send saw, interface by interface. The self-check asks for it; the
// resident's sends do not.
constexpr unsigned RECORDED_KEYBOARD_INTERFACES = 8;
constexpr unsigned RECORDED_PATH_CAPACITY = 260;  // characters, terminator included; longer paths are cut

struct KeyboardInterfaceSend {
  wchar_t Path[RECORDED_PATH_CAPACITY];
  bool Accepted;        // the interface took the report
  std::uint32_t Error;  // the system's error code when it did not
};

// Another HID device walked, by the identifiers Device Manager shows in its Hardware Ids.
constexpr unsigned RECORDED_OTHER_DEVICES = 9;

struct OtherDevice {
  std::uint16_t VendorId, ProductId;
  unsigned Interfaces;
};

struct FeatureSendRecord {
  bool Listed;                   // the present HID interfaces could be listed
  std::uint32_t ListError;       // the system's error code when they could not
  unsigned KeyboardInterfaces;   // every interface of the keyboard, also those beyond Keyboard[]
  unsigned Accepted;             // of those, the ones that took the report
  KeyboardInterfaceSend Keyboard[RECORDED_KEYBOARD_INTERFACES];
  unsigned OtherInterfaces;      // walked interfaces not the keyboard's, or that could not be examined
  OtherDevice Others[RECORDED_OTHER_DEVICES];  // each pair once, in the order first met
  unsigned OtherDevices;         // pairs in Others
  unsigned UnlistedInterfaces;   // other interfaces whose pair did not fit into Others
};

// Counts one interface of another device under its pair: a pair already noted,
// else a new one while there is room, else among the unlisted.
void RecordOtherDevice(FeatureSendRecord* record, std::uint16_t vendorId, std::uint16_t productId);
