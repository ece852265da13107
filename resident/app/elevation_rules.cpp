#include "elevation_rules.h"

ElevationStep DecideElevationStep(RunMode mode, ElevationState elevation, bool relaunched) {
  if (mode == RunMode::Normal || elevation != ElevationState::NotElevated) return ElevationStep::GoOn;
  return relaunched ? ElevationStep::Refuse : ElevationStep::Relaunch;
}

const wchar_t* RelaunchParameters(RunMode mode) {
  switch (mode) {
    case RunMode::Install: return L"/install";
    case RunMode::Uninstall: return L"/uninstall";
    default: return nullptr;
  }
}
