#pragma once
#include <cstdint>
// Which default-device changes and which failed calls call for a re-bind. Platform-free.

// The values of EDataFlow and ERole (mmdeviceapi.h) that the rule tells apart.
constexpr int AUDIO_FLOW_RENDER = 0;
constexpr int AUDIO_ROLE_CONSOLE = 0;
constexpr int AUDIO_ROLE_COMMUNICATIONS = 2;

// A re-bind is due when the device bound (render, console) or a communications
// device (either flow, as a headset brings both) changed; render multimedia and
// the other capture roles leave the bind as it is.
bool DefaultDeviceChangeRebinds(int flow, int role);

// A failed call on the audio objects whose result says that they are dead: the
// endpoint was invalidated (AUDCLNT_E_DEVICE_INVALIDATED), the Windows Audio
// service is not running (AUDCLNT_E_SERVICE_NOT_RUNNING), or the service process
// behind the objects went away (the RPC and COM disconnection errors). Only a new
// enumerator with everything bound afresh follows the endpoint again.
bool AudioObjectsGone(std::uint32_t result);
