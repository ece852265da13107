#pragma once
// The 9-byte feature report that carries every command to the keyboard.

constexpr unsigned char FEATURE_CMD_MUTE = 0xA1;  // value 1 muted, 0 not muted
constexpr unsigned char FEATURE_CMD_LID = 0xA2;   // value 1 lid closed, 0 lid open
constexpr unsigned FEATURE_REPORT_LENGTH = 9;

// Report identifier 0, command, value, six zero bytes.
void BuildFeatureReport(unsigned char command, unsigned char value,
                        unsigned char (&report)[FEATURE_REPORT_LENGTH]);
