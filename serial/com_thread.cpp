#include "serial/com_thread.h"

#include "rtl/error_report.h"
#include "rtl/hidden_window.h"
#include "serial/com_port.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

// Pause after a wait that failed at once (a removed device): it grows so a
// dead device costs nothing, and the stop request still ends it.
constexpr DWORD kFirstPauseMs = 10;
constexpr DWORD kLongestPauseMs = 1000;
// Upper bound for the driver to finish a cancelled wait after the mask is cleared.
constexpr DWORD kCancelBoundMs = 5000;

// What a pending WaitCommEvent writes into; it must outlive the operation.
struct PendingWait {
  OVERLAPPED overlapped;
  DWORD mask;
};

// The events in delivery order, with their Windows mask bits.
constexpr TComEvent kDeliveryOrder[] = {evRxChar, evTxEmpty, evBreak, evRing, evCTS,
                                        evDSR,    evRxFlag,  evRLSD,  evError, evRx80Full};

}  // namespace

TComThread::TComThread(TCustomComPort* AComPort) : TThread(true), comPort_(AComPort), portName_(AComPort->Port()) {
  stopEvent_ = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  if (!stopEvent_) throw EComPort(ecAsyncCheck, static_cast<int32_t>(GetLastError()));
  SetCommMask(comPort_->handle_, EventSetToMask(comPort_->events_));
  Resume();
}

TComThread::~TComThread() {
  Stop();
  TerminateAndWait();
  // Closed here, after the body has ended, so Stop never signals a handle
  // that has been closed (and perhaps reused).
  CloseHandle(stopEvent_);
}

void TComThread::Stop() {
  SetEvent(stopEvent_);
  Sleep(0);
}

void TComThread::Execute() {
  const HANDLE device = comPort_->handle_;
  auto* wait = new PendingWait;
  std::memset(wait, 0, sizeof *wait);
  wait->overlapped.hEvent = CreateEvent(nullptr, TRUE, TRUE, nullptr);
  if (!wait->overlapped.hEvent) {
    ReportError(EComPort(ecAsyncCheck, static_cast<int32_t>(GetLastError())).Message());
    delete wait;
    SetCommMask(device, 0);
    PurgeComm(device, PURGE_TXCLEAR | PURGE_RXCLEAR);
    return;
  }
  const HANDLE handles[2] = {stopEvent_, wait->overlapped.hEvent};
  bool pending = false;
  bool failureReported = false;
  DWORD pause = 0;

  // Paces a wait that failed; false when the stop request came meanwhile.
  // The user hears of it once, when it persists: a single failure may be
  // the close of the port itself.
  auto failed = [&](DWORD error) {
    const bool repeated = pause != 0;
    pause = pause == 0 ? kFirstPauseMs : std::min(pause * 2, kLongestPauseMs);
    if (WaitForSingleObject(stopEvent_, pause) != WAIT_TIMEOUT) return false;
    if (repeated && !failureReported) {
      failureReported = true;
      ReportLineLost(error);
    }
    return true;
  };

  for (;;) {
    wait->mask = 0;
    if (!WaitCommEvent(device, &wait->mask, &wait->overlapped)) {
      const DWORD error = GetLastError();
      if (error != ERROR_IO_PENDING) {
        if (failed(error)) continue;
        break;
      }
    }
    pending = true;
    const DWORD result = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    if (result != WAIT_OBJECT_0 + 1) break;
    pending = false;
    DWORD transferred = 0;
    if (!GetOverlappedResult(device, &wait->overlapped, &transferred, FALSE)) {
      if (failed(GetLastError())) continue;
      break;
    }
    pause = 0;
    signalledEvents_ = MaskToEventSet(wait->mask);
    if (signalledEvents_.Empty()) continue;
    try {
      DispatchEvents();
    } catch (...) {
      // The rest of this wait's events are dropped; the line is still watched.
      comPort_->ReportEventFailure();
    }
  }

  SetCommMask(device, 0);  // also completes a wait still pending
  PurgeComm(device, PURGE_TXCLEAR | PURGE_RXCLEAR);
  if (pending && WaitForSingleObject(wait->overlapped.hEvent, kCancelBoundMs) != WAIT_OBJECT_0) {
    // The driver still owns the record: leave it rather than let it write
    // into freed memory.
    return;
  }
  CloseHandle(wait->overlapped.hEvent);
  delete wait;
}

void TComThread::ReportLineLost(DWORD error) {
  TCustomComPort& port = *comPort_;
  if (!port.OnLineLost) {
    ReportError("Waiting for line events on " + portName_ + " failed (win error code: " +
                std::to_string(static_cast<int32_t>(error)) + ")");
    return;
  }
  auto deliver = [&port, error] {
    TCustomComPort::DeliveryScope scope(&port);
    port.OnLineLost(&port, static_cast<int32_t>(error));
  };
  try {
    if (port.syncMethod_ == smNone)
      deliver();
    else
      Synchronize(deliver);
  } catch (...) {
    ReportCurrentException();
  }
}

void TComThread::DispatchEvents() {
  switch (comPort_->syncMethod_) {
    case smThreadSync:
      Synchronize([this] { DeliverEvents(); });
      break;
    case smWindowSync:
      SendEvents();
      break;
    case smNone:
      DeliverEvents();
      break;
  }
}

void TComThread::DeliverEvents() {
  TCustomComPort& port = *comPort_;
  TCustomComPort::DeliveryScope scope(comPort_);
  for (TComEvent event : kDeliveryOrder) {
    if (!signalledEvents_.Contains(event)) continue;
    switch (event) {
      case evRxChar: port.ProcessRxChar(); break;
      case evTxEmpty: port.ProcessTxEmpty(); break;
      case evBreak: port.ProcessBreak(); break;
      case evRing: port.ProcessRing(); break;
      case evCTS: port.ProcessCTSChange(); break;
      case evDSR: port.ProcessDSRChange(); break;
      case evRxFlag: port.ProcessRxFlag(); break;
      case evRLSD: port.ProcessRLSDChange(); break;
      case evError: port.ProcessError(); break;
      case evRx80Full: port.ProcessRx80Full(); break;
    }
  }
}

void TComThread::SendEvents() {
  for (TComEvent event : kDeliveryOrder) {
    if (!signalledEvents_.Contains(event)) continue;
    // Blocks until the main thread has handled it; 0 means the handler
    // failed (already reported) or the window is gone.
    if (SendMessage(comPort_->notifyWindow_, CM_COMPORT_EVENT, EventSetToMask(TComEvents{event}), 0) == 0) break;
  }
}
