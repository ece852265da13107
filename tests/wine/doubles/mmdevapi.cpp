// mmdevapi.dll double: one default render endpoint whose mute state and volume
// other applications change through audio-commands.txt. Registered as the
// in-process server of CLSID_MMDeviceEnumerator in the test prefix.

#include <windows.h>
#include <endpointvolume.h>
#include <mmdeviceapi.h>
#include <objbase.h>
// Defines the property key here instead of taking it from a library.
#include <initguid.h>
#include <functiondiscoverykeys_devpkey.h>

#include <stdlib.h>
#include <string.h>

#include "double_support.h"
#include "virtual_devices.h"

namespace {

constexpr HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);  // 0x80070490
// What the objects of a stopped audio service answer (AUDCLNT_E_SERVICE_NOT_RUNNING).
constexpr HRESULT kServiceNotRunning = static_cast<HRESULT>(0x88890010);
constexpr wchar_t kEndpointId[] = L"{0.0.0.00000000}.{c0a7a5e0-0000-4000-8000-000000000001}";
// The event context of every change that another application makes.
constexpr GUID kForeignContext = {0x7e57c0de, 0x5a1e, 0x4c3e, {0x9a, 0x11, 0x0f, 0x0e, 0x1e, 0xc7, 0x0a, 0x01}};

struct Setup {
  bool endpointAbsent;
  bool failClassObject;
  bool failDefaultEndpoint;
  bool failActivate;
  bool failRegister;
  bool getMuteFails;
  DWORD releaseDelayMs;
};

Setup g_setup;
CRITICAL_SECTION g_lock;  // guards everything below
BOOL g_muted;
float g_volume = 0.5f;
// The audio service's life: each restart ends the objects made before it.
LONG g_serviceGeneration;

struct VolumeRegistration {
  void* owner;
  IAudioEndpointVolumeCallback* callback;
};
struct ClientRegistration {
  void* owner;
  IMMNotificationClient* client;
};
constexpr int kMaxRegistrations = 16;
VolumeRegistration g_volumeCallbacks[kMaxRegistrations];
ClientRegistration g_clients[kMaxRegistrations];

INIT_ONCE g_started = INIT_ONCE_STATIC_INIT;
LONGLONG g_commandOffset;  // bytes of audio-commands.txt already applied; poll thread only

void ReadSetup() {
  g_setup = Setup{};
  wchar_t path[MAX_PATH];
  if (!DoublesPath(vdev::kAudioFile, path, MAX_PATH)) return;
  DWORD size;
  char* text = ReadWholeFile(path, &size);
  if (!text) return;
  char* cursor = text;
  while (char* line = NextConfigLine(&cursor)) {
    char* value = strchr(line, '=');
    if (!value) continue;
    *value++ = 0;
    if (strcmp(line, "muted") == 0) {
      g_muted = atoi(value) != 0;
    } else if (strcmp(line, "volume") == 0) {
      g_volume = static_cast<float>(atof(value));
    } else if (strcmp(line, "endpoint") == 0) {
      g_setup.endpointAbsent = strcmp(value, "absent") == 0;
    } else if (strcmp(line, "fail") == 0) {
      if (strcmp(value, "class-object") == 0) g_setup.failClassObject = true;
      if (strcmp(value, "default-endpoint") == 0) g_setup.failDefaultEndpoint = true;
      if (strcmp(value, "activate") == 0) g_setup.failActivate = true;
      if (strcmp(value, "register-control-change-notify") == 0) g_setup.failRegister = true;
    } else if (strcmp(line, "getmute-fails") == 0) {
      g_setup.getMuteFails = atoi(value) != 0;
    } else if (strcmp(line, "release-delay-ms") == 0) {
      g_setup.releaseDelayMs = strtoul(value, nullptr, 10);
    }
  }
  HeapFree(GetProcessHeap(), 0, text);
}

void RaiseVolumeNotification(const GUID& context) {
  // AUDIO_VOLUME_NOTIFICATION_DATA ends in a one-element array; room for two channels.
  union {
    AUDIO_VOLUME_NOTIFICATION_DATA data;
    unsigned char bytes[sizeof(AUDIO_VOLUME_NOTIFICATION_DATA) + sizeof(float)];
  } notification;
  EnterCriticalSection(&g_lock);
  notification.data.guidEventContext = context;
  notification.data.bMuted = g_muted;
  notification.data.fMasterVolume = g_volume;
  notification.data.nChannels = 2;
  notification.data.afChannelVolumes[0] = g_volume;
  notification.data.afChannelVolumes[1] = g_volume;
  AppendLog(vdev::kAudioLog, "notify %d %.3f", g_muted ? 1 : 0, g_volume);
  // Held while calling out, so that UnregisterControlChangeNotify returns only
  // when no call to the callback it removes is under way, as on Windows.
  for (VolumeRegistration& registration : g_volumeCallbacks) {
    if (registration.callback) registration.callback->OnNotify(&notification.data);
  }
  LeaveCriticalSection(&g_lock);
}

void RaiseDefaultDeviceChanged(EDataFlow flow, ERole role) {
  EnterCriticalSection(&g_lock);
  AppendLog(vdev::kAudioLog, "default-changed %d %d", flow, role);
  for (ClientRegistration& registration : g_clients) {
    if (registration.client) registration.client->OnDefaultDeviceChanged(flow, role, kEndpointId);
  }
  LeaveCriticalSection(&g_lock);
}

// The service stops and starts again: its clients' registrations are gone with it,
// and the objects made before answer only kServiceNotRunning.
void RestartService() {
  IAudioEndpointVolumeCallback* dropped[kMaxRegistrations] = {};
  EnterCriticalSection(&g_lock);
  ++g_serviceGeneration;
  for (int i = 0; i < kMaxRegistrations; ++i) {
    dropped[i] = g_volumeCallbacks[i].callback;
    g_volumeCallbacks[i] = {};
    g_clients[i] = {};
  }
  AppendLog(vdev::kAudioLog, "service-restart");
  LeaveCriticalSection(&g_lock);
  for (IAudioEndpointVolumeCallback* callback : dropped) {
    if (callback) callback->Release();
  }
}

// Applies one command line; raises the notification only when asked to.
void ApplyCommand(char* line, bool notify) {
  char* verb = NextWord(&line);
  if (verb && strcmp(verb, "service-restart") == 0) {
    // A process that loads the double afterwards meets the service as it is now.
    if (notify) RestartService();
    return;
  }
  char* first = NextWord(&line);
  if (!verb || !first) return;
  if (strcmp(verb, "mute") == 0) {
    EnterCriticalSection(&g_lock);
    g_muted = atoi(first) != 0;
    LeaveCriticalSection(&g_lock);
    if (notify) RaiseVolumeNotification(kForeignContext);
  } else if (strcmp(verb, "volume") == 0) {
    EnterCriticalSection(&g_lock);
    g_volume = static_cast<float>(atof(first));
    LeaveCriticalSection(&g_lock);
    if (notify) RaiseVolumeNotification(kForeignContext);
  } else if (strcmp(verb, "default-changed") == 0) {
    char* second = NextWord(&line);
    if (notify && second) RaiseDefaultDeviceChanged(static_cast<EDataFlow>(atoi(first)), static_cast<ERole>(atoi(second)));
  } else if (strcmp(verb, "getmute-fails") == 0) {
    g_setup.getMuteFails = atoi(first) != 0;
    if (notify) AppendLog(vdev::kAudioLog, "getmute-fails %d", g_setup.getMuteFails ? 1 : 0);
  }
}

// Applies the complete lines added to audio-commands.txt since the last call.
void ApplyNewCommands(bool notify) {
  wchar_t path[MAX_PATH];
  if (!DoublesPath(vdev::kAudioCommandsFile, path, MAX_PATH)) return;
  DWORD size;
  char* text = ReadWholeFile(path, &size);
  if (!text) return;
  if (size > g_commandOffset) {
    char* start = text + g_commandOffset;
    char* lastNewline = strrchr(start, '\n');
    if (lastNewline) {
      lastNewline[1] = 0;
      g_commandOffset = (lastNewline + 1) - text;
      char* cursor = start;
      while (char* line = NextConfigLine(&cursor)) ApplyCommand(line, notify);
    }
  }
  HeapFree(GetProcessHeap(), 0, text);
}

DWORD WINAPI CommandPoll(void*) {
  // The audio service calls its clients from a thread of the multithreaded apartment.
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  for (;;) {
    Sleep(vdev::kCommandPollMs);
    ApplyNewCommands(true);
  }
}

BOOL CALLBACK Start(INIT_ONCE*, void*, void**) {
  InitializeCriticalSection(&g_lock);
  ReadSetup();
  ApplyNewCommands(false);
  AppendLog(vdev::kAudioLog, "load");
  // Without a test folder there is nothing to poll, and a process that measures
  // its idle cost should not pay for the polling.
  wchar_t commands[MAX_PATH];
  if (!DoublesPath(vdev::kAudioCommandsFile, commands, MAX_PATH)) return TRUE;
  HANDLE thread = CreateThread(nullptr, 0, CommandPoll, nullptr, 0, nullptr);
  if (thread) CloseHandle(thread);
  return TRUE;
}

void LogHr(const char* event, HRESULT hr) { AppendLog(vdev::kAudioLog, "%s %08lx", event, static_cast<unsigned long>(hr)); }

// IUnknown of the double's objects. The last Release lets the object finish its
// work, logs it under the object's name and deletes it.
template <typename Derived, typename Interface>
class Counted : public Interface {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, __uuidof(Interface))) {
      AddRef();
      *out = static_cast<Interface*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
  // Made before the service's last restart: every call fails, and is logged so.
  bool Stale(const char* event) const {
    if (generation_ == InterlockedCompareExchange(&g_serviceGeneration, 0, 0)) return false;
    LogHr(event, kServiceNotRunning);
    return true;
  }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG left = InterlockedDecrement(&refs_);
    if (left == 0) {
      Derived* self = static_cast<Derived*>(this);
      self->OnLastRelease();
      AppendLog(vdev::kAudioLog, "last-release %s", Derived::kLogName);
      delete self;
    }
    return left;
  }

 private:
  LONG refs_ = 1;
  LONG generation_ = InterlockedCompareExchange(&g_serviceGeneration, 0, 0);
};

class EndpointVolume final : public Counted<EndpointVolume, IAudioEndpointVolume> {
 public:
  static constexpr const char* kLogName = "endpoint-volume";
  void OnLastRelease() {}

  HRESULT STDMETHODCALLTYPE RegisterControlChangeNotify(IAudioEndpointVolumeCallback* callback) override {
    if (Stale("register-control-change-notify")) return kServiceNotRunning;
    HRESULT hr = E_OUTOFMEMORY;
    if (!callback) {
      hr = E_POINTER;
    } else if (g_setup.failRegister) {
      hr = E_FAIL;
    } else {
      EnterCriticalSection(&g_lock);
      for (VolumeRegistration& registration : g_volumeCallbacks) {
        if (!registration.callback) {
          callback->AddRef();
          registration = {this, callback};
          hr = S_OK;
          break;
        }
      }
      LeaveCriticalSection(&g_lock);
    }
    LogHr("register-control-change-notify", hr);
    return hr;
  }
  HRESULT STDMETHODCALLTYPE UnregisterControlChangeNotify(IAudioEndpointVolumeCallback* callback) override {
    if (Stale("unregister-control-change-notify")) return kServiceNotRunning;
    HRESULT hr = E_INVALIDARG;
    IAudioEndpointVolumeCallback* removed = nullptr;
    EnterCriticalSection(&g_lock);
    for (VolumeRegistration& registration : g_volumeCallbacks) {
      if (callback && registration.owner == this && registration.callback == callback) {
        removed = registration.callback;
        registration = {};
        hr = S_OK;
        break;
      }
    }
    LeaveCriticalSection(&g_lock);
    if (removed) removed->Release();
    LogHr("unregister-control-change-notify", hr);
    return hr;
  }
  HRESULT STDMETHODCALLTYPE GetChannelCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 2;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetMasterVolumeLevel(float, LPCGUID) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetMasterVolumeLevelScalar(float level, LPCGUID context) override {
    if (level < 0.0f || level > 1.0f) return E_INVALIDARG;
    if (Stale("set-volume")) return kServiceNotRunning;
    EnterCriticalSection(&g_lock);
    g_volume = level;
    LeaveCriticalSection(&g_lock);
    RaiseVolumeNotification(context ? *context : GUID_NULL);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetMasterVolumeLevel(float*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMasterVolumeLevelScalar(float* level) override {
    if (!level) return E_POINTER;
    EnterCriticalSection(&g_lock);
    *level = g_volume;
    LeaveCriticalSection(&g_lock);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetChannelVolumeLevel(UINT, float, LPCGUID) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetChannelVolumeLevelScalar(UINT, float, LPCGUID) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetChannelVolumeLevel(UINT, float*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetChannelVolumeLevelScalar(UINT, float*) override { return E_NOTIMPL; }
  // A change made inside the process under test carries that process's context.
  HRESULT STDMETHODCALLTYPE SetMute(BOOL muted, LPCGUID context) override {
    if (Stale("set-mute")) return kServiceNotRunning;
    EnterCriticalSection(&g_lock);
    g_muted = muted ? TRUE : FALSE;
    LeaveCriticalSection(&g_lock);
    RaiseVolumeNotification(context ? *context : GUID_NULL);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetMute(BOOL* muted) override {
    if (!muted) return E_POINTER;
    if (Stale("get-mute")) return kServiceNotRunning;
    if (g_setup.getMuteFails) {
      LogHr("get-mute", E_FAIL);
      return E_FAIL;
    }
    EnterCriticalSection(&g_lock);
    *muted = g_muted;
    LeaveCriticalSection(&g_lock);
    AppendLog(vdev::kAudioLog, "get-mute 00000000 %d", *muted ? 1 : 0);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetVolumeStepInfo(UINT*, UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE VolumeStepUp(LPCGUID) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE VolumeStepDown(LPCGUID) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryHardwareSupport(DWORD* mask) override {
    if (!mask) return E_POINTER;
    *mask = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetVolumeRange(float*, float*, float*) override { return E_NOTIMPL; }
};

// The endpoint's properties: its friendly name only, read-only as STGM_READ opens it.
class PropertyStore final : public Counted<PropertyStore, IPropertyStore> {
 public:
  static constexpr const char* kLogName = "property-store";
  void OnLastRelease() {}
  HRESULT STDMETHODCALLTYPE GetCount(DWORD* count) override {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetAt(DWORD index, PROPERTYKEY* key) override {
    if (!key) return E_POINTER;
    if (index != 0) return E_INVALIDARG;
    *key = PKEY_Device_FriendlyName;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override {
    if (!value) return E_POINTER;
    PropVariantInit(value);
    if (!IsEqualPropertyKey(key, PKEY_Device_FriendlyName)) return S_OK;  // VT_EMPTY, as for any absent key
    value->pwszVal = static_cast<LPWSTR>(CoTaskMemAlloc(sizeof vdev::kEndpointName));
    if (!value->pwszVal) return E_OUTOFMEMORY;
    memcpy(value->pwszVal, vdev::kEndpointName, sizeof vdev::kEndpointName);
    value->vt = VT_LPWSTR;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY, REFPROPVARIANT) override { return STG_E_ACCESSDENIED; }
  HRESULT STDMETHODCALLTYPE Commit() override { return STG_E_ACCESSDENIED; }
};

class Device final : public Counted<Device, IMMDevice> {
 public:
  static constexpr const char* kLogName = "device";
  void OnLastRelease() {}
  HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD, PROPVARIANT*, void** out) override {
    HRESULT hr;
    if (!out) {
      hr = E_POINTER;
    } else if (Stale("activate")) {
      *out = nullptr;
      return kServiceNotRunning;
    } else if (g_setup.failActivate) {
      *out = nullptr;
      hr = E_FAIL;
    } else if (IsEqualIID(iid, __uuidof(IAudioEndpointVolume))) {
      EndpointVolume* volume = new EndpointVolume;
      *out = static_cast<IAudioEndpointVolume*>(volume);
      hr = S_OK;
    } else {
      *out = nullptr;
      hr = E_NOINTERFACE;
    }
    LogHr("activate", hr);
    return hr;
  }
  HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD, IPropertyStore** store) override {
    if (!store) return E_POINTER;
    *store = new PropertyStore;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetId(LPWSTR* id) override {
    if (!id) return E_POINTER;
    *id = static_cast<LPWSTR>(CoTaskMemAlloc(sizeof kEndpointId));
    if (!*id) return E_OUTOFMEMORY;
    memcpy(*id, kEndpointId, sizeof kEndpointId);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetState(DWORD* state) override {
    if (!state) return E_POINTER;
    *state = DEVICE_STATE_ACTIVE;
    return S_OK;
  }
};

class Enumerator final : public Counted<Enumerator, IMMDeviceEnumerator> {
 public:
  static constexpr const char* kLogName = "enumerator";
  void OnLastRelease() {
    EnterCriticalSection(&g_lock);
    for (ClientRegistration& registration : g_clients) {
      if (registration.owner == this) registration = {};
    }
    LeaveCriticalSection(&g_lock);
    if (g_setup.releaseDelayMs) Sleep(g_setup.releaseDelayMs);
  }
  HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow, DWORD, IMMDeviceCollection**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow flow, ERole role, IMMDevice** device) override {
    HRESULT hr;
    if (!device) {
      hr = E_POINTER;
    } else if (Stale("get-default-endpoint")) {
      *device = nullptr;
      return kServiceNotRunning;
    } else if (g_setup.failDefaultEndpoint) {
      *device = nullptr;
      hr = E_FAIL;
    } else if (g_setup.endpointAbsent || flow != eRender) {
      *device = nullptr;
      hr = kNotFound;
    } else {
      *device = new Device;
      hr = S_OK;
    }
    AppendLog(vdev::kAudioLog, "get-default-endpoint %d %d %08lx", flow, role, static_cast<unsigned long>(hr));
    return hr;
  }
  HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR id, IMMDevice** device) override {
    if (!id || !device) return E_POINTER;
    if (g_setup.endpointAbsent || wcscmp(id, kEndpointId) != 0) {
      *device = nullptr;
      return kNotFound;
    }
    *device = new Device;
    return S_OK;
  }
  // Like Wine's and unlike what a caller may assume, no reference to the client is taken.
  HRESULT STDMETHODCALLTYPE RegisterEndpointNotificationCallback(IMMNotificationClient* client) override {
    if (!client) return E_POINTER;
    if (Stale("register-endpoint-notification")) return kServiceNotRunning;
    HRESULT hr = E_OUTOFMEMORY;
    EnterCriticalSection(&g_lock);
    for (ClientRegistration& registration : g_clients) {
      if (!registration.client) {
        registration = {this, client};
        hr = S_OK;
        break;
      }
    }
    LeaveCriticalSection(&g_lock);
    AppendLog(vdev::kAudioLog, "register-endpoint-notification");
    return hr;
  }
  HRESULT STDMETHODCALLTYPE UnregisterEndpointNotificationCallback(IMMNotificationClient* client) override {
    if (!client) return E_POINTER;
    if (Stale("unregister-endpoint-notification")) return kServiceNotRunning;
    HRESULT hr = E_INVALIDARG;
    EnterCriticalSection(&g_lock);
    for (ClientRegistration& registration : g_clients) {
      if (registration.owner == this && registration.client == client) {
        registration = {};
        hr = S_OK;
        break;
      }
    }
    LeaveCriticalSection(&g_lock);
    return hr;
  }
};

class ClassFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
      *out = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // A static object: counting would serve nothing.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    Enumerator* enumerator = new Enumerator;
    HRESULT hr = enumerator->QueryInterface(iid, out);
    enumerator->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

ClassFactory g_factory;

}  // namespace

extern "C" {

HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  InitOnceExecuteOnce(&g_started, Start, nullptr, nullptr);
  HRESULT hr = CLASS_E_CLASSNOTAVAILABLE;
  if (IsEqualCLSID(clsid, vdev::kClsidMMDeviceEnumerator) && !g_setup.failClassObject) {
    hr = g_factory.QueryInterface(iid, out);
  }
  LogHr("class-object", hr);
  return hr;
}

// The command poll thread runs in this module until the process ends.
HRESULT WINAPI DllCanUnloadNow() { return S_FALSE; }

}  // extern "C"
