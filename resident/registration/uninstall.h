#pragma once

void RunUninstall();
// 0 done, 1 Run key not opened, 2 uninstall key not opened.
int RemoveInstallRecord();
bool LaunchSelfDelete();
