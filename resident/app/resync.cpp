#include "resync.h"

#include "common/control_ids.h"

namespace {

constexpr std::uint32_t INITIAL_SEND_DELAY = 100;
constexpr std::uint32_t TRIGGERED_SEND_DELAY = 200;
constexpr std::uint32_t RESEND_INTERVAL = 5000;
constexpr std::uint32_t WINDOW_LENGTH = 19000;
constexpr std::uint32_t HOLD_OFF = 1000;
constexpr std::uint32_t ARRIVAL_SEND_DELAY = 3000;
constexpr std::uint32_t ARRIVAL_WINDOW_LENGTH = 21000;
constexpr std::uint32_t REACQUIRE_DELAY = 200;
constexpr std::uint32_t LOCK_POLL_INTERVAL = 200;

void StartResyncWindow(std::uint32_t resendDelay, std::uint32_t windowLength, ResyncHost& host) {
  host.SetTimer(TIMER_RESEND, resendDelay);
  host.SetTimer(TIMER_WINDOW_END, windowLength);
}

}  // namespace

TimerFollowUp DispatchTimer(unsigned id, bool lidClosed, std::uint32_t mute, ResyncHost& host) {
  if (lidClosed && id < TIMER_LID_SUPPRESSED_BELOW) {
    host.KillTimer(id);
    return TimerFollowUp::None;
  }
  switch (id) {
    case TIMER_RESEND:
      host.KillTimer(TIMER_RESEND);
      host.PostMuteState(mute);
      host.SetTimer(TIMER_RESEND, RESEND_INTERVAL);
      return TimerFollowUp::None;
    case TIMER_WINDOW_END:
      host.KillTimer(TIMER_WINDOW_END);
      host.KillTimer(TIMER_RESEND);
      return TimerFollowUp::None;
    case TIMER_LOCK_POLL:
      return TimerFollowUp::LockPoll;
    case TIMER_INSTALL:
      host.KillTimer(TIMER_INSTALL);
      return TimerFollowUp::Install;
    case TIMER_UNINSTALL:
      return TimerFollowUp::Uninstall;
    case TIMER_REACQUIRE:
      host.KillTimer(TIMER_REACQUIRE);
      host.PostEndpointReacquire();
      return TimerFollowUp::None;
    default:
      return TimerFollowUp::None;
  }
}

bool NudgeResync(std::uint32_t& lastActivityTick, std::uint32_t now, ResyncHost& host) {
  // Unsigned subtraction keeps the age right across the 49.7-day tick wrap.
  const bool send = static_cast<std::uint32_t>(now - lastActivityTick) > HOLD_OFF;
  if (send) {
    lastActivityTick = now;
    host.SetTimer(TIMER_RESEND, TRIGGERED_SEND_DELAY);
  }
  host.SetTimer(TIMER_WINDOW_END, WINDOW_LENGTH);
  return send;
}

void ForceResync(std::uint32_t& lastActivityTick, std::uint32_t now, ResyncHost& host) {
  host.SetTimer(TIMER_RESEND, TRIGGERED_SEND_DELAY);
  lastActivityTick = now;
  NudgeResync(lastActivityTick, now, host);
}

void StartInitialResync(ResyncHost& host) { StartResyncWindow(INITIAL_SEND_DELAY, WINDOW_LENGTH, host); }

void StartNotificationResync(ResyncHost& host) { StartResyncWindow(RESEND_INTERVAL, WINDOW_LENGTH, host); }

void StartKeyboardArrivalResync(ResyncHost& host) {
  StartResyncWindow(ARRIVAL_SEND_DELAY, ARRIVAL_WINDOW_LENGTH, host);
}

void StartRebindResync(ResyncHost& host) { StartResyncWindow(TRIGGERED_SEND_DELAY, WINDOW_LENGTH, host); }

void ArmReacquire(ResyncHost& host) { host.SetTimer(TIMER_REACQUIRE, REACQUIRE_DELAY); }

void ArmLockPoll(ResyncHost& host) { host.SetTimer(TIMER_LOCK_POLL, LOCK_POLL_INTERVAL); }

void StopResyncForClosedLid(ResyncHost& host) {
  host.KillTimer(TIMER_RESEND);
  host.KillTimer(TIMER_WINDOW_END);
  host.KillTimer(TIMER_LOCK_POLL);
}

bool AcceptMuteState(std::uint32_t& mute, bool lidClosed, bool drivesKeyboard, std::uintptr_t flag) {
  mute = static_cast<std::uint32_t>(flag);
  return !lidClosed && drivesKeyboard;
}
