// Hidden notification windows: a handle whose messages go to one method.
#pragma once

#include "winapi/win32.h"

#include <functional>

struct TMessage {
  UINT Msg;
  WPARAM WParam;
  LPARAM LParam;
  LRESULT Result;
};

using TWndMethod = std::function<void(TMessage&)>;

// The method always runs on the main thread, also for a window allocated on
// another one (on Windows the main thread makes it: a window's messages go to
// the thread that made it, so AllocateHWnd then waits for the main thread).
// An exception leaving the method goes to the error report (it never reaches
// the sender) and the message's result is 0.
HWND AllocateHWnd(TWndMethod method);
// After this, messages to the window (also ones already on their way) do
// nothing and return 0. A handle is never handed out twice, so a stale one
// can never reach a newer window. Never waits: on Windows a window released
// on another thread is destroyed by the main thread's next AllocateHWnd or
// DeallocateHWnd.
void DeallocateHWnd(HWND wnd);

// On Windows these two stand in for <windows.h>'s macros of the same names:
// every window call here is the wide one, and a message sent from another
// thread takes the same road as on POSIX.
#ifdef _WIN32
#undef SendMessage
#undef DefWindowProc
#endif

// Delivers a message to a hidden window's method and returns its Result (0
// for any other handle). From another thread the call travels the main
// thread's hand-over queue and blocks until the method has returned.
LRESULT SendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
// What a window does with a message its method leaves alone.
LRESULT DefWindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
