#pragma once
// Numbers shared by the control window, the scheduler and the audio callbacks.
// Platform-free so that the native tests use the same values.

// Private messages of the control window (WM_USER is 0x400).
constexpr unsigned WM_MUTE_STATE = 0x401;          // wParam: mute flag 0 or 1, lParam 0 or MUTE_STATE_LATEST
constexpr unsigned WM_ENDPOINT_REACQUIRE = 0x403;  // no parameters
// The audio callbacks run on the audio service's threads and may not arm the
// window's timers themselves; they post these and the main thread re-arms.
constexpr unsigned WM_RESYNC_REARM = 0x404;     // re-arm the notification's period (TIMER_RESEND, TIMER_WINDOW_END)
constexpr unsigned WM_REACQUIRE_REARM = 0x405;  // re-arm TIMER_REACQUIRE (200)
// Sent by the self-check, from another process; answered with a packed ResidentAnswer.
constexpr unsigned WM_CHECK_QUERY = 0x406;
// Posted from the thread pool once the session services are up; no parameters.
constexpr unsigned WM_SESSION_SERVICES_READY = 0x407;
// lParam of the audio callbacks' WM_MUTE_STATE: the message stands for every change
// since the last one, and the window sends the newest flag handed over, not wParam.
constexpr long MUTE_STATE_LATEST = 1;

// Window timers. Identifiers below TIMER_LID_SUPPRESSED_BELOW die unfired while the lid is closed.
constexpr unsigned TIMER_RESEND = 1;
constexpr unsigned TIMER_WINDOW_END = 2;
constexpr unsigned TIMER_LOCK_POLL = 3;
constexpr unsigned TIMER_INSTALL = 21;
constexpr unsigned TIMER_UNINSTALL = 22;
constexpr unsigned TIMER_REACQUIRE = 30;
constexpr unsigned TIMER_LID_SUPPRESSED_BELOW = 10;
