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
void NudgeResync(std::uint32_t& lastActivityTick, std::uint32_t now, ResyncHost& host);

// The keyboard's request for the state: bypasses the hold-off.
void ForceResync(std::uint32_t& lastActivityTick, std::uint32_t now, ResyncHost& host);

// Keyboard arrival (3000, 21000), re-bind (200, 19000), audio notification (5000, 19000).
void StartResyncWindow(std::uint32_t resendDelay, std::uint32_t windowLength, ResyncHost& host);

// The first period after window creation, once the mute state was read: first send after 100 ms.
void StartInitialResync(ResyncHost& host);

// The lid closed: the period and the lock-key poll stop at once.
void StopResyncForClosedLid(ResyncHost& host);

// WM_MUTE_STATE: stores the flag and tells whether it must be sent now (not while
// the lid is closed). The caller stamps the activity time after sending.
bool AcceptMuteState(std::uint32_t& mute, bool lidClosed, std::uintptr_t flag);
