#pragma once
// Resync scheduling: which window timers a trigger arms and what an expiry does.
// Platform-free: the control window implements ResyncHost with real timers, the
// tests with a virtual clock.
#include <cstdint>

class ResyncHost {
 public:
  // Arming a pending timer replaces it, restarting its delay (SetTimer semantics).
  virtual void SetTimer(unsigned id, std::uint32_t delayMs) = 0;
  virtual void KillTimer(unsigned id) = 0;
  virtual void PostMuteState(std::uint32_t mute) = 0;  // WM_MUTE_STATE
  virtual void PostEndpointReacquire() = 0;            // WM_ENDPOINT_REACQUIRE

 protected:
  ~ResyncHost() = default;
};

// What the window still has to do after DispatchTimer handled the timer table.
enum class TimerFollowUp { None, LockPoll, Install, Uninstall };

// WM_TIMER: timers below 10 die while the lid is closed; the resend timer posts
// the stored state and re-arms itself; the window end kills both; the re-acquire
// timer posts WM_ENDPOINT_REACQUIRE once. TIMER_INSTALL is killed here; the
// uninstall handler kills its own timer.
TimerFollowUp DispatchTimer(unsigned id, bool lidClosed, std::uint32_t mute, ResyncHost& host);

// Ordinary activity: a new send 200 ms later unless the last stamp is at most
// 1000 ms old (unsigned tick difference); the period is extended in every case.
// True when a send was armed, so that the caller reads the endpoint for it.
bool NudgeResync(std::uint32_t& lastActivityTick, std::uint32_t now, ResyncHost& host);

// The keyboard's request for the state, and the system's changes after which the
// keyboard may show an old state (resume, display on, the session at the console
// or unlocked): bypasses the hold-off.
void ForceResync(std::uint32_t& lastActivityTick, std::uint32_t now, ResyncHost& host);

// Each trigger's period, its first send delay and length named once here for
// the window and the tests' virtual clock alike.
// A foreign audio notification (WM_RESYNC_REARM), sent at once by the caller: next send after 5 s.
void StartNotificationResync(ResyncHost& host);
// The keyboard plugged in: first send after 3 s, the period lasts 21 s.
void StartKeyboardArrivalResync(ResyncHost& host);
// A successful re-bind: first send after 200 ms.
void StartRebindResync(ResyncHost& host);
// A default-device change that re-binds: the re-bind runs 200 ms after the last such change.
void ArmReacquire(ResyncHost& host);
// The lock-key poll, every 200 ms.
void ArmLockPoll(ResyncHost& host);

// The first period after window creation, once the mute state was read: first send after 100 ms.
void StartInitialResync(ResyncHost& host);

// The lid closed: the period and the lock-key poll stop at once.
void StopResyncForClosedLid(ResyncHost& host);

// WM_MUTE_STATE: stores the flag and tells whether it must be sent now: not while
// the lid is closed, nor while another session has the physical console. The
// caller stamps the activity time after sending.
bool AcceptMuteState(std::uint32_t& mute, bool lidClosed, bool drivesKeyboard, std::uintptr_t flag);
