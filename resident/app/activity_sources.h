#pragma once
// Signs of keyboard activity, the lid switch, resume and the display, the
// session's place at the physical console, and the self-check's question.
#include <windows.h>

void RegisterDeviceArrival();
bool RegisterRawInput();
// The lid switch and the console display, both power-setting notifications.
void RegisterLidSwitch();
void RegisterSessionChanges();
// WM_SESSION_SERVICES_READY: the registration that came too early, tried again.
LRESULT OnSessionServicesReady();
void ReleaseActivityRegistrations();

// Whether this process's session is attached to the physical console: only then
// does anything go to the keyboard, which the whole machine shares.
bool SessionHasTheConsole();
// Whether this process runs in session 0, where nothing stays resident and no box shows.
bool RunsInServicesSession();

void StartLockPoll();
void OnLockPoll();

void OnRawInput(LPARAM inputHandle);
LRESULT OnDeviceChange(WPARAM event, LPARAM broadcast);
LRESULT OnPowerBroadcast(WPARAM event, LPARAM setting);
LRESULT OnSessionChange(WPARAM event);
// WM_CHECK_QUERY from the self-check: what this resident holds, a packed ResidentAnswer.
LRESULT OnCheckQuery();
