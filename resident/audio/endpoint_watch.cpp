#include "audio/endpoint_watch.h"

#include "audio/default_device_rules.h"
#include "common/app_state.h"
#include "common/control_ids.h"

CAudioEndpointVolumeCallBack VolumeCallback;
CMMNotificationClient DeviceClient;
LatestValue NotifiedMute;
LatestValue ResyncRearm;
LatestValue ReacquireRearm;

namespace {

// While the main thread is busy (a slow or stalled keyboard), changes fold into the
// message already on its way instead of queueing one each; a refused post (the
// thread's queue is full) leaves none on its way, so the next change posts again.
void HandOver(HWND window, LatestValue& handOver, UINT message, std::uint32_t value, LPARAM lParam) {
  if (StoreLatest(handOver, value) && !PostMessageW(window, message, value, lParam)) PostFailed(handOver);
}

// Both objects are static and keep their own first reference until the process
// ends, so a count never reaches zero and nothing is ever freed.
ULONG CountedAddRef(LONG& references) { return static_cast<ULONG>(InterlockedIncrement(&references)); }
ULONG CountedRelease(LONG& references) { return static_cast<ULONG>(InterlockedDecrement(&references)); }

template <typename Interface>
HRESULT AnswerQuery(Interface* object, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (IsEqualIID(iid, __uuidof(IUnknown)) || IsEqualIID(iid, __uuidof(Interface))) {
    object->AddRef();
    *out = object;
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

template <typename Interface>
void ReleaseAndClear(Interface*& object) {
  if (!object) return;
  object->Release();
  object = nullptr;
}

void UnbindEndpoint() {
  if (App.EndpointVolume) App.EndpointVolume->UnregisterControlChangeNotify(&VolumeCallback);
  ReleaseAndClear(App.EndpointVolume);
  ReleaseAndClear(App.Device);
}

// Steps shared by the start-up bind and the re-bind; on failure *failure names the step.
HRESULT BindDefaultEndpoint(const wchar_t** failure) {
  HRESULT result = App.Enumerator->GetDefaultAudioEndpoint(eRender, eConsole, &App.Device);
  if (FAILED(result)) {
    *failure = L"GetDefaultAudioEndpoint fail!";
    return result;
  }
  result = App.Device->Activate(__uuidof(IAudioEndpointVolume), CLSCTX_ALL, nullptr,
                                reinterpret_cast<void**>(&App.EndpointVolume));
  if (FAILED(result)) {
    *failure = L"Activate fail!";
    return result;
  }
  result = App.EndpointVolume->RegisterControlChangeNotify(&VolumeCallback);
  if (FAILED(result)) {
    *failure = L"RegisterControlChangeNotify fail!";
    // A volume control that notifies nothing is no bind: the next trigger binds again.
    ReleaseAndClear(App.EndpointVolume);
    ReleaseAndClear(App.Device);
  }
  return result;
}

// Everything obtained from the audio service is let go of and taken afresh: after
// the service restarted, the old objects only fail and notify nothing.
bool RestartEndpointWatch() {
  UnbindEndpoint();
  if (App.Enumerator) {
    // Fails when the service is gone; while it still runs, the old enumerator must
    // not go on calling the client beside the new one.
    App.Enumerator->UnregisterEndpointNotificationCallback(&DeviceClient);
    ReleaseAndClear(App.Enumerator);
  }
  if (StartEndpointWatch()) return false;
  ReadEndpointMute();
  return true;
}

}  // namespace

HRESULT CAudioEndpointVolumeCallBack::QueryInterface(REFIID iid, void** out) {
  return AnswerQuery<IAudioEndpointVolumeCallback>(this, iid, out);
}
ULONG CAudioEndpointVolumeCallBack::AddRef() { return CountedAddRef(References); }
ULONG CAudioEndpointVolumeCallBack::Release() { return CountedRelease(References); }

// Audio service thread.
HRESULT CAudioEndpointVolumeCallBack::OnNotify(PAUDIO_VOLUME_NOTIFICATION_DATA data) {
  if (!data) return E_INVALIDARG;
  HWND window = CallbackWindow();
  if (!window) return S_OK;
  // Changes made with this program's own event context are not news.
  if (IsEqualGUID(data->guidEventContext, App.ContextGuid)) return S_OK;
  // Volume-only changes count too: each hands over the current flag. Posted first,
  // then the main thread re-arms the period, so the send comes before the new timers.
  HandOver(window, NotifiedMute, WM_MUTE_STATE, data->bMuted ? 1 : 0, MUTE_STATE_LATEST);
  HandOver(window, ResyncRearm, WM_RESYNC_REARM, 0, 0);
  return S_OK;
}

HRESULT CMMNotificationClient::QueryInterface(REFIID iid, void** out) {
  return AnswerQuery<IMMNotificationClient>(this, iid, out);
}
ULONG CMMNotificationClient::AddRef() { return CountedAddRef(References); }
ULONG CMMNotificationClient::Release() { return CountedRelease(References); }
HRESULT CMMNotificationClient::OnDeviceStateChanged(LPCWSTR, DWORD) { return S_OK; }
HRESULT CMMNotificationClient::OnDeviceAdded(LPCWSTR) { return S_OK; }
HRESULT CMMNotificationClient::OnDeviceRemoved(LPCWSTR) { return S_OK; }
HRESULT CMMNotificationClient::OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) { return S_OK; }

static_assert(eRender == AUDIO_FLOW_RENDER && eConsole == AUDIO_ROLE_CONSOLE &&
                  eCommunications == AUDIO_ROLE_COMMUNICATIONS,
              "the re-bind rule uses the values of mmdeviceapi.h");

// Audio service thread. A new console render default, or a new communications
// device of either flow, may leave the bound endpoint stale; the main thread binds
// afresh 200 ms after the last such change.
HRESULT CMMNotificationClient::OnDefaultDeviceChanged(EDataFlow flow, ERole role, LPCWSTR) {
  HWND window = CallbackWindow();
  if (window && DefaultDeviceChangeRebinds(flow, role)) HandOver(window, ReacquireRearm, WM_REACQUIRE_REARM, 0, 0);
  return S_OK;
}

const wchar_t* StartEndpointWatch() {
  if (FAILED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_INPROC_SERVER,
                              __uuidof(IMMDeviceEnumerator),
                              reinterpret_cast<void**>(&App.Enumerator))))
    return L"CoCreateInstance fail!";
  // Stays registered as long as this enumerator lives, also while unbound.
  App.Enumerator->RegisterEndpointNotificationCallback(&DeviceClient);
  const wchar_t* failure = nullptr;
  BindDefaultEndpoint(&failure);
  return failure;
}

bool ReadEndpointMute() {
  BOOL muted = FALSE;
  if (!App.EndpointVolume || FAILED(App.EndpointVolume->GetMute(&muted))) {
    App.Mute = 0;
    return false;
  }
  App.Mute = muted ? 1 : 0;
  return true;
}

bool RebindEndpoint() {
  // Without an enumerator (a restart that failed at its first step) only a new one helps.
  if (!App.Enumerator) return RestartEndpointWatch();
  UnbindEndpoint();
  const wchar_t* failure = nullptr;
  const HRESULT result = BindDefaultEndpoint(&failure);
  if (FAILED(result)) return AudioObjectsGone(static_cast<std::uint32_t>(result)) && RestartEndpointWatch();
  ReadEndpointMute();  // an unreadable state counts as not muted; the bind stands
  return true;
}

bool EndpointWatched() { return App.EndpointVolume != nullptr; }

bool RefreshEndpointMute() {
  if (!App.EndpointVolume) return RebindEndpoint();
  BOOL muted = FALSE;
  const HRESULT result = App.EndpointVolume->GetMute(&muted);
  if (SUCCEEDED(result)) {
    App.Mute = muted ? 1 : 0;
    return true;
  }
  // Another failure leaves the stored state, which the notifications kept.
  return AudioObjectsGone(static_cast<std::uint32_t>(result)) && RestartEndpointWatch();
}

void StopEndpointWatch() {
  // Unregister before releasing what the callback was registered with.
  if (App.Enumerator) {
    if (App.EndpointVolume) App.EndpointVolume->UnregisterControlChangeNotify(&VolumeCallback);
    ReleaseAndClear(App.Enumerator);
  }
  ReleaseAndClear(App.Device);
  ReleaseAndClear(App.EndpointVolume);
}
