#include "app/resync_timers.h"

#include "audio/endpoint_watch.h"
#include "common/app_state.h"
#include "common/control_ids.h"

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

LRESULT OnEndpointReacquire() {
  if (!RebindEndpoint()) return 0;
  App.LastActivityTick = GetTickCount();
  StartResyncWindow(200, 19000, Host);
  return 0;
}
