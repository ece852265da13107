#pragma once
// Binding to the default render endpoint and the two notification objects.
#include <windows.h>
#include <mmdeviceapi.h>
#include <endpointvolume.h>

#include "audio/latest_value.h"

// Called by the audio service on its own threads: hands the mute flag to the main
// thread (WM_MUTE_STATE) and asks it to re-arm the resync timers. Never touches the
// keyboard or audio objects.
class CAudioEndpointVolumeCallBack final : public IAudioEndpointVolumeCallback {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE OnNotify(PAUDIO_VOLUME_NOTIFICATION_DATA data) override;

  LONG References = 1;  // the program's own reference, held until the process ends
};

// Called by the audio service on its own threads: a change of the default console
// render device or of a communications device asks the main thread for a re-bind.
class CMMNotificationClient final : public IMMNotificationClient {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR deviceId, DWORD newState) override;
  HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR deviceId) override;
  HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR deviceId) override;
  HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow flow, ERole role, LPCWSTR defaultDeviceId) override;
  HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR deviceId, const PROPERTYKEY key) override;

  LONG References = 1;
};

extern CAudioEndpointVolumeCallBack VolumeCallback;
extern CMMNotificationClient DeviceClient;

// What the callbacks hand to the main thread, each with at most one message on its
// way: the newest mute flag (WM_MUTE_STATE, lParam MUTE_STATE_LATEST) and the
// requests to re-arm the resync timers (WM_RESYNC_REARM) and the re-bind timer
// (WM_REACQUIRE_REARM). The window takes from them when the message arrives.
extern LatestValue NotifiedMute;
extern LatestValue ResyncRearm;
extern LatestValue ReacquireRearm;

// Null on success, otherwise the text for the start-up failure message.
const wchar_t* StartEndpointWatch();
bool ReadEndpointMute();
// Binds the default endpoint afresh and reads its state; when the failure says the
// audio objects are gone, or no enumerator is held, with a new enumerator too.
bool RebindEndpoint();
// A trigger's read of the state it is about to send. When nothing is bound it binds
// (RebindEndpoint); when the objects are gone (the audio service restarted, the
// endpoint died) it takes everything afresh. False when the state could not be
// read: the stored one stands and the next trigger tries again.
bool RefreshEndpointMute();
// Whether an endpoint is bound with the volume callback registered: only then are
// other applications' changes heard.
bool EndpointWatched();
void StopEndpointWatch();
