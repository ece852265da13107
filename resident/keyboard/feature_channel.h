#pragma once
#include <windows.h>

// Sends the command to every present HID interface of the keyboard.
void SendKeyboardFeature(BYTE command, BYTE value);
