// The two notification objects as the audio service meets them: interface
// answers, reference counts, and what they post from a thread of their own.

#include <windows.h>

#include <endpointvolume.h>
#include <mmdeviceapi.h>

#include <algorithm>

#include "common/control_ids.h"
#include "audio/endpoint_watch.h"
#include "inprocess_support.h"
#include "program_driver.h"
#include "virtual_devices.h"

namespace {

template <typename Call>
void RunOnOtherThread(Call call) {
  struct Context {
    Call* call;
  } context{&call};
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](void* parameter) -> DWORD {
        (*static_cast<Context*>(parameter)->call)();
        return 0;
      },
      &context, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  CloseHandle(thread);
}

AUDIO_VOLUME_NOTIFICATION_DATA Notification(const GUID& context, BOOL muted) {
  AUDIO_VOLUME_NOTIFICATION_DATA data = {};
  data.guidEventContext = context;
  data.bMuted = muted;
  data.fMasterVolume = 0.25f;
  data.nChannels = 1;
  return data;
}

const GUID kForeignContext = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};

TEST(NotificationObjects, AnswerOnlyTheirOwnInterfacesAndCountReferences) {
  void* out = &out;
  EXPECT_EQ(VolumeCallback.QueryInterface(__uuidof(IAudioEndpointVolumeCallback), &out), S_OK);
  EXPECT_EQ(out, static_cast<IAudioEndpointVolumeCallback*>(&VolumeCallback));
  EXPECT_EQ(VolumeCallback.Release(), 1u);
  EXPECT_EQ(VolumeCallback.QueryInterface(__uuidof(IUnknown), &out), S_OK);
  EXPECT_EQ(out, static_cast<IUnknown*>(&VolumeCallback));
  EXPECT_EQ(VolumeCallback.Release(), 1u);
  out = &out;
  EXPECT_EQ(VolumeCallback.QueryInterface(__uuidof(IMMNotificationClient), &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);

  EXPECT_EQ(DeviceClient.QueryInterface(__uuidof(IMMNotificationClient), &out), S_OK);
  EXPECT_EQ(out, static_cast<IMMNotificationClient*>(&DeviceClient));
  EXPECT_EQ(DeviceClient.Release(), 1u);
  out = &out;
  EXPECT_EQ(DeviceClient.QueryInterface(__uuidof(IAudioEndpointVolumeCallback), &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);

  EXPECT_EQ(DeviceClient.AddRef(), 2u);
  EXPECT_EQ(DeviceClient.AddRef(), 3u);
  EXPECT_EQ(DeviceClient.Release(), 2u);
  EXPECT_EQ(DeviceClient.Release(), 1u);
  EXPECT_EQ(DeviceClient.OnDeviceAdded(L"x"), S_OK);
  EXPECT_EQ(DeviceClient.OnDeviceRemoved(L"x"), S_OK);
  EXPECT_EQ(DeviceClient.OnDeviceStateChanged(L"x", 1), S_OK);
}

using AudioCallbacks = ControlWindowTest;

TEST_F(AudioCallbacks, NotifyIgnoresMissingDataMissingWindowAndItsOwnContext) {
  EXPECT_EQ(VolumeCallback.OnNotify(nullptr), E_INVALIDARG);

  AUDIO_VOLUME_NOTIFICATION_DATA own = Notification(App.ContextGuid, TRUE);
  EXPECT_EQ(VolumeCallback.OnNotify(&own), S_OK);

  HWND window = App.Window;
  App.Window = nullptr;
  AUDIO_VOLUME_NOTIFICATION_DATA early = Notification(kForeignContext, TRUE);
  EXPECT_EQ(VolumeCallback.OnNotify(&early), S_OK);
  App.Window = window;

  EXPECT_TRUE(TakePosted().empty());
  EXPECT_EQ(App.Mute, 0u);
}

TEST_F(AudioCallbacks, ForeignNotificationPostsTheFlagThenTheMainThreadRearmsBothTimers) {
  ASSERT_FALSE(TimerPending(TIMER_RESEND));
  ASSERT_FALSE(TimerPending(TIMER_WINDOW_END));
  AUDIO_VOLUME_NOTIFICATION_DATA data = Notification(kForeignContext, TRUE);
  HRESULT result = E_FAIL;
  RunOnOtherThread([&] { result = VolumeCallback.OnNotify(&data); });
  EXPECT_EQ(result, S_OK);

  std::vector<PostedMessage> posted = TakePosted();
  std::vector<PostedMessage> expected = {{WM_MUTE_STATE, 1}, {WM_RESYNC_REARM, 0}};
  EXPECT_EQ(posted, expected);
  // The callback thread armed nothing itself.
  EXPECT_FALSE(TimerPending(TIMER_RESEND));

  Deliver(posted);
  EXPECT_EQ(App.Mute, 1u);
  EXPECT_EQ(NewReports(), ReportsOnEveryKeyboardInterface("00 a1 01 00 00 00 00 00 00"));
  EXPECT_TRUE(TimerPending(TIMER_RESEND));
  EXPECT_TRUE(TimerPending(TIMER_WINDOW_END));
}

// Changes that come while the window is busy fold into the messages on their way,
// which then send the newest flag.
TEST_F(AudioCallbacks, VolumeOnlyChangesPostTheUnchangedFlagAndFoldWhileOnTheirWay) {
  App.Mute = 1;
  AUDIO_VOLUME_NOTIFICATION_DATA data = Notification(kForeignContext, TRUE);
  AUDIO_VOLUME_NOTIFICATION_DATA unmuted = Notification(kForeignContext, FALSE);
  RunOnOtherThread([&] {
    VolumeCallback.OnNotify(&data);
    VolumeCallback.OnNotify(&data);
    VolumeCallback.OnNotify(&unmuted);
  });
  std::vector<PostedMessage> posted = TakePosted();
  std::vector<PostedMessage> expected = {{WM_MUTE_STATE, 1}, {WM_RESYNC_REARM, 0}};
  EXPECT_EQ(posted, expected);
  Deliver(posted);
  EXPECT_EQ(App.Mute, 0u);
  EXPECT_EQ(NewReports(), ReportsOnEveryKeyboardInterface("00 a1 00 00 00 00 00 00 00"));
}

BOOL WINAPI RefusePost(HWND, UINT, WPARAM, LPARAM) {
  SetLastError(ERROR_NOT_ENOUGH_QUOTA);  // the thread's queue is full
  return FALSE;
}

// A refused post leaves nothing on its way: the next change must post again.
TEST_F(AudioCallbacks, RefusedPostsLeaveNothingOnItsWaySoTheNextChangePosts) {
  void** slot = ImportSlot("user32.dll", "PostMessageW");
  ASSERT_NE(slot, nullptr);
  void* real = *slot;
  AUDIO_VOLUME_NOTIFICATION_DATA data = Notification(kForeignContext, TRUE);
  WriteSlot(slot, reinterpret_cast<void*>(&RefusePost));
  RunOnOtherThread([&] { VolumeCallback.OnNotify(&data); });
  WriteSlot(slot, real);
  EXPECT_TRUE(TakePosted().empty());
  RunOnOtherThread([&] { VolumeCallback.OnNotify(&data); });
  const std::vector<PostedMessage> expected = {{WM_MUTE_STATE, 1}, {WM_RESYNC_REARM, 0}};
  EXPECT_EQ(TakePosted(), expected);
}

TEST_F(AudioCallbacks, ConsoleRenderAndCommunicationsOfEitherFlowAskForARebind) {
  struct Case {
    EDataFlow flow;
    ERole role;
    bool rebind;
  } cases[] = {
      {eRender, eConsole, true},         {eRender, eMultimedia, false},  {eRender, eCommunications, true},
      {eCapture, eConsole, false},       {eCapture, eMultimedia, false}, {eCapture, eCommunications, true},
  };
  for (const Case& c : cases) {
    HRESULT result = E_FAIL;
    RunOnOtherThread([&] { result = DeviceClient.OnDefaultDeviceChanged(c.flow, c.role, L"{device}"); });
    EXPECT_EQ(result, S_OK);
    std::vector<PostedMessage> posted = TakePosted();
    std::vector<PostedMessage> expected;
    if (c.rebind) expected.push_back({WM_REACQUIRE_REARM, 0});
    EXPECT_EQ(posted, expected) << "flow " << c.flow << " role " << c.role;
    Deliver(posted);
    EXPECT_EQ(TimerPending(TIMER_REACQUIRE), c.rebind) << "flow " << c.flow << " role " << c.role;
  }
}

TEST_F(AudioCallbacks, DefaultDeviceChangeBeforeTheWindowExistsIsIgnored) {
  HWND window = App.Window;
  App.Window = nullptr;
  EXPECT_EQ(DeviceClient.OnDefaultDeviceChanged(eRender, eCommunications, L"{device}"), S_OK);
  App.Window = window;
  EXPECT_TRUE(TakePosted().empty());
}

// With the virtual endpoint: bind, the state read, a change made by another
// application arriving on the endpoint's own thread, re-bind and release.
TEST_F(AudioCallbacks, EndpointWatchBindsFollowsAChangeRebindsAndReleases) {
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  ASSERT_EQ(StartEndpointWatch(), nullptr);
  ASSERT_NE(App.EndpointVolume, nullptr);
  EXPECT_TRUE(ReadEndpointMute());

  ASSERT_TRUE(vdev::SetMute(dir_, true));
  std::vector<PostedMessage> posted;
  EXPECT_TRUE(corvane::WaitUntil(3000, [&] {
    for (const PostedMessage& message : TakePosted()) posted.push_back(message);
    return posted.size() >= 2 && posted[posted.size() - 2] == PostedMessage{WM_MUTE_STATE, 1} &&
           posted.back() == PostedMessage{WM_RESYNC_REARM, 0};
  })) << ::testing::PrintToString(posted);
  Deliver(posted);

  const DWORD self = GetCurrentProcessId();
  size_t eventsBefore = corvane::AudioEventsOf(dir_, self).size();
  EXPECT_TRUE(RebindEndpoint());
  EXPECT_NE(App.EndpointVolume, nullptr);
  EXPECT_EQ(App.Mute, 1u);
  std::vector<std::string> rebind;
  std::vector<vdev::LogEntry> events = corvane::AudioEventsOf(dir_, self);
  for (size_t i = eventsBefore; i < events.size(); ++i)
    rebind.push_back(events[i].event + (events[i].event == "last-release" ? " " + events[i].fields.at(0) : ""));
  // The old endpoint volume and device are let go of before the new ones are taken.
  std::vector<std::string> expected = {"unregister-control-change-notify", "last-release endpoint-volume",
                                       "last-release device", "get-default-endpoint", "activate",
                                       "register-control-change-notify", "get-mute"};
  EXPECT_EQ(rebind, expected);

  // After the audio service restarted the old enumerator only fails: a re-bind takes a new one.
  auto registrations = [&] {
    std::vector<vdev::LogEntry> log = corvane::AudioEventsOf(dir_, self);
    return std::count_if(log.begin(), log.end(),
                         [](const vdev::LogEntry& entry) { return entry.event == "register-endpoint-notification"; });
  };
  const auto registeredBefore = registrations();
  ASSERT_TRUE(vdev::SendAudioCommand(dir_, "service-restart"));
  ASSERT_GE(corvane::WaitForAudioEvent(dir_, self, "service-restart", {}, 5000), 0);
  EXPECT_TRUE(RebindEndpoint());
  EXPECT_NE(App.EndpointVolume, nullptr);
  EXPECT_EQ(registrations(), registeredBefore + 1);
  // A passing failure of the read leaves the bind and the stored state alone.
  for (const char* fails : {"1", "0"}) {
    ASSERT_TRUE(vdev::SendAudioCommand(dir_, std::string("getmute-fails ") + fails));
    ASSERT_GE(corvane::WaitForAudioEvent(dir_, self, "getmute-fails", {fails}, 5000), 0);
    if (*fails == '1') {
      EXPECT_FALSE(RefreshEndpointMute());
    }
  }
  EXPECT_EQ(registrations(), registeredBefore + 1);

  StopEndpointWatch();
  EXPECT_EQ(App.Enumerator, nullptr);
  EXPECT_EQ(App.Device, nullptr);
  EXPECT_EQ(App.EndpointVolume, nullptr);
  // The double raises the volume change only after the mute change's callbacks returned.
  ASSERT_TRUE(vdev::SendAudioCommand(dir_, "mute 0\nvolume 0.300"));
  EXPECT_TRUE(corvane::WaitUntil(5000, [&] {
    for (const vdev::LogEntry& entry : corvane::AudioEventsOf(dir_, self))
      if (entry.event == "notify" && entry.fields.at(1) == "0.300") return true;
    return false;
  }));
  EXPECT_TRUE(TakePosted().empty());
  CoUninitialize();
}

}  // namespace
