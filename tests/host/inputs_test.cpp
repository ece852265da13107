// What the program is handed: its command line, raw-input records, device-arrival
// broadcasts, power-setting records and lock-key states.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/activity_rules.h"
#include "common/session_rules.h"
#include "elevation/elevation_rules.h"

namespace {

using Bytes = std::vector<unsigned char>;

void AppendU32(Bytes& bytes, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

void AppendPointer(Bytes& bytes, std::uintptr_t value) {
  for (unsigned i = 0; i < sizeof value; ++i) bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

// The first keep bytes of record in an allocation of exactly that size, so that
// AddressSanitizer reports any read beyond them.
std::unique_ptr<unsigned char[]> ExactCopy(const Bytes& record, std::size_t keep) {
  std::unique_ptr<unsigned char[]> copy(new unsigned char[keep]);
  if (keep != 0) std::memcpy(copy.get(), record.data(), keep);
  return copy;
}

// --- Command line ---------------------------------------------------------------

TEST(RunMode, OnlyTheExactKeywordsSelectAMode) {
  const struct {
    const wchar_t* CommandLine;
    RunMode Expected;
    bool Relaunched = false;
    bool Check = false;
  } cases[] = {
      {L"/install", RunMode::Install},
      {L"/uninstall", RunMode::Uninstall},
      {L"/install /relaunched", RunMode::Install, true},
      {L"/uninstall /relaunched", RunMode::Uninstall, true},
      {L"", RunMode::Normal},
      {L"/INSTALL", RunMode::Normal},
      {L"/Uninstall", RunMode::Normal},
      {L"/install ", RunMode::Normal},
      {L"/uninstall\t", RunMode::Normal},
      {L" /install", RunMode::Normal},
      {L"/installer", RunMode::Normal},
      {L"/instal", RunMode::Normal},
      {L"install", RunMode::Normal},
      {L"-install", RunMode::Normal},
      {L"\"/install\"", RunMode::Normal},
      {L"/uninstall /install", RunMode::Normal},
      {L"/relaunched", RunMode::Normal},
      {L"/install /relaunched ", RunMode::Normal},
      {L"/install /RELAUNCHED", RunMode::Normal},
      {L"/check", RunMode::Normal, false, true},
      {L"/CHECK", RunMode::Normal, false, true},
      {L"/Check ", RunMode::Normal, false, true},
      {L" \t/check\t ", RunMode::Normal, false, true},
      {L"/check /install", RunMode::Normal},
      {L"/checks", RunMode::Normal},
      {L"/chec", RunMode::Normal},
      {L"/ check", RunMode::Normal},
      {L"check", RunMode::Normal},
  };
  for (const auto& c : cases) {
    bool relaunched = !c.Relaunched;
    EXPECT_EQ(ParseStartCommandLine(c.CommandLine, &relaunched), c.Expected) << testing::PrintToString(c.CommandLine);
    EXPECT_EQ(relaunched, c.Relaunched) << testing::PrintToString(c.CommandLine);
    EXPECT_EQ(IsSelfCheckCommand(c.CommandLine), c.Check) << testing::PrintToString(c.CommandLine);
  }
}

// --- Raw input ------------------------------------------------------------------

constexpr std::uint32_t RIM_TYPEMOUSE = 0;
constexpr std::uint32_t RIM_TYPEKEYBOARD = 1;
constexpr std::uint32_t RIM_TYPEHID = 2;
constexpr std::size_t HEADER = 8 + 2 * sizeof(std::uintptr_t);
constexpr std::size_t RAWMOUSE_SIZE = 24;
constexpr std::size_t RAWKEYBOARD_SIZE = 16;

Bytes RawHeader(std::uint32_t type, std::size_t payload) {
  Bytes bytes;
  AppendU32(bytes, type);
  AppendU32(bytes, static_cast<std::uint32_t>(HEADER + payload));
  AppendPointer(bytes, 0x1234);  // hDevice
  AppendPointer(bytes, 1);       // wParam: RIM_INPUTSINK
  return bytes;
}

Bytes DeviceInput(std::uint32_t type, std::size_t payload) {
  Bytes bytes = RawHeader(type, payload);
  bytes.resize(bytes.size() + payload, 0);
  return bytes;
}

Bytes HidInput(std::uint32_t sizeHid, std::uint32_t count, const Bytes& reports) {
  Bytes bytes = RawHeader(RIM_TYPEHID, 8 + reports.size());
  AppendU32(bytes, sizeHid);
  AppendU32(bytes, count);
  bytes.insert(bytes.end(), reports.begin(), reports.end());
  return bytes;
}

struct RawInputCase {
  const char* What;
  Bytes Record;
  std::size_t Cut;  // bytes removed from the end of the record
  InputTrigger Expected;
};

TEST(RawInput, ClassifiesByTypeAndTheFirstHidReport) {
  const RawInputCase cases[] = {
      {"mouse", DeviceInput(RIM_TYPEMOUSE, RAWMOUSE_SIZE), 0, InputTrigger::Nudge},
      {"keyboard", DeviceInput(RIM_TYPEKEYBOARD, RAWKEYBOARD_SIZE), 0, InputTrigger::Nudge},
      {"keyboard, payload cut off", DeviceInput(RIM_TYPEKEYBOARD, RAWKEYBOARD_SIZE), RAWKEYBOARD_SIZE,
       InputTrigger::Nudge},
      {"HID 05 01", HidInput(2, 1, {0x05, 0x01}), 0, InputTrigger::Force},
      {"HID 05 01 twice", HidInput(2, 2, {0x05, 0x01, 0x05, 0x01}), 0, InputTrigger::Force},
      {"HID 05 01 then another report", HidInput(2, 2, {0x05, 0x01, 0x07, 0x00}), 0, InputTrigger::Force},
      {"HID 05 01 00", HidInput(3, 1, {0x05, 0x01, 0x00}), 0, InputTrigger::Nudge},
      {"HID 05 02", HidInput(2, 1, {0x05, 0x02}), 0, InputTrigger::Nudge},
      {"HID 01 05", HidInput(2, 1, {0x01, 0x05}), 0, InputTrigger::Nudge},
      {"HID 06 01", HidInput(2, 1, {0x06, 0x01}), 0, InputTrigger::Nudge},
      {"HID 05 01 claiming three bytes", HidInput(3, 1, {0x05, 0x01}), 0, InputTrigger::Nudge},
      {"HID 05 01 claiming one byte", HidInput(1, 2, {0x05, 0x01}), 0, InputTrigger::Nudge},
      {"HID report size 2, second byte beyond the record", HidInput(2, 1, {0x05, 0x01}), 1, InputTrigger::Nudge},
      {"HID report size 2, no report bytes", HidInput(2, 1, {0x05, 0x01}), 2, InputTrigger::Nudge},
      {"HID report size far beyond the record", HidInput(0xFFFFFFFF, 1, {0x05, 0x01}), 0, InputTrigger::Nudge},
      {"HID without its count", HidInput(2, 1, {0x05, 0x01}), 6, InputTrigger::None},
      {"HID header only", HidInput(2, 1, {0x05, 0x01}), 10, InputTrigger::None},
      {"header cut by one byte", DeviceInput(RIM_TYPEKEYBOARD, 0), 1, InputTrigger::None},
      {"nothing", DeviceInput(RIM_TYPEMOUSE, 0), HEADER, InputTrigger::None},
      {"unknown type 3", DeviceInput(3, RAWKEYBOARD_SIZE), 0, InputTrigger::None},
      {"type with high bits", DeviceInput(0x80000002u, RAWKEYBOARD_SIZE), 0, InputTrigger::None},
  };
  for (const RawInputCase& c : cases) {
    const std::size_t size = c.Record.size() - c.Cut;
    const auto record = ExactCopy(c.Record, size);
    EXPECT_EQ(ClassifyRawInput(record.get(), size), c.Expected) << c.What;
  }
}

// Injected input carries no device (handle 0); a full table gives up the device
// remembered longest; any change of the devices forgets them all.
TEST(RawInput, RemembersEachDeviceUntilTheDevicesChange) {
  DeviceMemory memory = {};
  EXPECT_EQ(RecallDevice(memory, 0x41), KnownDevice::Unknown);
  RememberDevice(memory, 0x41, true);
  RememberDevice(memory, 0, false);
  for (std::uintptr_t handle = 0x100; handle < 0x100 + REMEMBERED_DEVICES - 2; ++handle) {
    RememberDevice(memory, handle, false);
  }
  EXPECT_EQ(RecallDevice(memory, 0x41), KnownDevice::Keyboard);
  EXPECT_EQ(RecallDevice(memory, 0), KnownDevice::Other);
  RememberDevice(memory, 0x7f, true);
  EXPECT_EQ(RecallDevice(memory, 0x41), KnownDevice::Unknown);
  EXPECT_EQ(RecallDevice(memory, 0), KnownDevice::Other);
  EXPECT_EQ(RecallDevice(memory, 0x7f), KnownDevice::Keyboard);
  ForgetDevices(memory);
  for (std::uintptr_t handle : {0x7f, 0x0, 0x100}) EXPECT_EQ(RecallDevice(memory, handle), KnownDevice::Unknown);
  RememberDevice(memory, 0x41, false);
  EXPECT_EQ(RecallDevice(memory, 0x41), KnownDevice::Other) << "a handle handed to another device";
  // Only a verdict that came from a name is kept: a failed look-up is asked again.
  EXPECT_FALSE(TakeDeviceVerdict(memory, 0x42, DeviceNameVerdict::Unreadable));
  EXPECT_EQ(RecallDevice(memory, 0x42), KnownDevice::Unknown);
  EXPECT_TRUE(TakeDeviceVerdict(memory, 0x42, DeviceNameVerdict::Keyboard));
  EXPECT_EQ(RecallDevice(memory, 0x42), KnownDevice::Keyboard);
  EXPECT_FALSE(TakeDeviceVerdict(memory, 0x43, DeviceNameVerdict::Other));
  EXPECT_EQ(RecallDevice(memory, 0x43), KnownDevice::Other);
}

// --- Device-arrival broadcasts --------------------------------------------------

constexpr std::uint32_t DBT_DEVTYP_VOLUME = 2;
constexpr std::uint32_t DBT_DEVTYP_PORT = 3;
constexpr std::uint32_t DBT_DEVTYP_DEVICEINTERFACE = 5;
constexpr std::uint32_t DBT_DEVTYP_HANDLE = 6;

const char kUsbPath[] = "\\\\?\\USB#VID_1209&PID_0001#6&1a2b3c4d&0&2#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";

// A broadcast record whose header claims declaredSize (0: the real size), with the
// name as UTF-16 units and, when terminated, its null.
Bytes Broadcast(std::uint32_t type, const std::string& name, bool terminated, std::uint32_t declaredSize = 0) {
  Bytes bytes;
  AppendU32(bytes, 0);
  AppendU32(bytes, type);
  AppendU32(bytes, 0);
  for (int i = 0; i < 16; ++i) bytes.push_back(static_cast<unsigned char>(0xA0 + i));  // class GUID
  for (char c : name) {
    bytes.push_back(static_cast<unsigned char>(c));
    bytes.push_back(0);
  }
  if (terminated) bytes.insert(bytes.end(), {0, 0});
  const std::uint32_t size = declaredSize != 0 ? declaredSize : static_cast<std::uint32_t>(bytes.size());
  std::memcpy(bytes.data(), &size, 4);
  return bytes;
}

struct BroadcastCase {
  const char* What;
  Bytes Record;
  std::size_t Available;  // 0: the whole record
  bool Found;
  std::size_t Length;
};

TEST(DeviceBroadcast, FindsTheInterfaceNameWithinBothBounds) {
  const std::size_t pathLength = std::strlen(kUsbPath);
  const BroadcastCase cases[] = {
      {"interface record", Broadcast(DBT_DEVTYP_DEVICEINTERFACE, kUsbPath, true), 0, true, pathLength},
      {"name without terminator", Broadcast(DBT_DEVTYP_DEVICEINTERFACE, kUsbPath, false), 0, true, pathLength},
      {"header claims more than available", Broadcast(DBT_DEVTYP_DEVICEINTERFACE, kUsbPath, true, 4096),
       28 + 2 * 10, true, 10},
      {"available holds more than the header claims",
       Broadcast(DBT_DEVTYP_DEVICEINTERFACE, kUsbPath, true, 28 + 2 * 5), 0, true, 5},
      {"odd byte at the end", Broadcast(DBT_DEVTYP_DEVICEINTERFACE, kUsbPath, true, 28 + 2 * 3 + 1), 0, true, 3},
      {"empty name", Broadcast(DBT_DEVTYP_DEVICEINTERFACE, "", true), 0, true, 0},
      {"no room for a name", Broadcast(DBT_DEVTYP_DEVICEINTERFACE, kUsbPath, true, 28), 0, true, 0},
      {"interface record shorter than its fixed part",
       Broadcast(DBT_DEVTYP_DEVICEINTERFACE, kUsbPath, true, 27), 0, false, 0},
      {"interface record cut before its name", Broadcast(DBT_DEVTYP_DEVICEINTERFACE, kUsbPath, true), 27, false, 0},
      {"header size below the header", Broadcast(DBT_DEVTYP_DEVICEINTERFACE, kUsbPath, true, 8), 0, false, 0},
      {"fewer bytes than a header", Broadcast(DBT_DEVTYP_DEVICEINTERFACE, kUsbPath, true), 11, false, 0},
      {"volume", Broadcast(DBT_DEVTYP_VOLUME, "", false, 18), 0, false, 0},
      {"port with a name", Broadcast(DBT_DEVTYP_PORT, "COM3", true), 0, false, 0},
      {"handle", Broadcast(DBT_DEVTYP_HANDLE, kUsbPath, true), 0, false, 0},
  };
  for (const BroadcastCase& c : cases) {
    SCOPED_TRACE(c.What);
    const std::size_t available = c.Available != 0 ? c.Available : c.Record.size();
    const auto record = ExactCopy(c.Record, available);
    const std::uint16_t* name = nullptr;
    std::size_t length = 12345;
    ASSERT_EQ(FindInterfaceName(record.get(), available, &name, &length), c.Found);
    if (!c.Found) continue;
    EXPECT_EQ(reinterpret_cast<const unsigned char*>(name), record.get() + 28);
    ASSERT_EQ(length, c.Length);
    for (std::size_t i = 0; i < length; ++i) EXPECT_EQ(name[i], static_cast<std::uint16_t>(kUsbPath[i])) << i;
  }
}

// --- Lid switch and console display --------------------------------------------

// GUID_LIDSWITCH_STATE_CHANGE and GUID_CONSOLE_DISPLAY_STATE as they lie in memory.
const Bytes kLidSwitchGuid = {0x4D, 0x0F, 0x3E, 0xBA, 0x17, 0xB8, 0x94, 0x40,
                              0xA2, 0xD1, 0xD5, 0x63, 0x79, 0xE6, 0xA0, 0xF3};
const Bytes kDisplayGuid = {0x56, 0x95, 0xE6, 0x6F, 0x4A, 0x70, 0xA0, 0x47,
                            0x8F, 0x24, 0xC2, 0x8D, 0x93, 0x6F, 0xDA, 0x47};

Bytes SettingRecord(const Bytes& guid, std::uint32_t dataLength, const Bytes& data) {
  Bytes bytes = guid;
  AppendU32(bytes, dataLength);
  bytes.insert(bytes.end(), data.begin(), data.end());
  return bytes;
}

Bytes Word(std::uint32_t value) {
  Bytes bytes;
  AppendU32(bytes, value);
  return bytes;
}

Bytes WithByteFlipped(Bytes bytes, std::size_t index) {
  bytes[index] ^= 0x01;
  return bytes;
}

struct LidCase {
  const char* What;
  Bytes Record;
  std::size_t Cut;
  PowerSetting Expected;
};

TEST(LidSwitch, DecodesOpenClosedAndEverythingElse) {
  const LidCase cases[] = {
      {"open", SettingRecord(kLidSwitchGuid, 4, Word(1)), 0, PowerSetting::LidOpen},
      {"closed", SettingRecord(kLidSwitchGuid, 4, Word(0)), 0, PowerSetting::LidClosed},
      {"value 2", SettingRecord(kLidSwitchGuid, 4, Word(2)), 0, PowerSetting::LidClosed},
      {"value 0x101", SettingRecord(kLidSwitchGuid, 4, Word(0x101)), 0, PowerSetting::LidClosed},
      {"value 0x01000000", SettingRecord(kLidSwitchGuid, 4, Word(0x01000000)), 0, PowerSetting::LidClosed},
      {"open with longer data", SettingRecord(kLidSwitchGuid, 8, {1, 0, 0, 0, 9, 9, 9, 9}), 0, PowerSetting::LidOpen},
      {"first GUID byte differs", SettingRecord(WithByteFlipped(kLidSwitchGuid, 0), 4, Word(1)), 0,
       PowerSetting::Other},
      {"middle GUID byte differs", SettingRecord(WithByteFlipped(kLidSwitchGuid, 7), 4, Word(0)), 0,
       PowerSetting::Other},
      {"last GUID byte differs", SettingRecord(WithByteFlipped(kLidSwitchGuid, 15), 4, Word(0)), 0,
       PowerSetting::Other},
      {"data length 2", SettingRecord(kLidSwitchGuid, 2, {1, 0}), 0, PowerSetting::Other},
      {"data length 0", SettingRecord(kLidSwitchGuid, 0, {}), 0, PowerSetting::Other},
      {"data length 4, record cut", SettingRecord(kLidSwitchGuid, 4, Word(1)), 1, PowerSetting::Other},
      {"no data length", SettingRecord(kLidSwitchGuid, 4, Word(1)), 5, PowerSetting::Other},
      {"nothing", SettingRecord(kLidSwitchGuid, 4, Word(1)), 24, PowerSetting::Other},
      {"display on", SettingRecord(kDisplayGuid, 4, Word(1)), 0, PowerSetting::DisplayOn},
      {"display off", SettingRecord(kDisplayGuid, 4, Word(0)), 0, PowerSetting::Other},
      {"display dimmed", SettingRecord(kDisplayGuid, 4, Word(2)), 0, PowerSetting::Other},
      {"display on, data length 2", SettingRecord(kDisplayGuid, 2, {1, 0}), 0, PowerSetting::Other},
      {"display on, record cut", SettingRecord(kDisplayGuid, 4, Word(1)), 1, PowerSetting::Other},
      {"display GUID byte differs", SettingRecord(WithByteFlipped(kDisplayGuid, 9), 4, Word(1)), 0,
       PowerSetting::Other},
  };
  for (const LidCase& c : cases) {
    const std::size_t size = c.Record.size() - c.Cut;
    const auto record = ExactCopy(c.Record, size);
    EXPECT_EQ(DecodePowerSetting(record.get(), size), c.Expected) << c.What;
  }
}

// --- Sessions -------------------------------------------------------------------

TEST(Sessions, OnlyConnectAndUnlockResyncAndOnlyTheConsolesSessionDrives) {
  // WTS_CONSOLE_CONNECT 1 and WTS_SESSION_UNLOCK 8 of the events 1 to 9.
  for (std::uintptr_t event = 0; event <= 10; ++event)
    EXPECT_EQ(SessionChangeResyncs(event), event == 1 || event == 8) << event;
  using P = ResidentPlace;
  const struct {
    bool Known;
    std::uint32_t Own, Console;
    bool Drives;
    ResidentPlace Place;
  } cases[] = {
      {true, 1, 1, true, P::Here},      {true, 2, 1, false, P::Here},  // a Remote Desktop session beside the console's
      {true, 1, 2, false, P::Here},                    // a disconnected session after a user switch
      {true, 0xFFFFFFFF, 0xFFFFFFFF, false, P::Here},  // nobody at the console while one attaches
      {false, 0, 1, true, P::Here},                    // the own session unknown: as before the check
      {true, 0, 1, false, P::ConsoleSession},          // a deployment tool's SYSTEM, a user at the console
      {true, 0, 0xFFFFFFFF, false, P::Nowhere},        // SYSTEM, nobody at the console
      {true, 0, 0, true, P::Nowhere},                  // the console in session 0 (Windows XP)
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SessionDrivesKeyboard(c.Known, c.Own, c.Console), c.Drives) << c.Known << ' ' << c.Own << ' ' << c.Console;
    EXPECT_EQ(ResidentPlaceFor(c.Known, c.Own, c.Console), c.Place) << c.Own << ' ' << c.Console;
  }
}

// --- Lock keys ------------------------------------------------------------------

TEST(LockKeys, TakesOnlyTheToggleBitOfEachKey) {
  const short toggled = 0x0001;
  const short down = static_cast<short>(0xFF80);  // pressed, not toggled
  const short downToggled = static_cast<short>(0xFF81);
  const struct {
    short Num, Caps, Scroll;
    unsigned char Expected;
  } cases[] = {
      {0, 0, 0, 0},
      {toggled, 0, 0, 1},
      {0, toggled, 0, 2},
      {0, 0, toggled, 4},
      {toggled, toggled, toggled, 7},
      {down, down, down, 0},
      {downToggled, down, downToggled, 5},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CombineLockBits(c.Num, c.Caps, c.Scroll), c.Expected) << c.Num << ' ' << c.Caps << ' ' << c.Scroll;
  }
}

}  // namespace
