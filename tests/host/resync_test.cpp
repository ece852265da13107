// The resync rules driven through whole timelines on a virtual clock.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "app/activity_rules.h"
#include "app/resync.h"
#include "audio/default_device_rules.h"
#include "audio/latest_value.h"
#include "common/control_ids.h"

namespace {

struct Send {
  std::uint64_t At;  // ms since the timeline began
  std::uint32_t Mute;
  bool operator==(const Send& other) const { return At == other.At && Mute == other.Mute; }
};

std::ostream& operator<<(std::ostream& out, const Send& send) {
  return out << "{" << send.At << " ms, mute " << send.Mute << "}";
}

// The control window as the scheduler sees it. Timers behave like window timers:
// arming a pending one replaces it, an expired one that nobody killed or re-armed
// fires again one delay later, and equal deadlines fire in arming order. Posted
// messages are handled before the next timer, as the message loop does.
class VirtualWindow final : public ResyncHost {
 public:
  // The tick counter starts at startTick; the last stamp lies a quiet minute back.
  explicit VirtualWindow(std::uint32_t startTick, std::uint32_t mute)
      : startTick_(startTick), lastActivityTick_(startTick - 60000), mute_(mute) {}

  void SetTimer(unsigned id, std::uint32_t delayMs) override {
    timers_[id] = Timer{elapsed_ + delayMs, delayMs, ++armings_};
  }
  void KillTimer(unsigned id) override { timers_.erase(id); }
  void PostMuteState(std::uint32_t mute) override { queue_.push_back({WM_MUTE_STATE, mute}); }
  void PostEndpointReacquire() override { queue_.push_back({WM_ENDPOINT_REACQUIRE, 0}); }

  std::uint32_t Tick() const { return static_cast<std::uint32_t>(startTick_ + elapsed_); }

  // What the window does at creation once the mute state was read.
  void Start() {
    lastActivityTick_ = Tick();
    ArmLockPoll(*this);
    StartInitialResync(*this);
  }
  // The volume callback: posts the flag and restarts the period.
  void MuteNotification(std::uint32_t mute) {
    PostMuteState(mute);
    StartNotificationResync(*this);
    Drain();
  }
  void KeyboardInput(InputTrigger trigger) {
    if (trigger == InputTrigger::Force) ForceResync(lastActivityTick_, Tick(), *this);
    if (trigger == InputTrigger::Nudge) NudgeResync(lastActivityTick_, Tick(), *this);
  }
  void KeyboardArrival() { StartKeyboardArrivalResync(*this); }
  // What the device client posts, handled at once as the main thread does.
  void DefaultDeviceChanged(int flow, int role) {
    if (DefaultDeviceChangeRebinds(flow, role)) ArmReacquire(*this);
  }
  void LockKeyToggled() { lockBitsChanged_ = true; }
  void CloseLid() {
    lidClosed_ = true;
    StopResyncForClosedLid(*this);
  }
  void OpenLid() { lidClosed_ = false; }
  // Resume, the display on, an unlock: what the window does for each.
  void SystemChange() { ForceResync(lastActivityTick_, Tick(), *this); }
  // Another session takes the physical console; this one connects to it again.
  void LeaveConsole() { atConsole_ = false; }
  void ConnectToConsole() {
    atConsole_ = true;
    SystemChange();
  }

  // Fires every timer due up to elapsed, in deadline order.
  void RunUntil(std::uint64_t elapsed) {
    for (;;) {
      auto next = timers_.end();
      for (auto it = timers_.begin(); it != timers_.end(); ++it) {
        if (next == timers_.end() || it->second.Deadline < next->second.Deadline ||
            (it->second.Deadline == next->second.Deadline && it->second.Arming < next->second.Arming)) {
          next = it;
        }
      }
      if (next == timers_.end() || next->second.Deadline > elapsed) break;
      const unsigned id = next->first;
      const Timer fired = next->second;
      elapsed_ = fired.Deadline;
      const TimerFollowUp followUp = DispatchTimer(id, lidClosed_, mute_, *this);
      auto after = timers_.find(id);
      if (after != timers_.end() && after->second.Arming == fired.Arming) {
        after->second.Deadline += fired.Delay;
      }
      if (followUp == TimerFollowUp::LockPoll && lockBitsChanged_) {
        lockBitsChanged_ = false;
        NudgeResync(lastActivityTick_, Tick(), *this);
      }
      Drain();
    }
    elapsed_ = elapsed;
  }

  bool IsPending(unsigned id) const { return timers_.count(id) != 0; }
  std::uint64_t Deadline(unsigned id) const { return timers_.at(id).Deadline; }
  bool AnyPending() const { return !timers_.empty(); }
  const std::vector<Send>& Sends() const { return sends_; }
  std::uint32_t Mute() const { return mute_; }

 private:
  struct Timer {
    std::uint64_t Deadline;
    std::uint32_t Delay;
    std::uint64_t Arming;
  };
  struct Message {
    unsigned Id;
    std::uint32_t WParam;
  };

  void Drain() {
    while (!queue_.empty()) {
      const Message message = queue_.front();
      queue_.pop_front();
      if (message.Id == WM_MUTE_STATE && AcceptMuteState(mute_, lidClosed_, atConsole_, message.WParam)) {
        sends_.push_back({elapsed_, mute_});
        lastActivityTick_ = Tick();
      }
      if (message.Id == WM_ENDPOINT_REACQUIRE) {  // a re-bind that succeeds
        lastActivityTick_ = Tick();
        StartRebindResync(*this);
      }
    }
  }

  std::uint32_t startTick_;
  std::uint64_t elapsed_ = 0;
  std::uint32_t lastActivityTick_;
  std::uint32_t mute_;
  bool lidClosed_ = false;
  bool atConsole_ = true;
  bool lockBitsChanged_ = false;
  std::uint64_t armings_ = 0;
  std::map<unsigned, Timer> timers_;
  std::deque<Message> queue_;
  std::vector<Send> sends_;
};

// Default-device changes by flow (render, capture) and role (console, multimedia, communications).
enum class Event {
  Start, Mute0, Mute1, Key, ForceReport, Arrival,
  RenderConsole, RenderMultimedia, RenderCommunications, CaptureConsole, CaptureMultimedia, CaptureCommunications,
  LockToggle, LidClose, LidOpen, Resume, DisplayOn, Unlock, ConsoleAway, ConsoleConnect
};

struct TimedEvent {
  std::uint64_t At;
  Event What;
};

struct Timeline {
  const char* Name;
  std::uint32_t StartTick;
  std::uint32_t InitialMute;
  std::vector<TimedEvent> Events;
  std::uint64_t Until;
  std::vector<Send> ExpectedSends;
};

void PrintTo(const Timeline& timeline, std::ostream* out) { *out << timeline.Name; }

void Apply(VirtualWindow& window, Event event) {
  switch (event) {
    case Event::Start: window.Start(); break;
    case Event::Mute0: window.MuteNotification(0); break;
    case Event::Mute1: window.MuteNotification(1); break;
    case Event::Key: window.KeyboardInput(InputTrigger::Nudge); break;
    case Event::ForceReport: window.KeyboardInput(InputTrigger::Force); break;
    case Event::Arrival: window.KeyboardArrival(); break;
    case Event::RenderConsole: window.DefaultDeviceChanged(0, 0); break;
    case Event::RenderMultimedia: window.DefaultDeviceChanged(0, 1); break;
    case Event::RenderCommunications: window.DefaultDeviceChanged(0, 2); break;
    case Event::CaptureConsole: window.DefaultDeviceChanged(1, 0); break;
    case Event::CaptureMultimedia: window.DefaultDeviceChanged(1, 1); break;
    case Event::CaptureCommunications: window.DefaultDeviceChanged(1, 2); break;
    case Event::LockToggle: window.LockKeyToggled(); break;
    case Event::LidClose: window.CloseLid(); break;
    case Event::LidOpen: window.OpenLid(); break;
    case Event::Resume:
    case Event::DisplayOn:
    case Event::Unlock: window.SystemChange(); break;
    case Event::ConsoleAway: window.LeaveConsole(); break;
    case Event::ConsoleConnect: window.ConnectToConsole(); break;
  }
}

constexpr std::uint32_t NEAR_WRAP = 0xFFFFFFFFu - 149;  // the tick wraps 150 ms in

const Timeline kTimelines[] = {
    {"StartUpSendsAfter100msThenEvery5sUntil19s", 0, 1, {{0, Event::Start}}, 30000,
     {{100, 1}, {5100, 1}, {10100, 1}, {15100, 1}}},
    {"MuteNotificationSendsAtOnceThenEvery5s", 0, 0, {{0, Event::Mute1}}, 30000,
     {{0, 1}, {5000, 1}, {10000, 1}, {15000, 1}}},
    {"KeyAfterQuietPhaseSends200msLater", 0, 1, {{10000, Event::Key}}, 40000,
     {{10200, 1}, {15200, 1}, {20200, 1}, {25200, 1}}},
    {"SecondKey900msLaterDoesNotSendEarly", 0, 1, {{0, Event::Key}, {900, Event::Key}}, 40000,
     {{200, 1}, {5200, 1}, {10200, 1}, {15200, 1}}},
    // The third event moves the period's end off the resend phase, so no two timers tie.
    {"KeyExactly1000msAfterSendDoesNotSendEarly", 0, 1,
     {{0, Event::Start}, {1100, Event::Key}, {5600, Event::Key}}, 40000,
     {{100, 1}, {5100, 1}, {10100, 1}, {15100, 1}, {20100, 1}}},
    {"Key1001msAfterSendSends200msLater", 0, 1, {{0, Event::Start}, {1101, Event::Key}}, 40000,
     {{100, 1}, {1301, 1}, {6301, 1}, {11301, 1}, {16301, 1}}},
    {"KeysWithinHoldOffKeepThePeriodOpen", 0, 1, {{0, Event::Key}, {16000, Event::Key}}, 50000,
     {{200, 1}, {5200, 1}, {10200, 1}, {15200, 1}, {20200, 1}, {25200, 1}, {30200, 1}}},
    {"ForceReportRightAfterSendSends200msLater", 0, 1, {{0, Event::Start}, {150, Event::ForceReport}}, 40000,
     {{100, 1}, {350, 1}, {5350, 1}, {10350, 1}, {15350, 1}}},
    {"OrdinaryKeyRightAfterSendOnlyExtends", 0, 1, {{0, Event::Start}, {150, Event::Key}}, 40000,
     {{100, 1}, {5100, 1}, {10100, 1}, {15100, 1}}},
    {"LockKeyChangeSeenByNextPoll", 0, 1, {{0, Event::Start}, {7050, Event::LockToggle}}, 40000,
     {{100, 1}, {5100, 1}, {7400, 1}, {12400, 1}, {17400, 1}, {22400, 1}}},
    {"KeyboardArrivalSendsAfter3sPeriodOf21s", 0, 1, {{0, Event::Arrival}}, 40000,
     {{3000, 1}, {8000, 1}, {13000, 1}, {18000, 1}}},
    {"CommunicationsChangeRebindsAndSends200msLater", 0, 1, {{0, Event::RenderCommunications}}, 40000,
     {{400, 1}, {5400, 1}, {10400, 1}, {15400, 1}}},
    {"CaptureCommunicationsChangeRebindsToo", 0, 1, {{0, Event::CaptureCommunications}}, 40000,
     {{400, 1}, {5400, 1}, {10400, 1}, {15400, 1}}},
    {"NewDefaultOutputRebindsAndSends200msLater", 0, 1, {{0, Event::RenderConsole}}, 40000,
     {{400, 1}, {5400, 1}, {10400, 1}, {15400, 1}}},
    {"MultimediaAndCaptureConsoleChangesLeaveTheBind", 0, 1,
     {{0, Event::RenderMultimedia}, {100, Event::CaptureConsole}, {200, Event::CaptureMultimedia}}, 40000, {}},
    // "Set Default" changes console and multimedia; a headset brings communications
    // of both flows. Each re-binding change restarts the delay, the others do not.
    {"BurstOfChangesRebindsOnce200msAfterTheLastThatCounts", 0, 1,
     {{0, Event::RenderConsole}, {150, Event::RenderMultimedia}, {150, Event::CaptureCommunications},
      {300, Event::RenderCommunications}, {450, Event::RenderMultimedia}, {600, Event::CaptureMultimedia}},
     40000, {{700, 1}, {5700, 1}, {10700, 1}, {15700, 1}}},
    {"ClosedLidSilencesEveryTriggerUntilOpened", 0, 0,
     {{0, Event::Start}, {7000, Event::LidClose}, {8000, Event::Mute1}, {9000, Event::Key},
      {9200, Event::LockToggle}, {9500, Event::Arrival}, {10000, Event::RenderConsole},
      {11000, Event::ForceReport}, {41000, Event::LidOpen}, {42000, Event::Key}},
     70000, {{100, 0}, {5100, 0}, {42200, 1}, {47200, 1}, {52200, 1}, {57200, 1}}},
    {"ResumeRightAfterASendSends200msLaterAndOpensAPeriod", 0, 1, {{0, Event::Start}, {150, Event::Resume}}, 40000,
     {{100, 1}, {350, 1}, {5350, 1}, {10350, 1}, {15350, 1}}},
    {"DisplayOnAndUnlockEachOpenAPeriod", 0, 1, {{0, Event::DisplayOn}, {30000, Event::Unlock}}, 60000,
     {{200, 1}, {5200, 1}, {10200, 1}, {15200, 1}, {30200, 1}, {35200, 1}, {40200, 1}, {45200, 1}}},
    {"ResumeAndDisplayOnWithTheLidClosedStaySilent", 0, 1,
     {{0, Event::Start}, {1000, Event::LidClose}, {5000, Event::Resume}, {6000, Event::DisplayOn}}, 40000,
     {{100, 1}}},
    // Another session (Remote Desktop, a switched user) holds the console: this
    // one's triggers and timers run, nothing is sent, until it connects again.
    {"NothingSentWhileAnotherSessionHasTheConsoleUntilItConnectsBack", 0, 1,
     {{0, Event::Start}, {1000, Event::ConsoleAway}, {2000, Event::Mute0}, {3000, Event::Key},
      {3100, Event::Resume}, {30000, Event::ConsoleConnect}},
     70000, {{100, 1}, {30200, 0}, {35200, 0}, {40200, 0}, {45200, 0}}},
    {"HoldOffMeasuredAcrossTickWrap", NEAR_WRAP, 1,
     {{0, Event::Start}, {400, Event::Key}, {1151, Event::Key}}, 40000,
     {{100, 1}, {1351, 1}, {6351, 1}, {11351, 1}, {16351, 1}}},
};

class ResyncTimeline : public testing::TestWithParam<Timeline> {};

TEST_P(ResyncTimeline, SendsExactlyAtExpectedTimes) {
  const Timeline& timeline = GetParam();
  VirtualWindow window(timeline.StartTick, timeline.InitialMute);
  for (const TimedEvent& event : timeline.Events) {
    window.RunUntil(event.At);
    Apply(window, event.What);
  }
  window.RunUntil(timeline.Until);
  EXPECT_EQ(window.Sends(), timeline.ExpectedSends);
  EXPECT_FALSE(window.IsPending(TIMER_RESEND)) << "the period should have ended";
  EXPECT_FALSE(window.IsPending(TIMER_WINDOW_END));
}

INSTANTIATE_TEST_SUITE_P(Scheduler, ResyncTimeline, testing::ValuesIn(kTimelines),
                         [](const testing::TestParamInfo<Timeline>& info) { return std::string(info.param.Name); });

TEST(ResyncPeriod, KeyWithinHoldOffMovesOnlyThePeriodEnd) {
  VirtualWindow window(0, 1);
  window.KeyboardInput(InputTrigger::Nudge);
  window.RunUntil(900);
  window.KeyboardInput(InputTrigger::Nudge);
  ASSERT_TRUE(window.IsPending(TIMER_WINDOW_END));
  EXPECT_EQ(window.Deadline(TIMER_WINDOW_END), 19900u);
  EXPECT_EQ(window.Deadline(TIMER_RESEND), 5200u);
}

// The period's end is seen in no send of the arrival's timeline (3 s + 3 x 5 s lies before 19 s too).
TEST(ResyncPeriod, KeyboardArrivalHoldsThePeriodOpenFor21s) {
  VirtualWindow window(0, 1);
  window.KeyboardArrival();
  EXPECT_EQ(window.Deadline(TIMER_WINDOW_END), 21000u);
}

TEST(ResyncPeriod, ClosingTheLidStopsPeriodAndLockPollAtOnce) {
  VirtualWindow window(0, 1);
  window.Start();
  window.RunUntil(7000);
  ASSERT_TRUE(window.IsPending(TIMER_LOCK_POLL));
  window.CloseLid();
  EXPECT_FALSE(window.AnyPending());
  window.MuteNotification(0);
  EXPECT_EQ(window.Mute(), 0u);
  window.RunUntil(60000);
  EXPECT_FALSE(window.AnyPending()) << "timers armed while the lid is closed die at their first expiry";
  EXPECT_EQ(window.Sends().size(), 2u);
}

// Each timer's expiry as a sequence of calls on the window.
class CallLog final : public ResyncHost {
 public:
  void SetTimer(unsigned id, std::uint32_t delayMs) override {
    calls.push_back("set " + std::to_string(id) + " " + std::to_string(delayMs));
  }
  void KillTimer(unsigned id) override { calls.push_back("kill " + std::to_string(id)); }
  void PostMuteState(std::uint32_t mute) override { calls.push_back("post mute " + std::to_string(mute)); }
  void PostEndpointReacquire() override { calls.push_back("post reacquire"); }
  std::vector<std::string> calls;
};

struct ExpiryCase {
  unsigned Id;
  bool LidClosed;
  std::uint32_t Mute;
  std::vector<std::string> Calls;
  TimerFollowUp FollowUp;
};

const ExpiryCase kExpiries[] = {
    {TIMER_RESEND, false, 1, {"kill 1", "post mute 1", "set 1 5000"}, TimerFollowUp::None},
    {TIMER_RESEND, false, 0, {"kill 1", "post mute 0", "set 1 5000"}, TimerFollowUp::None},
    {TIMER_WINDOW_END, false, 1, {"kill 2", "kill 1"}, TimerFollowUp::None},
    {TIMER_LOCK_POLL, false, 1, {}, TimerFollowUp::LockPoll},
    {TIMER_INSTALL, false, 1, {"kill 21"}, TimerFollowUp::Install},
    {TIMER_UNINSTALL, false, 1, {}, TimerFollowUp::Uninstall},
    {TIMER_REACQUIRE, false, 1, {"kill 30", "post reacquire"}, TimerFollowUp::None},
    {4, false, 1, {}, TimerFollowUp::None},
    {9, false, 1, {}, TimerFollowUp::None},
    // A closed lid kills the timers below 10 unfired; the others run as usual.
    {TIMER_RESEND, true, 1, {"kill 1"}, TimerFollowUp::None},
    {TIMER_WINDOW_END, true, 1, {"kill 2"}, TimerFollowUp::None},
    {TIMER_LOCK_POLL, true, 1, {"kill 3"}, TimerFollowUp::None},
    {9, true, 1, {"kill 9"}, TimerFollowUp::None},
    {10, true, 1, {}, TimerFollowUp::None},
    {TIMER_INSTALL, true, 1, {"kill 21"}, TimerFollowUp::Install},
    {TIMER_UNINSTALL, true, 1, {}, TimerFollowUp::Uninstall},
    {TIMER_REACQUIRE, true, 1, {"kill 30", "post reacquire"}, TimerFollowUp::None},
};

TEST(TimerExpiry, EachTimerActsAsItsTableSays) {
  for (const ExpiryCase& expiry : kExpiries) {
    SCOPED_TRACE("timer " + std::to_string(expiry.Id) + (expiry.LidClosed ? ", lid closed" : ", lid open"));
    CallLog log;
    EXPECT_EQ(DispatchTimer(expiry.Id, expiry.LidClosed, expiry.Mute, log), expiry.FollowUp);
    EXPECT_EQ(log.calls, expiry.Calls);
  }
}

// The failures after which only a new enumerator follows the endpoint again.
TEST(AudioObjects, OnlyADeadServiceOrEndpointCallsForAFreshStart) {
  for (std::uint32_t gone : {0x88890004u, 0x88890010u, 0x80010108u, 0x800706BAu, 0x800706BEu})
    EXPECT_TRUE(AudioObjectsGone(gone)) << std::hex << gone;
  // Success, E_FAIL, no endpoint (ERROR_NOT_FOUND), AUDCLNT_E_NOT_INITIALIZED, E_ACCESSDENIED.
  for (std::uint32_t other : {0x0u, 0x80004005u, 0x80070490u, 0x88890001u, 0x80070005u})
    EXPECT_FALSE(AudioObjectsGone(other)) << std::hex << other;
}

// --- The audio callbacks' hand-over to the window ---------------------------------

// Producers store and post as the audio callbacks do, all at once in rounds; one
// consumer takes as the window does once the message leaves its queue. After each
// round, when every post was taken, the consumer must hold the value that the
// hand-over holds (nothing left stranded), and never may two posts be on their way.
TEST(LatestValue, RoundsOfManyProducersEndWithTheNewestValueAndOnePostAtMost) {
  constexpr int kProducers = 4;
  constexpr int kRounds = 40000;
  constexpr int kStoresEach = 3;
  LatestValue handOver;
  std::atomic<int> round{-1};
  std::atomic<int> stored{0};
  std::atomic<int> onTheirWay{0};
  std::atomic<int> mostOnTheirWay{0};
  std::atomic<long> posted{0};
  std::atomic<long> taken{0};
  std::atomic<std::uint32_t> lastTaken{0};
  std::atomic<bool> done{false};
  std::vector<std::thread> threads;
  threads.emplace_back([&] {
    while (!done) {
      if (onTheirWay == 0) {
        std::this_thread::yield();
        continue;
      }
      --onTheirWay;
      lastTaken = TakeLatest(handOver);
      ++taken;
    }
  });
  for (int producer = 0; producer < kProducers; ++producer) {
    threads.emplace_back([&, producer] {
      for (int seen = 0; seen < kRounds; ++seen) {
        while (round < seen) std::this_thread::yield();
        for (int i = 0; i < kStoresEach; ++i) {
          if (StoreLatest(handOver, static_cast<std::uint32_t>((seen * kProducers + producer) * kStoresEach + i))) {
            ++posted;
            int now = ++onTheirWay;
            for (int most = mostOnTheirWay; now > most && !mostOnTheirWay.compare_exchange_weak(most, now);) {
            }
          }
        }
        ++stored;
      }
    });
  }
  bool stranded = false;
  for (int next = 0; next < kRounds && !stranded; ++next) {
    round = next;
    while (stored < (next + 1) * kProducers || taken != posted) std::this_thread::yield();
    stranded = lastTaken != handOver.Value;
    EXPECT_FALSE(stranded) << "round " << next << ": the consumer ended with " << lastTaken << ", not "
                           << handOver.Value;
  }
  round = kRounds;
  done = true;
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(mostOnTheirWay.load(), 1);
  EXPECT_LT(posted.load(), kRounds * kProducers * kStoresEach) << "nothing folded";
}

TEST(LatestValue, AFailedPostLetsTheNextChangePostAgain) {
  LatestValue handOver;
  ASSERT_TRUE(StoreLatest(handOver, 1));
  EXPECT_FALSE(StoreLatest(handOver, 0));
  EXPECT_EQ(TakeLatest(handOver), 0u);
  ASSERT_TRUE(StoreLatest(handOver, 1));
  PostFailed(handOver);
  EXPECT_TRUE(StoreLatest(handOver, 1));
}

}  // namespace
