// Corvane.exe's resync periods as the keyboard sees them: which reports arrive
// on every keyboard interface after start-up, after a mute change of another
// application and after a new default output or communications device, and that each
// period falls silent when it ends.
//
// Expected sends are placed relative to the audio double's log of the mute
// read that precedes the arming of the timers (start-up, re-bind) or of the
// notification it raised. Wine's timers and the doubles' 20 ms command poll
// jitter, so every send is looked for within kSlackMs of its expected time and
// the assertions count reports per window and per period, never exact ticks.

#include <windows.h>

#include <algorithm>
#include <sstream>

#include "program_test.h"

namespace corvane {
namespace {

constexpr DWORD kSlackMs = 400;
// The last send of a period lies 15.x s after its trigger and the period ends
// at 19 s; a period is over, and must have stayed silent, 21 s after it began.
constexpr DWORD kQuietAfterMs = 21000;

constexpr int kRender = 0;
constexpr int kCapture = 1;
constexpr int kConsole = 0;
constexpr int kMultimedia = 1;
constexpr int kCommunications = 2;

struct ExpectedSend {
  DWORD tick;
  bool muted;
};

void SleepUntil(DWORD tick) {
  for (LONG left; (left = static_cast<LONG>(tick - GetTickCount())) > 0;) Sleep(left < 200 ? left : 200);
}

bool Within(DWORD tick, DWORD from, DWORD until) { return tick - from <= until - from; }

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

  // Every keyboard interface received from PID, between FROM and UNTIL, exactly
  // one report within kSlackMs of each expected send, carrying its mute flag,
  // and no report besides.
  void ExpectSends(DWORD pid, DWORD from, DWORD until, const std::vector<ExpectedSend>& sends) {
    std::vector<vdev::Report> reports = vdev::ReadReports(dir_);
    for (const std::string& name : keyboard_) {
      std::vector<const vdev::Report*> mine;
      std::ostringstream seen;
      for (const vdev::Report& report : reports) {
        if (report.pid != pid || report.interfaceName != name || !Within(report.tick, from, until)) continue;
        mine.push_back(&report);
        seen << " +" << report.tick - from << " ms [" << vdev::HexBytes(report.bytes) << "]";
      }
      SCOPED_TRACE(name + ", reports in ms after the checked span began:" + seen.str());
      EXPECT_EQ(mine.size(), sends.size()) << "reports in the checked span";
      for (const ExpectedSend& send : sends) {
        size_t inWindow = 0;
        for (const vdev::Report* report : mine) {
          if (!Within(report->tick, send.tick - kSlackMs, send.tick + kSlackMs)) continue;
          ++inWindow;
          EXPECT_EQ(report->bytes, MuteReport(send.muted)) << "send at +" << send.tick - from << " ms";
        }
        EXPECT_EQ(inWindow, 1u) << "reports around +" << send.tick - from << " ms";
      }
    }
  }

  // The start-up read of the mute state, right before the first period's timers are armed.
  DWORD StartupReadTick(const Process& resident) { return WaitForEventTick(resident.pid, "get-mute", {}, 1); }
};

TEST_F(ResyncTest, StartupPeriodThenAMuteChangesPeriodEachSendFourTimesAndFallSilent) {
  Process resident = StartResident();
  DWORD start = StartupReadTick(resident);
  ASSERT_NE(start, 0u);
  SleepUntil(start + kQuietAfterMs);
  ExpectSends(resident.pid, start, start + kQuietAfterMs,
              {{start + 100, false}, {start + 5100, false}, {start + 10100, false}, {start + 15100, false}});
  ASSERT_FALSE(HasFailure()) << "the start-up period is wrong; the next one would start from a wrong state";

  ASSERT_TRUE(vdev::SetMute(dir_, true));
  DWORD notify = WaitForEventTick(resident.pid, "notify", {"1"}, 1);
  ASSERT_NE(notify, 0u);
  SleepUntil(notify + kQuietAfterMs);
  ExpectSends(resident.pid, start + kQuietAfterMs, notify + kQuietAfterMs,
              {{notify, true}, {notify + 5000, true}, {notify + 10000, true}, {notify + 15000, true}});
}

// The endpoint is muted by another application first, so the state read at the
// re-bind is not the one read at start-up. The re-bind's period replaces the
// send still pending from the mute change.
TEST_F(ResyncTest, CommunicationsDeviceChangeRebindsReadsTheMuteAndOpensANewPeriod) {
  Process resident = StartResident();
  DWORD start = StartupReadTick(resident);
  ASSERT_NE(start, 0u);
  SleepUntil(start + 500);

  // Multimedia of either flow and capture console: no re-bind (and no send, which the final count shows).
  const int quietRoles[][2] = {{kCapture, kConsole}, {kRender, kMultimedia}, {kCapture, kMultimedia}};
  for (const auto& change : quietRoles) ASSERT_TRUE(vdev::ChangeDefaultDevice(dir_, change[0], change[1]));
  DWORD lastQuiet = WaitForEventTick(resident.pid, "default-changed", {}, ARRAYSIZE(quietRoles));
  ASSERT_NE(lastQuiet, 0u);
  SleepUntil(lastQuiet + 800);
  ASSERT_EQ(EventTicks(resident.pid, "get-default-endpoint").size(), 1u)
      << "a multimedia or capture console default-device change made the program bind again";

  ASSERT_TRUE(vdev::SetMute(dir_, true));
  DWORD notify = WaitForEventTick(resident.pid, "notify", {"1"}, 1);
  ASSERT_NE(notify, 0u);
  SleepUntil(notify + 1000);

  ASSERT_TRUE(vdev::ChangeDefaultDevice(dir_, kRender, kCommunications));
  DWORD change = WaitForEventTick(resident.pid, "default-changed", {"0", "2"}, 1);
  DWORD rebind = WaitForEventTick(resident.pid, "get-mute", {}, 2);
  ASSERT_NE(change, 0u);
  ASSERT_NE(rebind, 0u);
  EXPECT_TRUE(Within(rebind, change + 1, change + 200 + kSlackMs))
      << "re-bind " << static_cast<LONG>(rebind - change) << " ms after the change";

  // The whole re-bind, in order, and nothing of it twice.
  std::vector<std::string> steps;
  bool afterChange = false;
  for (const vdev::LogEntry& entry : AudioEventsOf(dir_, resident.pid)) {
    afterChange = afterChange || (entry.event == "default-changed" && entry.fields.at(1) == "2");
    if (!afterChange || entry.event == "default-changed" || entry.event == "notify") {
      continue;
    }
    std::string step = entry.event;
    for (const std::string& field : entry.fields) step += " " + field;
    steps.push_back(step);
  }
  EXPECT_EQ(steps, (std::vector<std::string>{"unregister-control-change-notify 00000000",
                                             "last-release endpoint-volume", "last-release device",
                                             "get-default-endpoint 0 0 00000000", "activate 00000000",
                                             "register-control-change-notify 00000000", "get-mute 00000000 1"}));

  SleepUntil(rebind + kQuietAfterMs);
  ExpectSends(resident.pid, start, rebind + kQuietAfterMs,
              {{start + 100, false},
               {notify, true},
               {rebind + 200, true},
               {rebind + 5200, true},
               {rebind + 10200, true},
               {rebind + 15200, true}});
}

// Changes 100 ms apart, communications of either flow and the output: each one
// re-arms the 200 ms delay, so the one re-bind comes after the last change,
// where a delay kept from the first would have run out 200 ms before it.
TEST_F(ResyncTest, RebindingChangesWithin200MsRebindOnceAfterTheLast) {
  Process resident = StartResident();
  DWORD start = StartupReadTick(resident);
  ASSERT_NE(start, 0u);
  SleepUntil(start + 500);

  const int burst[][2] = {{kRender, kCommunications}, {kCapture, kCommunications}, {kRender, kConsole},
                           {kCapture, kCommunications}, {kRender, kConsole}};
  for (size_t i = 0; i < ARRAYSIZE(burst); ++i) {
    if (i > 0) Sleep(100);
    ASSERT_TRUE(vdev::ChangeDefaultDevice(dir_, burst[i][0], burst[i][1]));
  }
  ASSERT_NE(WaitForEventTick(resident.pid, "default-changed", {}, ARRAYSIZE(burst)), 0u);
  std::vector<DWORD> changes = EventTicks(resident.pid, "default-changed");
  for (size_t i = 1; i < changes.size(); ++i) {
    ASSERT_LT(changes[i] - changes[i - 1], 200u) << "change " << i << " came too late to count as the same burst";
  }
  DWORD last = changes.back();
  SleepUntil(last + 1500);

  std::vector<DWORD> binds = EventTicks(resident.pid, "get-default-endpoint");
  ASSERT_EQ(binds.size(), 2u) << "start-up bind and one re-bind";
  EXPECT_TRUE(Within(binds[1], last + 1, last + 200 + kSlackMs))
      << "re-bind " << static_cast<LONG>(binds[1] - last) << " ms after the last change";
  DWORD rebind = WaitForEventTick(resident.pid, "get-mute", {}, 2);
  ASSERT_NE(rebind, 0u);
  ExpectSends(resident.pid, start, last + 1500, {{start + 100, false}, {rebind + 200, false}});
}

}  // namespace
}  // namespace corvane
