// The keyboard's identity in interface paths and device names, and its report bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "keyboard/feature_report.h"
#include "keyboard/keyboard_identity.h"

namespace {

// A terminated copy in an allocation of exactly its size: a read past the
// terminator is an AddressSanitizer report.
std::unique_ptr<char[]> ExactText(const std::string& text) {
  std::unique_ptr<char[]> copy(new char[text.size() + 1]);
  std::memcpy(copy.get(), text.c_str(), text.size() + 1);
  return copy;
}

std::string Hex(unsigned value, const char* format) {
  char text[16];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

const std::string kVid = Hex(KeyboardVendorId, "%04X");
const std::string kPid = Hex(KeyboardProductId, "%04X");
const std::string kVidLower = Hex(KeyboardVendorId, "%04x");
const std::string kPidLower = Hex(KeyboardProductId, "%04x");
const std::string kOtherPid = Hex(KeyboardProductId ^ 0x0101u, "%04X");
const std::string kOtherVid = Hex(KeyboardVendorId ^ 0x0101u, "%04X");
const std::string kHidClass = "#{4d1e55b2-f16f-11cf-88cb-001111000030}";

TEST(ParseHex4, ReadsFourPlacesAndStopsAtTheEnd) {
  const struct {
    const char* Text;
    unsigned Expected;
  } cases[] = {
      {"1209", 0x1209}, {"abcd", 0xABCD}, {"ABCD", 0xABCD}, {"aBcD", 0xABCD}, {"12G4", 0x1204},
      {"-1_f", 0x010F}, {"12345", 0x1234}, {"12", 0x1200}, {"1", 0x1000}, {"", 0x0000},
      {"G000", 0x0000}, {"0x12", 0x0012},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseHex4(ExactText(c.Text).get()), c.Expected) << '"' << c.Text << '"';
  }
}

struct PathCase {
  const char* What;
  std::string Path;
  bool Found;
  std::uint16_t Vendor;   // kUntouched when it must not be written
  std::uint16_t Product;  // kUntouched when it must not be written
};

constexpr std::uint16_t kUntouched = 0xEEEE;

TEST(DevicePath, FindsBothIdentifiers) {
  const std::string typical = "\\\\?\\USB#VID_ABCD&PID_12EF#6&1a2b3c4d&0&2#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
  const PathCase cases[] = {
      {"typical arrival path", typical, true, 0xABCD, 0x12EF},
      {"lower case", "\\\\?\\usb#vid_abcd&pid_12ef#6&1a2b3c4d&0&2", true, 0xABCD, 0x12EF},
      {"qualifier before &PID_", "\\\\?\\HID#VID_ABCD&MI_01&PID_12EF#7&2c", true, 0xABCD, 0x12EF},
      {"&PID_ in a later part", "\\\\?\\HID#VID_ABCD#7&2c&PID_12EF", true, 0xABCD, 0x12EF},
      {"first #VID_ counts", "#VID_1111&PID_2222#VID_ABCD&PID_12EF", true, 0x1111, 0x2222},
      {"non-hexadecimal digit", "#VID_12G4&PID_0001#", true, 0x1204, 0x0001},
      {"short product", "#VID_1209&PID_1", true, 0x1209, 0x1000},
      {"VID_ without #", "USB\\VID_ABCD&PID_12EF\\5&1", false, kUntouched, kUntouched},
      {"no &PID_", "\\\\?\\USB#VID_ABCD#6&1a2b", false, 0xABCD, kUntouched},
      {"&PID_ only before #VID_", "&PID_12EF#VID_ABCD", false, 0xABCD, kUntouched},
      {"short vendor at the end", "#VID_12", false, 0x1200, kUntouched},
      {"nothing", "", false, kUntouched, kUntouched},
      // Only the first 259 characters count.
      {"ids end at character 259", std::string(241, 'x') + "#VID_ABCD&PID_12EF", true, 0xABCD, 0x12EF},
      {"product digits cut at 259", std::string(245, 'x') + "#VID_ABCD&PID_12EF", true, 0xABCD, 0x0000},
      {"&PID_ cut at 259", std::string(250, 'x') + "#VID_ABCD&PID_12EF", false, 0xABCD, kUntouched},
      {"#VID_ beyond 259", std::string(256, 'x') + "#VID_ABCD&PID_12EF", false, kUntouched, kUntouched},
  };
  for (const PathCase& c : cases) {
    std::uint16_t vendor = kUntouched;
    std::uint16_t product = kUntouched;
    EXPECT_EQ(ParseDevicePathIds(ExactText(c.Path).get(), &vendor, &product), c.Found) << c.What;
    EXPECT_EQ(vendor, c.Vendor) << c.What;
    EXPECT_EQ(product, c.Product) << c.What;
  }
}

struct NameCase {
  const char* What;
  std::string Name;
  bool Matches;
};

TEST(DeviceName, MatchesOnlyTheKeyboard) {
  const NameCase cases[] = {
      {"HID collection", "\\\\?\\HID#VID_" + kVid + "&PID_" + kPid + "&MI_01#7&2a1b3c4d&0&0000" + kHidClass, true},
      {"lower case", "\\\\?\\hid#vid_" + kVidLower + "&pid_" + kPidLower + "&mi_00#7&2a1b" + kHidClass, true},
      {"no # before VID_", "USB\\VID_" + kVid + "&PID_" + kPid + "\\5&1", true},
      {"product without leading zeros", "\\\\?\\HID#VID_" + kVid + "&PID_" + Hex(KeyboardProductId, "%X"), true},
      {"other product", "\\\\?\\HID#VID_" + kVid + "&PID_" + kOtherPid + "&MI_01#7&2a", false},
      {"other vendor", "\\\\?\\HID#VID_" + kOtherVid + "&PID_" + kPid + "&MI_01#7&2a", false},
      {"qualifier before &PID_", "\\\\?\\HID#VID_" + kVid + "&MI_01&PID_" + kPid + "#7&2a", false},
      {"five vendor digits", "\\\\?\\HID#VID_0" + kVid + "&PID_" + kPid, false},
      {"non-hexadecimal vendor digit", "\\\\?\\HID#VID_" + kVid.substr(0, 2) + "G" + kVid.substr(3) + "&PID_" + kPid,
       false},
      {"first VID_ counts", "\\\\?\\HID#VID_XYZ#VID_" + kVid + "&PID_" + kPid, false},
      {"no VID_", "\\\\?\\ACPI#PNP0303#4&1d1e8b5&0" + kHidClass, false},
      {"Wine's own keyboard", "\\\\?\\WINEKEYBOARD#0#0", false},
      {"empty", "", false},
  };
  for (const NameCase& c : cases) {
    EXPECT_EQ(IsKeyboardAnsiName(ExactText(c.Name).get()), c.Matches) << c.What << ": " << c.Name;
  }
}

TEST(DeviceName, PathAndNameMatchersDifferOnTheSameText) {
  // A qualifier between the identifiers: the path matcher still finds both, the
  // name matcher refuses; without '#', the other way round.
  const std::string qualified = "\\\\?\\HID#VID_" + kVid + "&MI_01&PID_" + kPid + "#7&2a";
  const std::string unhashed = "USB\\VID_" + kVid + "&PID_" + kPid;
  std::uint16_t vendor = 0;
  std::uint16_t product = 0;
  EXPECT_TRUE(ParseDevicePathIds(ExactText(qualified).get(), &vendor, &product));
  EXPECT_EQ(vendor, KeyboardVendorId);
  EXPECT_EQ(product, KeyboardProductId);
  EXPECT_FALSE(IsKeyboardAnsiName(ExactText(qualified).get()));

  EXPECT_FALSE(ParseDevicePathIds(ExactText(unhashed).get(), &vendor, &product));
  EXPECT_TRUE(IsKeyboardAnsiName(ExactText(unhashed).get()));
}

TEST(FeatureReport, CarriesCommandAndValueThenZeros) {
  const struct {
    unsigned char Command, Value;
    unsigned char Expected[FEATURE_REPORT_LENGTH];
  } cases[] = {
      {FEATURE_CMD_MUTE, 1, {0x00, 0xA1, 0x01, 0, 0, 0, 0, 0, 0}},
      {FEATURE_CMD_MUTE, 0, {0x00, 0xA1, 0x00, 0, 0, 0, 0, 0, 0}},
      {FEATURE_CMD_LID, 1, {0x00, 0xA2, 0x01, 0, 0, 0, 0, 0, 0}},
      {FEATURE_CMD_LID, 0, {0x00, 0xA2, 0x00, 0, 0, 0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    unsigned char report[FEATURE_REPORT_LENGTH];
    std::memset(report, 0xCC, sizeof report);
    BuildFeatureReport(c.Command, c.Value, report);
    EXPECT_EQ(std::memcmp(report, c.Expected, sizeof report), 0)
        << "command " << int{c.Command} << ", value " << int{c.Value};
  }
}

}  // namespace
