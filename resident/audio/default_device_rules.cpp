#include "audio/default_device_rules.h"

bool DefaultDeviceChangeRebinds(int flow, int role) {
  return role == AUDIO_ROLE_COMMUNICATIONS || (flow == AUDIO_FLOW_RENDER && role == AUDIO_ROLE_CONSOLE);
}
