#pragma once
// Binding to the default render endpoint and the two notification objects.
#include <windows.h>
#include <mmdeviceapi.h>
#include <endpointvolume.h>

// Called by the audio service on its own threads: posts WM_MUTE_STATE and asks the
// main thread to re-arm the resync timers. Never touches the keyboard or audio objects.
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

// Null on success, otherwise the text for the start-up failure message.
const wchar_t* StartEndpointWatch();
bool ReadEndpointMute();
bool RebindEndpoint();
void StopEndpointWatch();
