// The virtual test device: a line whose far end is the test.
#include "winapi/virtual_device.h"

#include "winapi/port_names.h"
#include "winapi/virtual_registry.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace vdev {

namespace {

using Clock = std::chrono::steady_clock;

// What the test object and the open port's backend share.
struct State {
  std::mutex mu;
  std::condition_variable changed;
  std::vector<Call> calls;
  std::string written;

  // A paced line: bytes wait in txQueue until the line has had the time to
  // send them; lineClock is when the head byte started.
  unsigned pace = 0;  // bytes per second; 0: a write leaves at once
  size_t queueLimit = 0;
  bool queueVisible = false;
  bool held = false;  // the far end holds the line: nothing leaves the queue
  std::string txQueue;
  Clock::time_point lineClock;
  size_t discarded = 0;

  // With `mu` held: moves what the line has sent by now into `written`.
  void Drain() {
    const auto now = Clock::now();
    if (pace == 0 || txQueue.empty() || held) {
      lineClock = now;
      return;
    }
    const double seconds = std::chrono::duration<double>(now - lineClock).count();
    const size_t sent = std::min(txQueue.size(), static_cast<size_t>(seconds * pace));
    if (sent == 0) return;
    written.append(txQueue, 0, sent);
    txQueue.erase(0, sent);
    lineClock = txQueue.empty() ? now : lineClock + ByteTimes(sent);
  }
  Clock::duration ByteTimes(size_t bytes) const {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(double(bytes) / pace));
  }
  // With `lock` on `mu`: until the queue may have emptied, or anything changed.
  void WaitForLine(std::unique_lock<std::mutex>& lock) {
    if (held)
      changed.wait(lock);
    else
      changed.wait_until(lock, lineClock + ByteTimes(txQueue.size()));
  }

  struct Failure {
    DWORD error;
    int times;
  };
  std::map<std::string, Failure> failures;
  DWORD modem = 0;
  bool unplugged = false;
  std::weak_ptr<winapi::CommPort> port;
  bool open = false;

  // With `mu` held: the injected failure for `name`, or 0.
  DWORD TakeFailure(const std::string& name) {
    auto it = failures.find(name);
    if (it == failures.end()) return ERROR_SUCCESS;
    const DWORD error = it->second.error;
    if (it->second.times > 0 && --it->second.times == 0) failures.erase(it);
    return error;
  }

  std::shared_ptr<winapi::CommPort> Port() {
    std::lock_guard<std::mutex> lock(mu);
    return open ? port.lock() : nullptr;
  }
};

class VirtualBackend : public winapi::LineBackend {
 public:
  explicit VirtualBackend(std::shared_ptr<State> state) : state_(std::move(state)) {}
  ~VirtualBackend() override { StopLine(); }

  void Start(winapi::CommPort*) override {
    line_ = std::thread([this] { RunLine(); });
  }

  void Stop() override {
    StopLine();
    std::lock_guard<std::mutex> lock(state_->mu);
    state_->open = false;
    state_->port.reset();
  }

  DCB InitialState() const override {
    DCB d{};
    d.DCBlength = sizeof(DCB);
    d.BaudRate = CBR_9600;
    d.fBinary = 1;
    d.fDtrControl = DTR_CONTROL_ENABLE;
    d.fRtsControl = RTS_CONTROL_ENABLE;
    d.fTXContinueOnXoff = 1;
    d.ByteSize = 8;
    d.XonChar = 17;
    d.XoffChar = 19;
    d.XonLim = 2048;
    d.XoffLim = 512;
    return d;
  }

  DWORD ApplyState(const DCB&) override { return ERROR_SUCCESS; }

  DWORD ModemStatus(DWORD* status) override {
    std::lock_guard<std::mutex> lock(state_->mu);
    *status = state_->modem;
    return ERROR_SUCCESS;
  }

  long WriteSome(const uint8_t* data, size_t size, DWORD*) override {
    std::lock_guard<std::mutex> lock(state_->mu);
    if (state_->pace == 0) {
      state_->written.append(reinterpret_cast<const char*>(data), size);
      return static_cast<long>(size);
    }
    state_->Drain();
    const size_t taken = std::min(size, state_->queueLimit - std::min(state_->queueLimit, state_->txQueue.size()));
    state_->txQueue.append(reinterpret_cast<const char*>(data), taken);
    return static_cast<long>(taken);
  }

  bool SeesOutputQueue() const override {
    std::lock_guard<std::mutex> lock(state_->mu);
    return state_->pace != 0 && state_->queueVisible;
  }

  DWORD OutputQueued() override {
    std::lock_guard<std::mutex> lock(state_->mu);
    state_->Drain();
    return state_->queueVisible ? static_cast<DWORD>(state_->txQueue.size()) : 0;
  }

  void Flush(bool, bool output) override {
    if (!output) return;
    std::lock_guard<std::mutex> lock(state_->mu);
    state_->Drain();
    state_->discarded += state_->txQueue.size();
    state_->txQueue.clear();
  }

  bool RequestDrainNotice() override {
    std::lock_guard<std::mutex> lock(state_->mu);
    if (state_->pace == 0) return false;
    drainWanted_ = true;
    state_->changed.notify_all();
    return true;
  }

  bool RecordsCalls() const override { return true; }

  DWORD OnCall(const Call& call) override {
    std::lock_guard<std::mutex> lock(state_->mu);
    // Completion queries are not device operations; they can still be failed.
    if (call.name != "GetOverlappedResult") state_->calls.push_back(call);
    return state_->TakeFailure(call.name);
  }

 private:
  // The line itself: tells the port when its queue has emptied.
  void RunLine() {
    std::unique_lock<std::mutex> lock(state_->mu);
    while (!stopLine_) {
      if (!drainWanted_) {
        state_->changed.wait(lock);
        continue;
      }
      state_->Drain();
      if (!state_->txQueue.empty()) {
        state_->WaitForLine(lock);
        continue;
      }
      drainWanted_ = false;
      std::shared_ptr<winapi::CommPort> port = state_->port.lock();
      lock.unlock();
      if (port) {
        port->OnDrained();
        port->Wake();
      }
      port.reset();
      lock.lock();
    }
  }

  void StopLine() {
    {
      std::lock_guard<std::mutex> lock(state_->mu);
      stopLine_ = true;
      state_->changed.notify_all();
    }
    if (line_.joinable()) line_.join();
  }

  std::shared_ptr<State> state_;
  std::thread line_;
  bool drainWanted_ = false;  // guarded by state_->mu
  bool stopLine_ = false;     // guarded by state_->mu
};

class Device : public VirtualDevice {
 public:
  explicit Device(std::string name) : name_(std::move(name)), state_(std::make_shared<State>()) {}
  ~Device() override;

  const std::string& Name() const { return name_; }
  const std::shared_ptr<State>& Shared() const { return state_; }

  std::vector<Call> Calls() const override {
    std::lock_guard<std::mutex> lock(state_->mu);
    return state_->calls;
  }

  int CountOf(const std::string& name) const override {
    std::lock_guard<std::mutex> lock(state_->mu);
    int n = 0;
    for (const Call& c : state_->calls) n += c.name == name;
    return n;
  }

  void ClearCalls() override {
    std::lock_guard<std::mutex> lock(state_->mu);
    state_->calls.clear();
  }

  bool IsOpen() const override {
    std::lock_guard<std::mutex> lock(state_->mu);
    return state_->open;
  }

  std::string TakeWritten() override {
    std::lock_guard<std::mutex> lock(state_->mu);
    state_->Drain();
    std::string s;
    s.swap(state_->written);
    return s;
  }

  void PaceLine(unsigned bytesPerSecond, size_t queueBytes, bool visible) override {
    std::lock_guard<std::mutex> lock(state_->mu);
    state_->Drain();
    state_->pace = bytesPerSecond;
    state_->queueLimit = queueBytes;
    state_->queueVisible = visible;
  }

  void HoldLine(bool held) override {
    std::lock_guard<std::mutex> lock(state_->mu);
    state_->Drain();
    state_->held = held;
    state_->changed.notify_all();
  }

  size_t Discarded() const override {
    std::lock_guard<std::mutex> lock(state_->mu);
    return state_->discarded;
  }

  void WaitUntilSent() override {
    std::unique_lock<std::mutex> lock(state_->mu);
    for (state_->Drain(); !state_->txQueue.empty(); state_->Drain()) state_->WaitForLine(lock);
  }

  void Feed(const std::string& bytes) override {
    if (auto port = state_->Port()) port->OnReceived(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }

  void RaiseEvents(DWORD evMask) override {
    if (auto port = state_->Port()) port->OnEvents(evMask);
  }

  void SetLineErrors(DWORD ceBits) override {
    if (auto port = state_->Port()) port->OnLineErrors(ceBits, false);
  }

  void SetModemStatus(DWORD msBits) override {
    DWORD changed;
    {
      std::lock_guard<std::mutex> lock(state_->mu);
      changed = state_->modem ^ msBits;
      state_->modem = msBits;
    }
    DWORD ev = 0;
    if (changed & MS_CTS_ON) ev |= EV_CTS;
    if (changed & MS_DSR_ON) ev |= EV_DSR;
    if (changed & MS_RLSD_ON) ev |= EV_RLSD;
    if (changed & MS_RING_ON) ev |= EV_RING;
    if (ev)
      if (auto port = state_->Port()) port->OnModemChange(ev);
  }

  void FailCall(const std::string& name, DWORD winError, int times) override {
    std::lock_guard<std::mutex> lock(state_->mu);
    if (times == 0)
      state_->failures.erase(name);
    else
      state_->failures[name] = State::Failure{winError, times < 0 ? -1 : times};
  }

  void ClearFailures() override {
    std::lock_guard<std::mutex> lock(state_->mu);
    state_->failures.clear();
  }

  void Unplug() override {
    std::shared_ptr<winapi::CommPort> port;
    {
      std::lock_guard<std::mutex> lock(state_->mu);
      state_->unplugged = true;
      port = state_->open ? state_->port.lock() : nullptr;
    }
    if (port) port->OnLost(ERROR_DEVICE_NOT_CONNECTED);
  }

 private:
  std::string name_;
  std::shared_ptr<State> state_;
};

struct Registry {
  std::mutex mu;
  std::map<std::string, std::weak_ptr<Device>> devices;
  DWORD enumPortsError = 0;
  int enumPortsFailures = 0;  // -1: every call
  bool machinePortsHidden = false;
};

Registry& TheRegistry() {
  static auto* r = new Registry;
  return *r;
}

std::shared_ptr<Device> Find(const std::string& comName) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mu);
  auto it = r.devices.find(comName);
  return it == r.devices.end() ? nullptr : it->second.lock();
}

Device::~Device() {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mu);
  auto it = r.devices.find(name_);
  if (it != r.devices.end() && it->second.expired()) r.devices.erase(it);
}

std::string RegistryName(const std::string& portName) {
  std::string name = winapi::ComNameFromFileName(portName);
  return name.empty() ? portName : name;
}

}  // namespace

std::shared_ptr<VirtualDevice> VirtualDevice::Register(const std::string& portName) {
  auto device = std::make_shared<Device>(RegistryName(portName));
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mu);
  r.devices[device->Name()] = device;
  return device;
}

void VirtualDevice::Unregister(const std::string& portName) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mu);
  r.devices.erase(RegistryName(portName));
}

void FailEnumPorts(DWORD winError, int times) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mu);
  r.enumPortsError = times == 0 ? 0 : winError;
  r.enumPortsFailures = times;
}

void HideMachinePorts(bool hide) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mu);
  r.machinePortsHidden = hide;
}

}  // namespace vdev

namespace winapi {

bool MachinePortsHidden() {
  vdev::Registry& r = vdev::TheRegistry();
  std::lock_guard<std::mutex> lock(r.mu);
  return r.machinePortsHidden;
}

DWORD TakeEnumPortsFailure() {
  vdev::Registry& r = vdev::TheRegistry();
  std::lock_guard<std::mutex> lock(r.mu);
  if (r.enumPortsError == 0 || r.enumPortsFailures == 0) return 0;
  if (r.enumPortsFailures > 0) --r.enumPortsFailures;
  return r.enumPortsError;
}

std::vector<std::string> VirtualDeviceNames() {
  vdev::Registry& r = vdev::TheRegistry();
  std::lock_guard<std::mutex> lock(r.mu);
  std::vector<std::string> names;
  for (const auto& [name, device] : r.devices)
    if (!device.expired()) names.push_back(name);
  return names;
}

bool OpenVirtualDevice(const std::string& comName, const std::string& fileName, std::shared_ptr<CommPort>* port,
                       DWORD* error) {
  auto device = vdev::Find(comName);
  if (!device) return false;
  const auto& state = device->Shared();
  {
    std::lock_guard<std::mutex> lock(state->mu);
    vdev::Call call;
    call.name = "CreateFile";
    call.data = fileName;
    state->calls.push_back(call);
    DWORD e = state->TakeFailure("CreateFile");
    if (!e && state->unplugged) e = ERROR_FILE_NOT_FOUND;
    if (!e && state->open) e = ERROR_ACCESS_DENIED;
    if (e) {
      *error = e;
      port->reset();
      return true;
    }
    state->open = true;
  }
  auto p = std::make_shared<CommPort>(std::make_unique<vdev::VirtualBackend>(state));
  {
    std::lock_guard<std::mutex> lock(state->mu);
    state->port = p;
  }
  *port = std::move(p);
  return true;
}

}  // namespace winapi
