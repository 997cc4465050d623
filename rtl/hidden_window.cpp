#include "rtl/hidden_window.h"

#include "rtl/error_report.h"
#include "rtl/thread.h"

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>

#ifdef _WIN32
#include <unordered_set>
#include <vector>
#endif

namespace {

struct HiddenWindow {
  TWndMethod method;
};

std::mutex g_windowsMutex;
std::unordered_map<HWND, std::shared_ptr<HiddenWindow>> g_windows;

// A copy of the reference: it keeps the method alive while it runs, even if
// the method deallocates its own window.
std::shared_ptr<HiddenWindow> FindHiddenWindow(HWND wnd) {
  std::lock_guard<std::mutex> lock(g_windowsMutex);
  auto it = g_windows.find(wnd);
  return it == g_windows.end() ? nullptr : it->second;
}

void AddHiddenWindow(HWND wnd, TWndMethod method) {
  auto window = std::make_shared<HiddenWindow>();
  window->method = std::move(method);
  std::lock_guard<std::mutex> lock(g_windowsMutex);
  g_windows.emplace(wnd, std::move(window));
}

// False when the window was not (or no longer) allocated.
bool RemoveHiddenWindow(HWND wnd) {
  std::shared_ptr<HiddenWindow> window;  // the method's captures go outside the lock
  std::lock_guard<std::mutex> lock(g_windowsMutex);
  auto it = g_windows.find(wnd);
  if (it == g_windows.end()) return false;
  window = std::move(it->second);
  g_windows.erase(it);
  return true;
}

// Runs a window's method as a window procedure must: nothing escapes it.
LRESULT CallWndMethod(const TWndMethod& method, UINT msg, WPARAM wParam, LPARAM lParam) {
  TMessage message{msg, wParam, lParam, 0};
  try {
    if (method) method(message);
  } catch (...) {
    ReportCurrentException();
    return 0;
  }
  return message.Result;
}

}  // namespace

#ifdef _WIN32

namespace {

const wchar_t kClassName[] = L"VazurHiddenWindow";

// Guarded by g_windowsMutex. Windows gives a destroyed window's handle to a
// later window sooner or later; every handle handed out is remembered so
// that none is handed out twice.
std::unordered_set<HWND> g_handedOut;
// Released on other threads; a window can only be destroyed by its own thread.
std::vector<HWND> g_released;

LRESULT CALLBACK HiddenWindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  const std::shared_ptr<HiddenWindow> window = FindHiddenWindow(wnd);
  if (!window) return DefWindowProcW(wnd, msg, wParam, lParam);
  return CallWndMethod(window->method, msg, wParam, lParam);
}

void RegisterHiddenWindowClass() {
  static std::once_flag once;
  std::call_once(once, [] {
    WNDCLASSW wc{};
    wc.lpfnWndProc = HiddenWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kClassName;
    RegisterClassW(&wc);
  });
}

// On the main thread.
void DestroyReleasedWindows() {
  std::vector<HWND> released;
  {
    std::lock_guard<std::mutex> lock(g_windowsMutex);
    released.swap(g_released);
  }
  for (HWND wnd : released) DestroyWindow(wnd);
}

// On the main thread: a message-only window with a handle never handed out before.
HWND CreateHiddenWindow() {
  RegisterHiddenWindowClass();
  std::vector<HWND> reused;  // kept until a fresh one came, so they are not offered again meanwhile
  HWND wnd = nullptr;
  DWORD error = ERROR_SUCCESS;
  for (;;) {
    wnd = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr),
                          nullptr);
    if (wnd == nullptr) {
      error = GetLastError();
      break;
    }
    std::lock_guard<std::mutex> lock(g_windowsMutex);
    if (g_handedOut.insert(wnd).second) break;
    reused.push_back(wnd);
  }
  for (HWND old : reused) DestroyWindow(old);
  if (wnd == nullptr) throw Exception("Cannot create a hidden window (Windows error " + std::to_string(error) + ")");
  return wnd;
}

// On the main thread.
LRESULT Deliver(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!FindHiddenWindow(wnd)) return 0;  // deallocated meanwhile, or never one of ours
  return SendMessageW(wnd, msg, wParam, lParam);
}

}  // namespace

HWND AllocateHWnd(TWndMethod method) {
  HWND wnd = nullptr;
  SynchronizeCall([&] {
    DestroyReleasedWindows();
    wnd = CreateHiddenWindow();
  });
  AddHiddenWindow(wnd, std::move(method));
  return wnd;
}

void DeallocateHWnd(HWND wnd) {
  if (!RemoveHiddenWindow(wnd)) return;
  if (IsMainThread()) {
    DestroyReleasedWindows();
    DestroyWindow(wnd);
  } else {
    std::lock_guard<std::mutex> lock(g_windowsMutex);
    g_released.push_back(wnd);
  }
}

LRESULT DefWindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(wnd, msg, wParam, lParam);
}

#else

namespace {

// Handles are numbers counted up from 1, so none is handed out twice.
uintptr_t g_lastHandle = 0;  // guarded by g_windowsMutex

// On the main thread. The window is looked up only now, so one deallocated
// while the message was queued is not called.
LRESULT Deliver(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  const std::shared_ptr<HiddenWindow> window = FindHiddenWindow(wnd);
  if (!window) return 0;
  return CallWndMethod(window->method, msg, wParam, lParam);
}

}  // namespace

HWND AllocateHWnd(TWndMethod method) {
  HWND wnd;
  {
    std::lock_guard<std::mutex> lock(g_windowsMutex);
    wnd = reinterpret_cast<HWND>(++g_lastHandle);
  }
  AddHiddenWindow(wnd, std::move(method));
  return wnd;
}

void DeallocateHWnd(HWND wnd) { RemoveHiddenWindow(wnd); }

LRESULT DefWindowProc(HWND, UINT, WPARAM, LPARAM) { return 0; }

#endif

LRESULT SendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (IsMainThread()) return Deliver(wnd, msg, wParam, lParam);
  if (!FindHiddenWindow(wnd)) return 0;
  LRESULT result = 0;
  SynchronizeCall([&] { result = Deliver(wnd, msg, wParam, lParam); });
  return result;
}
