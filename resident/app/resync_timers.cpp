#include "app/resync_timers.h"

#include "app/activity_sources.h"
#include "app/app_state.h"
#include "app/control_ids.h"
#include "audio/endpoint_watch.h"
#include "registration/install_record.h"
#include "registration/uninstall.h"

namespace {

// Window timers of the control window; used on the main thread only.
class WindowResyncHost final : public ResyncHost {
 public:
  void SetTimer(unsigned id, std::uint32_t delayMs) override { ::SetTimer(App.Window, id, delayMs, nullptr); }
  void KillTimer(unsigned id) override { ::KillTimer(App.Window, id); }
  void PostMuteState(std::uint32_t mute) override { PostMessageW(App.Window, WM_MUTE_STATE, mute, 0); }
  void PostEndpointReacquire() override { PostMessageW(App.Window, WM_ENDPOINT_REACQUIRE, 0, 0); }
};

WindowResyncHost Host;

}  // namespace

ResyncHost& WindowTimers() { return Host; }

LRESULT OnTimer(WPARAM id) {
  switch (DispatchTimer(static_cast<unsigned>(id), App.LidClosed != 0, App.Mute, Host)) {
    case TimerFollowUp::LockPoll: OnLockPoll(); break;
    case TimerFollowUp::Install: WriteInstallRecord(); break;
    case TimerFollowUp::Uninstall: RunUninstall(); break;
    case TimerFollowUp::None: break;
  }
  return 0;
}

void StartInitialSync() {
  // Without a readable state there is nothing to keep in step: no timer at all.
  if (!ReadEndpointMute()) return;
  App.LastActivityTick = GetTickCount();
  StartLockPoll();
  StartInitialResync(Host);
}

LRESULT OnEndpointReacquire() {
  if (!RebindEndpoint()) return 0;
  App.LastActivityTick = GetTickCount();
  StartRebindResync(Host);
  return 0;
}
