#pragma once
// Which processes an install or uninstall waits for once it has told every
// resident to end. Platform-free: the Win32 side lists the processes.
#include <cstdint>

// A process whose image is named Corvane.exe (compared ignoring ASCII case),
// other than the caller and the one that started it (an unelevated launcher that
// waits for the caller, and would never end first).
bool IsAnotherCorvane(const wchar_t* imageName, std::uint32_t pid, std::uint32_t self, std::uint32_t parent);
