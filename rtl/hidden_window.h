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

// The method always runs on the main thread. An exception leaving it goes to
// the error report (it never reaches the sender) and the message's result is 0.
HWND AllocateHWnd(TWndMethod method);
// After this, messages to the window (also ones already on their way) do
// nothing and return 0. Handles are never reused.
void DeallocateHWnd(HWND wnd);

#ifndef _WIN32
// Delivers a message to a hidden window's method and returns its Result.
// From another thread the call travels the main thread's hand-over queue and
// blocks until the method has returned.
LRESULT SendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT DefWindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
#endif
