// Corvane.exe's resync periods as the keyboard sees them: which reports arrive
// on every keyboard interface after start-up, after a mute change of another
// application and after a new default output or communications device, and that each
// period falls silent when it ends.
//
// Each span of reports begins at the audio double's log line of its trigger
// (the mute read before the timers are armed, or the notification raised) and
// ends at the next trigger's line or at the program's exit. Within a span the
// reports are counted and the gaps between consecutive ones checked, each
// within kSlackMs: the program re-arms from when a timer fired, so lateness
// under load adds up over a period and absolute times would drift. Exact
// schedules are the virtual-clock tests' business.

#include <windows.h>

#include <algorithm>
#include <sstream>

#include "program_test.h"

namespace corvane {
namespace {

constexpr LONG kSlackMs = 400;
// The last send of a period lies 15.x s after its trigger and the period ends
// at 19 s; a period left alone this long has had the time to send a fifth time.
constexpr DWORD kQuietAfterMs = 21000;

constexpr int kRender = 0;
constexpr int kCapture = 1;
constexpr int kConsole = 0;
constexpr int kMultimedia = 1;
constexpr int kCommunications = 2;

struct ExpectedSend {
  LONG gapMs;  // after the previous send of the span, the first after the trigger
  bool muted;
};

// The sends of one period: the first after FIRST ms, then every 5 s, four in all.
std::vector<ExpectedSend> Period(LONG first, bool muted) {
  return {{first, muted}, {5000, muted}, {5000, muted}, {5000, muted}};
}

void SleepUntil(DWORD tick) {
  for (LONG left; (left = static_cast<LONG>(tick - GetTickCount())) > 0;) Sleep(left < 200 ? left : 200);
}

bool Within(DWORD tick, DWORD from, DWORD until) { return tick - from < until - from; }

class ResyncTest : public ProgramTest {
 protected:
  // Ticks of PID's audio.log events named EVENT whose first words are FIELDS, in log order.
  std::vector<DWORD> EventTicks(DWORD pid, const std::string& event, const std::vector<std::string>& fields = {}) {
    std::vector<DWORD> ticks;
    for (const vdev::LogEntry& entry : AudioEventsOf(dir_, pid)) {
      if (entry.event != event || entry.fields.size() < fields.size()) continue;
      if (std::equal(fields.begin(), fields.end(), entry.fields.begin())) ticks.push_back(entry.tick);
    }
    return ticks;
  }

  // The tick of the COUNT-th such event (1-based), once it is logged; 0 and a failure when it is not within 5 s.
  DWORD WaitForEventTick(DWORD pid, const std::string& event, const std::vector<std::string>& fields, size_t count) {
    std::vector<DWORD> ticks;
    bool logged = WaitUntil(5000, [&] { return (ticks = EventTicks(pid, event, fields)).size() >= count; });
    EXPECT_TRUE(logged) << "audio.log holds " << ticks.size() << " " << event << " of process " << pid << ", not "
                        << count;
    return logged ? ticks[count - 1] : 0;
  }

  // Every keyboard interface received from PID, from the trigger logged at FROM
  // until UNTIL, the expected sends in order, each carrying its mute flag and
  // the expected gap after the one before (the first after FROM), and no report besides.
  void ExpectSends(DWORD pid, DWORD from, DWORD until, const std::vector<ExpectedSend>& sends) {
    std::vector<vdev::Report> reports = vdev::ReadReports(dir_);
    for (const std::string& name : keyboard_) {
      std::vector<const vdev::Report*> mine;
      std::ostringstream seen;
      DWORD previous = from;
      for (const vdev::Report& report : reports) {
        if (report.pid != pid || report.interfaceName != name || !Within(report.tick, from, until)) continue;
        mine.push_back(&report);
        seen << " +" << report.tick - previous << " ms [" << vdev::HexBytes(report.bytes) << "]";
        previous = report.tick;
      }
      SCOPED_TRACE(name + ", reports in ms after the one before:" + seen.str());
      ASSERT_EQ(mine.size(), sends.size()) << "reports in the span";
      previous = from;
      for (size_t i = 0; i < sends.size(); ++i) {
        EXPECT_NEAR(static_cast<LONG>(mine[i]->tick - previous), sends[i].gapMs, kSlackMs) << "send " << i;
        EXPECT_EQ(mine[i]->bytes, MuteReport(sends[i].muted)) << "send " << i;
        previous = mine[i]->tick;
      }
    }
  }

  // The start-up read of the mute state, right before the first period's timers are armed.
  DWORD StartupReadTick(const Process& resident) { return WaitForEventTick(resident.pid, "get-mute", {}, 1); }

  // Ends the resident, the fence after which nothing more can come; the tick past its last report.
  DWORD EndResident(const Process& resident) {
    SendToControlWindow(resident, WM_CLOSE);
    EXPECT_EQ(ExitCodeOf(resident), 0u);
    return GetTickCount() + 1;
  }
};

TEST_F(ResyncTest, StartupPeriodThenAMuteChangesPeriodEachSendFourTimesAndFallSilent) {
  Process resident = StartResident();
  DWORD start = StartupReadTick(resident);
  ASSERT_NE(start, 0u);
  SleepUntil(start + kQuietAfterMs);

  ASSERT_TRUE(vdev::SetMute(dir_, true));
  DWORD notify = WaitForEventTick(resident.pid, "notify", {"1"}, 1);
  ASSERT_NE(notify, 0u);
  ExpectSends(resident.pid, start, notify, Period(100, false));
  ASSERT_FALSE(HasFailure()) << "the start-up period is wrong; the next one would start from a wrong state";
  SleepUntil(notify + kQuietAfterMs);
  ExpectSends(resident.pid, notify, EndResident(resident), Period(0, true));
}

// The endpoint is muted by another application first, so the state read at the
// re-bind is not the one read at start-up. The re-bind's period replaces the
// send still pending from the mute change.
TEST_F(ResyncTest, CommunicationsDeviceChangeRebindsReadsTheMuteAndOpensANewPeriod) {
  Process resident = StartResident();
  DWORD start = StartupReadTick(resident);
  ASSERT_NE(start, 0u);
  SleepUntil(start + 500);

  // Multimedia of either flow and capture console: no re-bind, which the count of binds at the end shows.
  const int quietRoles[][2] = {{kCapture, kConsole}, {kRender, kMultimedia}, {kCapture, kMultimedia}};
  for (const auto& change : quietRoles) ASSERT_TRUE(vdev::ChangeDefaultDevice(dir_, change[0], change[1]));
  ASSERT_NE(WaitForEventTick(resident.pid, "default-changed", {}, ARRAYSIZE(quietRoles)), 0u);

  ASSERT_TRUE(vdev::SetMute(dir_, true));
  DWORD notify = WaitForEventTick(resident.pid, "notify", {"1"}, 1);
  ASSERT_NE(notify, 0u);
  SleepUntil(notify + 1000);

  ASSERT_TRUE(vdev::ChangeDefaultDevice(dir_, kRender, kCommunications));
  DWORD change = WaitForEventTick(resident.pid, "default-changed", {"0", "2"}, 1);
  DWORD rebind = WaitForEventTick(resident.pid, "get-mute", {}, 2);
  ASSERT_NE(change, 0u);
  ASSERT_NE(rebind, 0u);

  SleepUntil(rebind + kQuietAfterMs);
  DWORD end = EndResident(resident);
  // The whole re-bind after the change, in order, and nothing of it twice; none before it.
  std::vector<std::string> steps;
  bool afterChange = false;
  size_t binds = 0;
  for (const vdev::LogEntry& entry : AudioEventsOf(dir_, resident.pid)) {
    binds += entry.event == "get-default-endpoint";
    afterChange = afterChange || (entry.event == "default-changed" && entry.fields.at(1) == "2");
    if (!afterChange || entry.event == "default-changed" || entry.event == "notify") continue;
    std::string step = entry.event;
    for (const std::string& field : entry.fields) step += " " + field;
    steps.push_back(step);
  }
  EXPECT_EQ(binds, 2u) << "the start-up bind and one re-bind";
  // The teardown's unregistering and releases close the list.
  ASSERT_GE(steps.size(), 7u);
  steps.resize(7);
  EXPECT_EQ(steps, (std::vector<std::string>{"unregister-control-change-notify 00000000",
                                             "last-release endpoint-volume", "last-release device",
                                             "get-default-endpoint 0 0 00000000", "activate 00000000",
                                             "register-control-change-notify 00000000", "get-mute 00000000 1"}));

  ExpectSends(resident.pid, start, notify, {{100, false}});
  ExpectSends(resident.pid, notify, rebind, {{0, true}});
  ExpectSends(resident.pid, rebind, end, Period(200, true));
}

// Changes in one burst, communications of either flow and the output: each one
// re-arms the same delay, so the program binds once, after the last.
TEST_F(ResyncTest, RebindingChangesInABurstRebindOnceAfterTheLast) {
  Process resident = StartResident();
  DWORD start = StartupReadTick(resident);
  ASSERT_NE(start, 0u);
  SleepUntil(start + 500);

  // One append: the double raises them back to back from one poll.
  ASSERT_TRUE(vdev::SendAudioCommand(dir_,
                                     "default-changed 0 2\ndefault-changed 1 2\ndefault-changed 0 0\n"
                                     "default-changed 1 2\ndefault-changed 0 0"));
  ASSERT_NE(WaitForEventTick(resident.pid, "default-changed", {}, 5), 0u);
  DWORD rebind = WaitForEventTick(resident.pid, "get-mute", {}, 2);
  ASSERT_NE(rebind, 0u);
  ASSERT_TRUE(WaitForReportOnEach(dir_, 0, resident.pid, keyboard_, MuteReport(false), 5000));
  ASSERT_TRUE(WaitUntil(5000, [&] {
    size_t after = 0;
    for (const vdev::Report& report : vdev::ReadReports(dir_)) after += report.tick >= rebind;
    return after >= keyboard_.size();
  })) << "no send after the re-bind";
  DWORD end = EndResident(resident);

  std::vector<std::string> order;
  for (const vdev::LogEntry& entry : AudioEventsOf(dir_, resident.pid)) {
    if (entry.event == "default-changed" || entry.event == "get-default-endpoint") order.push_back(entry.event);
  }
  EXPECT_EQ(order, (std::vector<std::string>{"get-default-endpoint", "default-changed", "default-changed",
                                             "default-changed", "default-changed", "default-changed",
                                             "get-default-endpoint"}));
  ExpectSends(resident.pid, start, rebind, {{100, false}});
  ExpectSends(resident.pid, rebind, end, {{200, false}});
}

// Caps Lock pressed and released by the user, as the keyboard's input; pressed
// again when the object goes, so that the prefix's lock state is left as found.
class CapsLockToggle {
 public:
  CapsLockToggle() { toggled_ = Press(); }
  ~CapsLockToggle() {
    if (toggled_) Press();
  }
  bool toggled() const { return toggled_; }

 private:
  static bool Press() {
    INPUT keys[2] = {};
    for (INPUT& key : keys) {
      key.type = INPUT_KEYBOARD;
      key.ki.wVk = VK_CAPITAL;
    }
    keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
    return SendInput(2, keys, sizeof(INPUT)) == 2;
  }
  bool toggled_ = false;
};

// After the audio service restarted, the resident's objects fail and nothing
// notifies it: another application's mute change reaches the keyboard only once a
// keyboard input made the resident read the endpoint, which fails with the
// service's error and binds everything afresh; from then on changes are followed
// again at once.
TEST_F(ResyncTest, AfterAnAudioServiceRestartOneKeyboardInputBindsAfreshAndChangesAreFollowedAgain) {
  Process resident = StartResident();
  DWORD start = StartupReadTick(resident);
  ASSERT_NE(start, 0u);
  // The start-up period over, the keyboard input is well past the hold-off after a send.
  SleepUntil(start + kQuietAfterMs);
  ASSERT_TRUE(vdev::SendAudioCommand(dir_, "service-restart"));
  ASSERT_GE(WaitForAudioEvent(dir_, resident.pid, "service-restart", {}, 5000), 0);
  ASSERT_TRUE(vdev::SetMute(dir_, true));
  // The double has raised the change, to nobody: the resident's registration went with the service.
  ASSERT_GE(WaitForAudioEvent(dir_, resident.pid, "notify", {"1"}, 5000), 0);
  const size_t beforeInput = ReportCount();

  CapsLockToggle input;
  ASSERT_TRUE(input.toggled());
  EXPECT_TRUE(WaitForReportOnEach(dir_, beforeInput, resident.pid, keyboard_, MuteReport(true), 5000))
      << "the mute change made after the restart never reached the keyboard";

  // The read failed with the service's error; the old objects were let go of and all taken afresh.
  std::vector<std::string> steps;
  bool restarted = false;
  for (const vdev::LogEntry& entry : AudioEventsOf(dir_, resident.pid)) {
    restarted = restarted || entry.event == "service-restart";
    if (!restarted || entry.event == "service-restart" || entry.event == "notify" || entry.event == "class-object")
      continue;
    std::string step = entry.event;
    for (const std::string& field : entry.fields) step += " " + field;
    steps.push_back(step);
  }
  EXPECT_EQ(steps, (std::vector<std::string>{"get-mute 88890010", "unregister-control-change-notify 88890010",
                                             "last-release endpoint-volume", "last-release device",
                                             "unregister-endpoint-notification 88890010", "last-release enumerator",
                                             "register-endpoint-notification", "get-default-endpoint 0 0 00000000",
                                             "activate 00000000", "register-control-change-notify 00000000",
                                             "get-mute 00000000 1"}));

  const size_t beforeUnmute = ReportCount();
  ASSERT_TRUE(vdev::SetMute(dir_, false));
  EXPECT_TRUE(WaitForReportOnEach(dir_, beforeUnmute, resident.pid, keyboard_, MuteReport(false), 5000))
      << "the new registration does not follow";
  EndResident(resident);
}

}  // namespace
}  // namespace corvane
