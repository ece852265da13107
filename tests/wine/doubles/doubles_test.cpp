// The doubles hold to the Windows contracts that Corvane relies on, so that a
// failing whole-program test points at the program, not at its surroundings.
// This program runs with hid.dll and setupapi.dll taken from beside it.

#include <windows.h>
#include <endpointvolume.h>
#include <mmdeviceapi.h>
#include <setupapi.h>
extern "C" {
#include <hidsdi.h>  // declares its functions without C linkage
}

#include <gtest/gtest.h>

#include "program_driver.h"
#include "virtual_devices.h"

namespace {

using corvane::WaitUntil;

std::wstring SetUpFolder(const wchar_t* name) {
  std::wstring dir = corvane::RunFolder(name);
  EXPECT_TRUE(vdev::PrepareFolder(dir));
  EXPECT_TRUE(SetEnvironmentVariableW(vdev::kDirVariable, dir.c_str()));
  return dir;
}

std::vector<std::wstring> EnumerateHidPaths() {
  GUID hidClass;
  HidD_GetHidGuid(&hidClass);
  std::vector<std::wstring> paths;
  HDEVINFO set = SetupDiGetClassDevsW(&hidClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  EXPECT_NE(set, INVALID_HANDLE_VALUE);
  SP_DEVICE_INTERFACE_DATA data = {};
  data.cbSize = sizeof data;
  for (DWORD index = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &hidClass, index, &data); ++index) {
    DWORD size = 0;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &size, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    std::vector<BYTE> buffer(size);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
    // Windows refuses the buffer size as cbSize; only the record's own size goes.
    detail->cbSize = size;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    EXPECT_TRUE(SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size, nullptr, nullptr));
    paths.push_back(detail->DevicePath);
  }
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
  return paths;
}

TEST(HidDoubles, EnumeratesTheConfiguredInterfacesInOrderAndAnswersForEachHandle) {
  std::wstring dir = SetUpFolder(L"HidDoubles.Enumerate");
  std::vector<vdev::HidInterface> interfaces = corvane::KeyboardAndForeignDevices();
  ASSERT_TRUE(vdev::WriteHidInterfaces(dir, interfaces));

  std::vector<std::wstring> paths = EnumerateHidPaths();
  ASSERT_EQ(paths.size(), interfaces.size());
  for (size_t i = 0; i < paths.size(); ++i) {
    EXPECT_EQ(paths[i], vdev::InterfacePath(dir, interfaces[i].name));
    HANDLE device = CreateFileW(paths[i].c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    ASSERT_NE(device, INVALID_HANDLE_VALUE) << GetLastError();
    HIDD_ATTRIBUTES attributes = {};
    attributes.Size = sizeof attributes;
    EXPECT_TRUE(HidD_GetAttributes(device, &attributes));
    EXPECT_EQ(attributes.VendorID, interfaces[i].vendorId);
    EXPECT_EQ(attributes.ProductID, interfaces[i].productId);
    CloseHandle(device);
  }
}

TEST(HidDoubles, SetFeatureBehavesLikeARealKeyboardAndIsLogged) {
  std::wstring dir = SetUpFolder(L"HidDoubles.SetFeature");
  ASSERT_TRUE(vdev::WriteHidInterfaces(dir, {{L"keyboard", 0x1209, 0x0001, true}, {L"consumer", 0x1209, 0x0001}}));
  unsigned char report[10] = {0x00, 0xA1, 0x01};

  struct Case {
    const wchar_t* name;
    DWORD access;
    ULONG length;
    bool accepted;
    const char* logged;
  } cases[] = {
      {L"keyboard", 0, 9, true, "ok"},
      {L"keyboard", 0, 8, false, "refused-length"},
      {L"keyboard", 0, 10, false, "refused-length"},
      {L"keyboard", GENERIC_WRITE, 9, false, "refused-access"},
      {L"consumer", GENERIC_READ | GENERIC_WRITE, 9, true, "ok"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "access " << c.access << ", length " << c.length);
    size_t before = vdev::ReadReports(dir).size();
    HANDLE device = CreateFileW(vdev::InterfacePath(dir, c.name).c_str(), c.access,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(device, INVALID_HANDLE_VALUE) << GetLastError();
    EXPECT_EQ(HidD_SetFeature(device, report, c.length) != FALSE, c.accepted);
    CloseHandle(device);
    std::vector<vdev::Report> reports = vdev::ReadReports(dir);
    ASSERT_EQ(reports.size(), before + 1);
    EXPECT_EQ(reports.back().result, c.logged);
    EXPECT_EQ(reports.back().pid, GetCurrentProcessId());
    EXPECT_EQ(reports.back().bytes, std::vector<unsigned char>(report, report + c.length));
  }
}

// Records what the endpoint tells its clients, and on which thread.
class Recorder final : public IAudioEndpointVolumeCallback, public IMMNotificationClient {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override { return InterlockedDecrement(&refs_); }
  HRESULT STDMETHODCALLTYPE OnNotify(AUDIO_VOLUME_NOTIFICATION_DATA* data) override {
    context_ = data->guidEventContext;
    thread_ = GetCurrentThreadId();
    muted_ = data->bMuted;
    InterlockedIncrement(&notifications_);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR, DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow flow, ERole role, LPCWSTR) override {
    flow_ = flow;
    role_ = role;
    InterlockedIncrement(&defaultChanges_);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override { return S_OK; }

  LONG refs_ = 1;
  volatile LONG notifications_ = 0;
  volatile LONG defaultChanges_ = 0;
  GUID context_ = {};
  DWORD thread_ = 0;
  BOOL muted_ = FALSE;
  EDataFlow flow_ = eRender;
  ERole role_ = eConsole;
};

// The prefix serves the enumerator from the double. Its setup is read once per
// process, so this is the one audio test of this program.
TEST(AudioDouble, ChangesOfOtherApplicationsReachTheRegisteredClientsOnTheDoublesThread) {
  std::wstring dir = SetUpFolder(L"AudioDouble.Changes");
  vdev::AudioSetup setup;
  setup.muted = true;
  ASSERT_TRUE(vdev::WriteAudioSetup(dir, setup));
  ASSERT_TRUE(vdev::SetMute(dir, false));  // already made before the program starts: state only
  ASSERT_TRUE(vdev::ChangeDefaultDevice(dir, eRender, eCommunications));

  ASSERT_GE(CoInitialize(nullptr), 0);
  IMMDeviceEnumerator* enumerator = nullptr;
  ASSERT_EQ(CoCreateInstance(vdev::kClsidMMDeviceEnumerator, nullptr, CLSCTX_INPROC_SERVER,
                             __uuidof(IMMDeviceEnumerator), reinterpret_cast<void**>(&enumerator)),
            S_OK);
  IMMDevice* device = nullptr;
  EXPECT_EQ(enumerator->GetDefaultAudioEndpoint(eCapture, eConsole, &device), HRESULT_FROM_WIN32(ERROR_NOT_FOUND));
  ASSERT_EQ(enumerator->GetDefaultAudioEndpoint(eRender, eConsole, &device), S_OK);
  IAudioEndpointVolume* volume = nullptr;
  ASSERT_EQ(device->Activate(__uuidof(IAudioEndpointVolume), CLSCTX_ALL, nullptr, reinterpret_cast<void**>(&volume)),
            S_OK);
  Recorder recorder;
  ASSERT_EQ(volume->RegisterControlChangeNotify(&recorder), S_OK);
  ASSERT_EQ(enumerator->RegisterEndpointNotificationCallback(&recorder), S_OK);
  BOOL muted = TRUE;
  ASSERT_EQ(volume->GetMute(&muted), S_OK);
  EXPECT_FALSE(muted);

  ASSERT_TRUE(vdev::SetMute(dir, true));
  ASSERT_TRUE(WaitUntil(2000, [&] { return recorder.notifications_ == 1; }));
  EXPECT_TRUE(recorder.muted_);
  EXPECT_NE(recorder.thread_, GetCurrentThreadId());
  EXPECT_FALSE(IsEqualGUID(recorder.context_, GUID_NULL));
  ASSERT_EQ(volume->GetMute(&muted), S_OK);
  EXPECT_TRUE(muted);

  ASSERT_TRUE(vdev::SetVolume(dir, 0.25f));
  ASSERT_TRUE(WaitUntil(2000, [&] { return recorder.notifications_ == 2; }));
  EXPECT_TRUE(recorder.muted_);

  ASSERT_TRUE(vdev::ChangeDefaultDevice(dir, eCapture, eMultimedia));
  ASSERT_TRUE(WaitUntil(2000, [&] { return recorder.defaultChanges_ == 1; }));
  EXPECT_EQ(recorder.flow_, eCapture);
  EXPECT_EQ(recorder.role_, eMultimedia);

  EXPECT_EQ(volume->UnregisterControlChangeNotify(&recorder), S_OK);
  EXPECT_EQ(recorder.refs_, 1);
  ASSERT_TRUE(vdev::SetMute(dir, false));
  // Commands apply in order: once the next one has arrived, the unmute was raised.
  ASSERT_TRUE(vdev::ChangeDefaultDevice(dir, eCapture, eMultimedia));
  ASSERT_TRUE(WaitUntil(2000, [&] { return recorder.defaultChanges_ == 2; }));
  EXPECT_EQ(recorder.notifications_, 2);

  EXPECT_EQ(volume->Release(), 0u);
  EXPECT_EQ(device->Release(), 0u);
  EXPECT_EQ(enumerator->Release(), 0u);
  std::vector<std::string> released;
  for (const vdev::LogEntry& entry : corvane::AudioEventsOf(dir, GetCurrentProcessId())) {
    if (entry.event == "last-release") released.push_back(entry.fields.at(0));
  }
  EXPECT_EQ(released, (std::vector<std::string>{"endpoint-volume", "device", "enumerator"}));
  CoUninitialize();
}

}  // namespace
