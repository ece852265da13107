#pragma once
#include <windows.h>

#include "keyboard/feature_report.h"

// Sends the command to every present HID interface of the keyboard and returns how
// many took it. With RECORD (the self-check), also notes what each interface answered.
unsigned SendKeyboardFeature(BYTE command, BYTE value, FeatureSendRecord* record = nullptr);
