#include "audio/default_device_rules.h"

bool DefaultDeviceChangeRebinds(int flow, int role) {
  return role == AUDIO_ROLE_COMMUNICATIONS || (flow == AUDIO_FLOW_RENDER && role == AUDIO_ROLE_CONSOLE);
}

bool AudioObjectsGone(std::uint32_t result) {
  switch (result) {
    case 0x88890004:  // AUDCLNT_E_DEVICE_INVALIDATED
    case 0x88890010:  // AUDCLNT_E_SERVICE_NOT_RUNNING
    case 0x80010007:  // RPC_E_SERVER_DIED
    case 0x80010012:  // RPC_E_SERVER_DIED_DNE
    case 0x80010108:  // RPC_E_DISCONNECTED
    case 0x800401FD:  // CO_E_OBJNOTCONNECTED
    case 0x800706BA:  // RPC_S_SERVER_UNAVAILABLE
    case 0x800706BE:  // RPC_S_CALL_FAILED
    case 0x800706BF:  // RPC_S_CALL_FAILED_DNE
      return true;
    default:
      return false;
  }
}
