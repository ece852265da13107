#include "hid_interfaces.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "double_support.h"
#include "virtual_devices.h"

static bool ParseInterface(char* line, VirtualInterface* out) {
  char* name = NextWord(&line);
  char* vendor = NextWord(&line);
  char* product = NextWord(&line);
  if (!name || !vendor || !product) return false;
  if (MultiByteToWideChar(CP_UTF8, 0, name, -1, out->name, ARRAYSIZE(out->name)) == 0) return false;
  out->vendorId = static_cast<unsigned short>(strtoul(vendor, nullptr, 16));
  out->productId = static_cast<unsigned short>(strtoul(product, nullptr, 16));
  out->exclusive = false;
  out->featureLength = vdev::kDefaultFeatureLength;
  out->attributesFail = false;
  out->stallMs = 0;
  out->absent = false;
  while (char* option = NextWord(&line)) {
    if (strcmp(option, "exclusive") == 0) {
      out->exclusive = true;
    } else if (strncmp(option, "feature-length=", 15) == 0) {
      out->featureLength = static_cast<unsigned>(strtoul(option + 15, nullptr, 10));
    } else if (strcmp(option, "no-attributes") == 0) {
      out->attributesFail = true;
    } else if (strncmp(option, "stall-ms=", 9) == 0) {
      out->stallMs = static_cast<unsigned>(strtoul(option + 9, nullptr, 10));
    } else if (strcmp(option, "absent") == 0) {
      out->absent = true;
    }
  }
  return true;
}

int LoadVirtualInterfaces(VirtualInterface (&interfaces)[kMaxVirtualInterfaces]) {
  wchar_t path[MAX_PATH];
  if (!DoublesPath(vdev::kHidInterfacesFile, path, MAX_PATH)) return 0;
  DWORD size;
  char* text = ReadWholeFile(path, &size);
  if (!text) return 0;
  int count = 0;
  char* cursor = text;
  while (char* line = NextConfigLine(&cursor)) {
    if (count < kMaxVirtualInterfaces && ParseInterface(line, &interfaces[count])) ++count;
  }
  HeapFree(GetProcessHeap(), 0, text);
  return count;
}

HidCosts LoadHidCosts() {
  HidCosts costs = {};
  wchar_t path[MAX_PATH];
  if (!DoublesPath(vdev::kHidCostsFile, path, MAX_PATH)) return costs;
  DWORD size;
  char* text = ReadWholeFile(path, &size);
  if (!text) return costs;
  char* cursor = text;
  while (char* line = NextConfigLine(&cursor)) {
    if (strncmp(line, "walk-ms=", 8) == 0) costs.walkMs = static_cast<unsigned>(strtoul(line + 8, nullptr, 10));
    if (strncmp(line, "set-feature-ms=", 15) == 0) {
      costs.setFeatureMs = static_cast<unsigned>(strtoul(line + 15, nullptr, 10));
    }
  }
  HeapFree(GetProcessHeap(), 0, text);
  return costs;
}

bool VirtualInterfacePath(const wchar_t* name, wchar_t* path, DWORD capacity) {
  wchar_t relative[200];
  int written = _snwprintf(relative, ARRAYSIZE(relative), L"%ls\\%ls", vdev::kDevicesFolder, name);
  return written > 0 && written < static_cast<int>(ARRAYSIZE(relative)) &&
         DoublesPath(relative, path, capacity);
}
