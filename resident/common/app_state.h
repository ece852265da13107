#pragma once
// The one process-wide state of the resident program. Owned by the main thread;
// the audio callbacks read only Window (through CallbackWindow) and ContextGuid.
#include <cstdint>

#include <windows.h>
#include <mmdeviceapi.h>
#include <endpointvolume.h>

#include "common/run_mode.h"

struct AppState {
  RunMode Mode;
  BYTE LockBits;                 // Num Lock bit 0, Caps Lock bit 1, Scroll Lock bit 2
  bool LockPollStarted;          // the initial mute read started the lock-key poll
  std::uint32_t LastActivityTick;        // last accepted trigger or sent mute command
  HPOWERNOTIFY PowerNotify;
  HPOWERNOTIFY DisplayNotify;    // the console display's state, for resumes that bring no PBT_APMRESUMEAUTOMATIC
  bool SessionNotify;            // WTSRegisterSessionNotification succeeded
  HANDLE SessionServicesReady;   // the event awaited after a registration that came too early
  HANDLE SessionServicesWait;    // the thread pool's wait on it
  HDEVNOTIFY HubNotify;
  HDEVNOTIFY UsbDeviceNotify;
  std::uint32_t LidClosed;
  std::uint32_t Mute;
  bool MuteSent;                 // the mute state went to the keyboard since start-up
  std::uint32_t MuteSentTick;    // when it last did
  unsigned MuteSentAccepted;     // how many interfaces took it then
  bool UninstallReportSent;      // the indicator is off for good: nothing more goes to the keyboard
  GUID ContextGuid;              // written before the audio bind, read by the callbacks
  HWND Window;                   // null until WM_CREATE, read by the callbacks
  IAudioEndpointVolume* EndpointVolume;
  IMMDevice* Device;
  IMMDeviceEnumerator* Enumerator;
  HINSTANCE Instance;
  WCHAR ClassName[100];
  WCHAR Title[100];
};

extern AppState App;

// The control window as seen from the audio service's threads.
inline HWND CallbackWindow() {
  return static_cast<HWND>(InterlockedCompareExchangePointer(
      reinterpret_cast<PVOID volatile*>(&App.Window), nullptr, nullptr));
}
