#pragma once

void RunUninstall();
// 0 removed (a missing value or key counts as removed), 1 the Run value was not
// removed (the uninstall entry is then left alone), 2 the uninstall entry was not
// removed.
int RemoveInstallRecord();
bool LaunchSelfDelete();
