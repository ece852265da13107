#pragma once
// The interface list of hid-interfaces.txt, as the hid and setupapi doubles see it.

#include <windows.h>

struct VirtualInterface {
  wchar_t name[128];
  unsigned short vendorId;
  unsigned short productId;
  bool exclusive;
  unsigned featureLength;
  bool attributesFail;
  unsigned stallMs;  // HidD_SetFeature on it takes this long (0: the ordinary cost)
  bool absent;       // remembered, not connected: listed only without DIGCF_PRESENT
};

// What the HID stack's calls cost, from hid-costs.txt (all 0 without it).
struct HidCosts {
  unsigned walkMs;        // opening the set of present interfaces
  unsigned setFeatureMs;  // each HidD_SetFeature
};

constexpr int kMaxVirtualInterfaces = 64;

// Reads the current list; returns the count (0 without a test folder).
int LoadVirtualInterfaces(VirtualInterface (&interfaces)[kMaxVirtualInterfaces]);

HidCosts LoadHidCosts();

// Full path of the interface file NAME.
bool VirtualInterfacePath(const wchar_t* name, wchar_t* path, DWORD capacity);
