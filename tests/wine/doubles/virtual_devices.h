#pragma once
// The virtual keyboard and audio endpoint that the test doubles of hid.dll,
// setupapi.dll and mmdevapi.dll present to a program under test, and the
// helpers with which tests configure them and read what they saw.
//
// Everything lives in one folder per test, named by the environment variable
// CORVANE_DOUBLES_DIR of the process under test (full Windows path, no
// trailing backslash). A double whose process lacks the variable presents no
// HID interface, an unmuted endpoint, logs nothing and polls nothing.
//
// The audio endpoint's friendly name (PKEY_Device_FriendlyName) is kEndpointName.
//
// Files read by the doubles (plain text, UTF-8, one item a line, '#' starts a
// comment line):
//
//   hid-interfaces.txt   one HID interface a line (at most 64), in enumeration order:
//                          NAME VID PID [exclusive] [feature-length=N] [no-attributes]
//                                       [stall-ms=N] [absent]
//                        NAME is a file in devices\ (the interface path that
//                        SetupDi reports is its full path; CreateFileW opens it);
//                        VID and PID are four hexadecimal digits. "exclusive"
//                        marks a keyboard or mouse collection, which Windows
//                        opens for itself: a handle to it with read or write
//                        access is refused like on Windows. feature-length is
//                        the feature report length (default 9); SetFeature
//                        with any other buffer length fails like on Windows
//                        (error 23, ERROR_CRC): any other length makes an
//                        interface that refuses the program's 9-byte reports.
//                        no-attributes makes HidD_GetAttributes fail.
//                        stall-ms: every HidD_SetFeature on it takes N ms (a
//                        keyboard that does not answer), in place of set-feature-ms.
//                        absent: an interface Windows remembers but which is not
//                        plugged in: SetupDiGetClassDevsW lists it only without
//                        DIGCF_PRESENT, its file does not exist, and asking for its
//                        details logs "absent-interface-walked PATH" to hid.log.
//   hid-costs.txt        KEY=VALUE lines, all optional, what the HID stack's calls
//                        cost (read at each call; no file, no costs):
//                          walk-ms=N              SetupDiGetClassDevsW takes N ms
//                          set-feature-ms=N       each HidD_SetFeature takes N ms
//   audio.txt            KEY=VALUE lines, all optional:
//                          muted=0|1              initial mute state (0)
//                          volume=F               initial scalar volume (0.5)
//                          endpoint=absent        no default render endpoint
//                                                 (GetDefaultAudioEndpoint fails 0x80070490)
//                          fail=STEP              this bind step fails with E_FAIL; STEP is
//                                                 class-object, default-endpoint, activate or
//                                                 register-control-change-notify (repeatable)
//                          getmute-fails=1        GetMute fails with E_FAIL
//                          release-delay-ms=N     the enumerator's last Release waits N ms
//                        Read once, when a process loads the double.
//   exit-delay.txt       N: the hid double holds the end of each process that
//                        loaded it after the file was written for N ms, as a
//                        slow teardown would (the program's file stays mapped).
//   audio-commands.txt   Append-only; what other applications and the system do:
//                          mute 0|1               another application sets the mute state
//                          volume F               another application sets the volume
//                          default-changed FLOW ROLE
//                                                 the default device changed (eRender 0,
//                                                 eCapture 1; eConsole 0, eMultimedia 1,
//                                                 eCommunications 2)
//                          service-restart        the Windows Audio service restarts:
//                                                 every registration is dropped and the
//                                                 objects made before answer every call
//                                                 with AUDCLNT_E_SERVICE_NOT_RUNNING
//                                                 (0x88890010, logged as "EVENT 88890010")
//                                                 and are never notified; objects made
//                                                 afterwards work
//                          getmute-fails 0|1      from now on GetMute fails with E_FAIL, or
//                                                 no longer (logged as "getmute-fails 0|1")
//                        Each process's double replays the lines present when it
//                        loads (state only, no notifications), then polls for new
//                        complete lines every 20 ms and, on its own thread, raises
//                        OnNotify (foreign event context, current mute flag) or
//                        OnDefaultDeviceChanged for each. Mute and volume are
//                        therefore shared by all processes, as on a real system.
//
// Files written by the doubles (lines "TICK PID EVENT ...", TICK the
// GetTickCount of the event in decimal, PID decimal):
//
//   hid.log      TICK PID attributes NAME RESULT       HidD_GetAttributes; RESULT is ok,
//                                                      refused-access or failed
//                TICK PID set-feature NAME RESULT HEX  HidD_SetFeature; RESULT is ok,
//                                                      refused-length or refused-access;
//                                                      HEX the buffer, bytes as "00 a1 01";
//                                                      logged when the call returns
//                TICK PID stall NAME                   a stalling HidD_SetFeature begins
//                TICK PID device-info-sets CREATED DESTROYED
//                                                      the setupapi double's totals of this
//                                                      process, after each set it creates or destroys
//   audio.log    TICK PID load
//                TICK PID class-object HR
//                TICK PID get-default-endpoint FLOW ROLE HR
//                TICK PID activate HR
//                TICK PID register-control-change-notify HR
//                TICK PID unregister-control-change-notify HR
//                TICK PID register-endpoint-notification
//                TICK PID get-mute HR MUTED
//                TICK PID notify MUTED VOLUME          OnNotify raised
//                TICK PID default-changed FLOW ROLE    OnDefaultDeviceChanged raised
//                TICK PID last-release OBJECT          enumerator, device or endpoint-volume
//                TICK PID service-restart              a service-restart command applied
//                (HR as eight hexadecimal digits)

#include <windows.h>

#include <string>
#include <vector>

namespace vdev {

constexpr wchar_t kDirVariable[] = L"CORVANE_DOUBLES_DIR";
constexpr wchar_t kHidInterfacesFile[] = L"hid-interfaces.txt";
constexpr wchar_t kHidCostsFile[] = L"hid-costs.txt";
constexpr wchar_t kDevicesFolder[] = L"devices";
constexpr wchar_t kAudioFile[] = L"audio.txt";
constexpr wchar_t kAudioCommandsFile[] = L"audio-commands.txt";
constexpr wchar_t kExitDelayFile[] = L"exit-delay.txt";
constexpr wchar_t kHidLog[] = L"hid.log";
constexpr wchar_t kAudioLog[] = L"audio.log";

constexpr unsigned kDefaultFeatureLength = 9;
constexpr wchar_t kEndpointName[] = L"Virtual Speakers (Corvane test endpoint)";
constexpr unsigned kCommandPollMs = 20;

// The class identifier that the mmdevapi double serves.
constexpr GUID kClsidMMDeviceEnumerator = {
    0xBCDE0395, 0xE52F, 0x467C, {0x8E, 0x3D, 0xC4, 0x57, 0x92, 0x91, 0x69, 0x2E}};

// Test helpers: not used by the doubles themselves.

struct HidInterface {
  std::wstring name;
  unsigned short vendorId;
  unsigned short productId;
  bool exclusive = false;
  unsigned featureLength = kDefaultFeatureLength;
  bool attributesFail = false;
  unsigned stallMs = 0;
  bool absent = false;
};

struct HidCosts {
  unsigned walkMs = 0;
  unsigned setFeatureMs = 0;
};

struct AudioSetup {
  bool muted = false;
  float volume = 0.5f;
  bool endpointAbsent = false;
  std::vector<std::string> failSteps;
  bool getMuteFails = false;
  unsigned releaseDelayMs = 0;
};

// One line of hid.log or audio.log.
struct LogEntry {
  DWORD tick;
  DWORD pid;
  std::string event;
  std::vector<std::string> fields;  // the words after the event
};

struct Report {
  DWORD tick;
  DWORD pid;
  std::string interfaceName;
  std::string result;
  std::vector<unsigned char> bytes;
};

// Creates (or empties) a test folder with no interfaces and default audio.
bool PrepareFolder(const std::wstring& dir);
// Writes hid-interfaces.txt and creates the interface files.
bool WriteHidInterfaces(const std::wstring& dir, const std::vector<HidInterface>& interfaces);
bool WriteHidCosts(const std::wstring& dir, const HidCosts& costs);
bool WriteAudioSetup(const std::wstring& dir, const AudioSetup& setup);
bool WriteExitDelay(const std::wstring& dir, unsigned delayMs);
// Appends one line to audio-commands.txt (in one write, so the doubles never
// see half a line).
bool SendAudioCommand(const std::wstring& dir, const std::string& line);
bool SetMute(const std::wstring& dir, bool muted);
bool SetVolume(const std::wstring& dir, float volume);
bool ChangeDefaultDevice(const std::wstring& dir, int flow, int role);

std::vector<LogEntry> ReadLog(const std::wstring& dir, const wchar_t* logName);
std::vector<Report> ReadReports(const std::wstring& dir);
// "00 a1 01 00 00 00 00 00 00"
std::string HexBytes(const std::vector<unsigned char>& bytes);

// The full path of an interface file, as SetupDi reports it.
std::wstring InterfacePath(const std::wstring& dir, const std::wstring& name);

}  // namespace vdev
