#include "rtl/hidden_window.h"

#include "rtl/error_report.h"
#include "rtl/thread.h"

#include <memory>
#include <mutex>
#include <unordered_map>

namespace {

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

struct HiddenWindow {
  TWndMethod method;
};

LRESULT CALLBACK HiddenWindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* window = reinterpret_cast<HiddenWindow*>(GetWindowLongPtrW(wnd, GWLP_USERDATA));
  if (window == nullptr) return DefWindowProcW(wnd, msg, wParam, lParam);
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

}  // namespace

HWND AllocateHWnd(TWndMethod method) {
  RegisterHiddenWindowClass();
  HWND wnd = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr),
                             nullptr);
  if (wnd == nullptr) throw Exception("Cannot create a hidden window");
  SetWindowLongPtrW(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(new HiddenWindow{std::move(method)}));
  return wnd;
}

void DeallocateHWnd(HWND wnd) {
  if (wnd == nullptr) return;
  auto* window = reinterpret_cast<HiddenWindow*>(GetWindowLongPtrW(wnd, GWLP_USERDATA));
  SetWindowLongPtrW(wnd, GWLP_USERDATA, 0);
  DestroyWindow(wnd);
  delete window;
}

#else

namespace {

struct HiddenWindow {
  TWndMethod method;
};

// Handles are numbers counted up from 1 and never reused, so a stale handle
// can never reach a newer window.
std::mutex g_windowsMutex;
std::unordered_map<uintptr_t, std::shared_ptr<HiddenWindow>> g_windows;
uintptr_t g_lastHandle = 0;

std::shared_ptr<HiddenWindow> FindHiddenWindow(HWND wnd) {
  std::lock_guard<std::mutex> lock(g_windowsMutex);
  auto it = g_windows.find(reinterpret_cast<uintptr_t>(wnd));
  return it == g_windows.end() ? nullptr : it->second;
}

// On the main thread. The window is looked up only now, so one deallocated
// while the message was queued is not called; the reference held here keeps
// the method alive even if it deallocates its own window.
LRESULT Deliver(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<HiddenWindow> window = FindHiddenWindow(wnd);
  if (!window) return 0;
  return CallWndMethod(window->method, msg, wParam, lParam);
}

}  // namespace

HWND AllocateHWnd(TWndMethod method) {
  auto window = std::make_shared<HiddenWindow>();
  window->method = std::move(method);
  std::lock_guard<std::mutex> lock(g_windowsMutex);
  uintptr_t handle = ++g_lastHandle;
  g_windows.emplace(handle, std::move(window));
  return reinterpret_cast<HWND>(handle);
}

void DeallocateHWnd(HWND wnd) {
  std::shared_ptr<HiddenWindow> window;  // released outside the lock
  std::lock_guard<std::mutex> lock(g_windowsMutex);
  auto it = g_windows.find(reinterpret_cast<uintptr_t>(wnd));
  if (it == g_windows.end()) return;
  window = std::move(it->second);
  g_windows.erase(it);
}

LRESULT SendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (IsMainThread()) return Deliver(wnd, msg, wParam, lParam);
  if (!FindHiddenWindow(wnd)) return 0;
  LRESULT result = 0;
  SynchronizeCall([&] { result = Deliver(wnd, msg, wParam, lParam); });
  return result;
}

LRESULT DefWindowProc(HWND, UINT, WPARAM, LPARAM) { return 0; }

#endif
