#pragma once
// Signs of keyboard activity and the lid switch.
#include <windows.h>

void RegisterDeviceArrival();
bool RegisterRawInput();
void RegisterLidSwitch();
void ReleaseActivityRegistrations();

void StartLockPoll();
void OnLockPoll();

void OnRawInput(LPARAM inputHandle);
LRESULT OnDeviceChange(WPARAM event, LPARAM broadcast);
LRESULT OnPowerBroadcast(WPARAM event, LPARAM setting);
