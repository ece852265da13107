#pragma once
// Which default-device changes call for a re-bind. Platform-free.

// The values of EDataFlow and ERole (mmdeviceapi.h) that the rule tells apart.
constexpr int AUDIO_FLOW_RENDER = 0;
constexpr int AUDIO_ROLE_CONSOLE = 0;
constexpr int AUDIO_ROLE_COMMUNICATIONS = 2;

// A re-bind is due when the device bound (render, console) or a communications
// device (either flow, as a headset brings both) changed; render multimedia and
// the other capture roles leave the bind as it is.
bool DefaultDeviceChangeRebinds(int flow, int role);
