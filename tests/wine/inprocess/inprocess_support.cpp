#include "inprocess_support.h"

#include <ostream>

#include "common/control_ids.h"
#include "common/system_functions.h"
#include "app/control_window.h"
#include "audio/endpoint_watch.h"
#include "program_driver.h"
#include "virtual_devices.h"

std::ostream& operator<<(std::ostream& out, const PostedMessage& posted) {
  return out << "{0x" << std::hex << posted.message << std::dec << ", " << posted.wParam << "}";
}

namespace {

using WindowProcedure = LRESULT(WINAPI*)(HWND, UINT, WPARAM, LPARAM);
WindowProcedure RealDefaultProcedure = nullptr;
std::vector<UINT> DefaultProcedureMessages;

LRESULT WINAPI RecordingDefaultProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DefaultProcedureMessages.push_back(message);
  RealDefaultProcedure(window, message, wParam, lParam);
  return DefaultProcedureCalls::kAnswer;
}

}  // namespace

DefaultProcedureCalls::DefaultProcedureCalls() : slot_(ImportSlot("user32.dll", "DefWindowProcW")) {
  DefaultProcedureMessages.clear();
  if (!slot_) return;
  RealDefaultProcedure = reinterpret_cast<WindowProcedure>(*slot_);
  WriteSlot(slot_, reinterpret_cast<void*>(&RecordingDefaultProcedure));
}

DefaultProcedureCalls::~DefaultProcedureCalls() {
  if (slot_) WriteSlot(slot_, reinterpret_cast<void*>(RealDefaultProcedure));
}

const std::vector<UINT>& DefaultProcedureCalls::Messages() const { return DefaultProcedureMessages; }

void ControlWindowTest::SetUp() {
  // One folder for the whole program: the doubles read the variable when loaded.
  dir_ = corvane::RunFolder(L"inprocess");
  static bool prepared = false;
  if (!prepared) {
    LoadSystemFunctions();
    ASSERT_TRUE(vdev::PrepareFolder(dir_));
    // Windows also remembers a keyboard interface that is unplugged; no send may walk it.
    std::vector<vdev::HidInterface> devices = corvane::KeyboardAndForeignDevices();
    vdev::HidInterface unplugged = devices.front();
    unplugged.name = L"keyboard-mi03-unplugged";
    unplugged.absent = true;
    devices.push_back(unplugged);
    ASSERT_TRUE(vdev::WriteHidInterfaces(dir_, devices));
    ASSERT_TRUE(SetEnvironmentVariableW(vdev::kDirVariable, dir_.c_str()));
    prepared = true;
  }
  reportsBefore_ = vdev::ReadReports(dir_).size();

  App = AppState{};
  // Nothing is on its way from the audio callbacks to a new window.
  for (LatestValue* handOver : {&NotifiedMute, &ResyncRearm, &ReacquireRearm}) handOver->Pending = false;
  lstrcpyW(App.ClassName, L"CORVANE_INPROCESS");
  lstrcpyW(App.Title, L"Corvane");
  HINSTANCE instance = GetModuleHandleW(nullptr);
  RegisterMainWindowClass(instance);
  ASSERT_TRUE(CreateMainWindow(instance));
  ASSERT_NE(App.Window, nullptr);
}

void ControlWindowTest::TearDown() {
  for (const vdev::LogEntry& entry : vdev::ReadLog(dir_, vdev::kHidLog))
    EXPECT_NE(entry.event, "absent-interface-walked") << entry.fields.front();
  if (App.Window && IsWindow(App.Window)) DestroyWindow(App.Window);
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
  }
  StopEndpointWatch();
}

std::vector<PostedMessage> ControlWindowTest::TakePosted() {
  std::vector<PostedMessage> posted;
  MSG message;
  while (PeekMessageW(&message, App.Window, WM_MUTE_STATE, WM_REACQUIRE_REARM, PM_REMOVE))
    posted.push_back({message.message, message.wParam, message.lParam});
  return posted;
}

void ControlWindowTest::Deliver(const std::vector<PostedMessage>& messages) {
  for (const PostedMessage& posted : messages) SendMessageW(App.Window, posted.message, posted.wParam, posted.lParam);
}

bool ControlWindowTest::TimerPending(UINT_PTR id) { return KillTimer(App.Window, id) != FALSE; }

std::vector<std::string> ControlWindowTest::NewReports() {
  std::vector<vdev::Report> reports = vdev::ReadReports(dir_);
  std::vector<std::string> lines;
  for (size_t i = reportsBefore_; i < reports.size(); ++i)
    lines.push_back(reports[i].interfaceName + ": " + vdev::HexBytes(reports[i].bytes));
  return lines;
}

std::vector<std::string> ControlWindowTest::ReportsOnEveryKeyboardInterface(const std::string& bytes) {
  std::vector<std::string> lines;
  for (const std::string& name : corvane::KeyboardInterfaceNames(corvane::KeyboardAndForeignDevices()))
    lines.push_back(name + ": " + bytes);
  return lines;
}
