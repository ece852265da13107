// Shows Corvane.exe at work: it runs on a virtual keyboard (three interfaces of
// the keyboard, two foreign devices) and a virtual audio endpoint, another
// application mutes and unmutes the output, and every report that reaches the
// keyboard is printed as it comes. Run by scripts/demo.

#include <windows.h>

#include <stdio.h>

#include "program_driver.h"

namespace {

using corvane::Process;

DWORD g_start;
size_t g_printed;

void Say(const char* text) {
  printf("%7.3f s  %s\n", (GetTickCount() - g_start) / 1000.0, text);
  fflush(stdout);
}

void PrintNewReports(const std::wstring& dir) {
  std::vector<vdev::Report> reports = vdev::ReadReports(dir);
  for (; g_printed < reports.size(); ++g_printed) {
    const vdev::Report& report = reports[g_printed];
    const char* meaning = "";
    if (report.bytes.size() == 9 && report.bytes[1] == 0xA1) meaning = report.bytes[2] ? "LED on" : "LED off";
    if (report.bytes.size() == 9 && report.bytes[1] == 0xA2) meaning = report.bytes[2] ? "lid closed" : "lid open";
    printf("%7.3f s    keyboard <- %-14s %s  %s%s\n", (report.tick - g_start) / 1000.0, report.interfaceName.c_str(),
           vdev::HexBytes(report.bytes).c_str(), meaning, report.result == "ok" ? "" : "  (refused)");
  }
  fflush(stdout);
}

// Prints reports as they arrive for MS milliseconds.
void Watch(const std::wstring& dir, DWORD ms) {
  DWORD begin = GetTickCount();
  while (GetTickCount() - begin < ms) {
    PrintNewReports(dir);
    Sleep(20);
  }
  PrintNewReports(dir);
}

}  // namespace

int main() {
  std::wstring dir = corvane::RunFolder(L"demo");
  std::vector<vdev::HidInterface> devices = corvane::KeyboardAndForeignDevices();
  if (!vdev::PrepareFolder(dir) || !vdev::WriteHidInterfaces(dir, devices)) {
    fprintf(stderr, "demo: cannot set up the virtual devices\n");
    return 1;
  }
  printf("Virtual HID interfaces:\n");
  for (const vdev::HidInterface& device : devices) {
    bool keyboard = device.vendorId == corvane::kKeyboardVendorId && device.productId == corvane::kKeyboardProductId;
    printf("  %-14ls VID %04X PID %04X  %s\n", device.name.c_str(), device.vendorId, device.productId,
           keyboard ? "the keyboard" : "another device");
  }
  printf("Audio endpoint: not muted.\n\n");

  g_start = GetTickCount();
  Process corvane;
  if (!corvane::StartCorvane(dir, L"", &corvane)) {
    fprintf(stderr, "demo: cannot start Corvane.exe (%lu)\n", GetLastError());
    return 1;
  }
  Say("Corvane.exe started");
  if (!corvane::WaitForControlWindow(corvane.pid, 10000)) {
    std::wstring text;
    if (HWND box = corvane::WaitForMessageBox(corvane.pid, L"Error", 1000, &text)) {
      fprintf(stderr, "demo: Corvane reports \"%ls\"\n", text.c_str());
      corvane::DismissMessageBox(box);
    } else {
      fprintf(stderr, "demo: Corvane did not come up\n");
    }
    corvane::EndProcess(&corvane);
    return 1;
  }
  Say("Corvane is resident (hidden window of class CORVANE)");
  Watch(dir, 1500);

  const bool steps[] = {true, false, true, false};
  for (bool muted : steps) {
    Say(muted ? "another application mutes the output" : "another application unmutes the output");
    vdev::SetMute(dir, muted);
    Watch(dir, 1500);
  }
  Say("another application changes only the volume; the unchanged state is sent, and again 5 s later");
  vdev::SetVolume(dir, 0.8f);
  Watch(dir, 5500);

  Say("closing Corvane (WM_CLOSE to its window)");
  HWND window = corvane::FindControlWindow(corvane.pid);
  DWORD_PTR result;
  if (window) SendMessageTimeoutW(window, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, 5000, &result);
  DWORD code = 0;
  bool ended = corvane::WaitForExit(corvane, 5000, &code);
  PrintNewReports(dir);
  if (ended) {
    char line[64];
    snprintf(line, sizeof line, "Corvane exited with code %lu", code);
    Say(line);
  } else {
    Say("Corvane did not end; terminating it");
  }
  corvane::EndProcess(&corvane);
  return ended && code == 0 ? 0 : 1;
}
