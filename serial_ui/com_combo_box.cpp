#include "serial_ui/com_combo_box.h"

#include "serial/com_port.h"
#include "serial_ui/port_enumeration.h"
#include "winapi/port_map.h"

#include <QStandardItemModel>

#include <cctype>
#include <map>

namespace {

bool SameTextIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

QString ToQString(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// The port items, each with the device behind it as a tool tip. A name the
// port cannot take (above COM16) is shown but cannot be picked: the port
// would quietly turn it into COM1.
void AddPortItems(TComItemList& items) {
  std::vector<std::string> names;
  EnumerateComPorts(names);
  std::map<std::string, std::string> devices;
  for (const auto& [name, path] : ListPortMap()) devices[name] = path;
  for (const std::string& name : names) {
    const auto device = devices.find(name);
    std::string tip = device == devices.end() ? std::string() : device->second;
    const bool usable = NormalizePortName(name) == name;
    if (!usable) tip += std::string(tip.empty() ? "" : " ") + "(nastavit lze jen COM1 až COM16)";
    items.Add(name, tip, usable);
  }
}

}  // namespace

// ---- TComSelect ----

void TComSelect::FillItems() {
  items_->Clear();
  switch (comProperty_) {
    case cpNone:
      break;
    case cpPort:
      AddPortItems(*items_);
      break;
    case cpBaudRate:
      for (int i = 0; i < BaudRateCount; ++i) items_->Add(BaudRateToText(static_cast<TBaudRate>(i)), {}, true);
      break;
    case cpDataBits:
      for (int i = 0; i < DataBitsCount; ++i) items_->Add(DataBitsToText(static_cast<TDataBits>(i)), {}, true);
      break;
    case cpStopBits:
      for (int i = 0; i < StopBitsCount; ++i) items_->Add(StopBitsToText(static_cast<TStopBits>(i)), {}, true);
      break;
    case cpParity:
      for (int i = 0; i < ParityBitsCount; ++i) items_->Add(ParityToText(static_cast<TParityBits>(i)), {}, true);
      break;
    case cpFlowControl:
      for (int i = 0; i < FlowControlCount; ++i)
        items_->Add(FlowControlToText(static_cast<TFlowControl>(i)), {}, true);
      break;
  }
}

std::string TComSelect::PortValueText() const {
  switch (comProperty_) {
    case cpNone: return {};
    case cpPort: return comPort_->Port();
    case cpBaudRate: return BaudRateToText(comPort_->BaudRate());
    case cpDataBits: return DataBitsToText(comPort_->DataBits());
    case cpStopBits: return StopBitsToText(comPort_->StopBits());
    case cpParity: return ParityToText(comPort_->Parity().Bits());
    case cpFlowControl: return FlowControlToText(comPort_->FlowControl().FlowControl());
  }
  return {};
}

int TComSelect::IndexOfText(const std::string& text) const {
  for (int i = 0; i < items_->Count(); ++i)
    if (items_->Enabled(i) && SameTextIgnoringCase(items_->Item(i), text)) return i;
  return -1;
}

int TComSelect::FindPortValue() {
  if (comPort_ == nullptr || comProperty_ == cpNone) return -1;
  const int index = IndexOfText(PortValueText());
  if (index >= 0) StoreText(items_->Item(index));
  return index;
}

void TComSelect::StoreText(const std::string& text) {
  switch (comProperty_) {
    case cpNone: break;
    case cpPort: port_ = text; break;
    case cpBaudRate: baudRate_ = TextToBaudRate(text); break;
    case cpDataBits: dataBits_ = TextToDataBits(text); break;
    case cpStopBits: stopBits_ = TextToStopBits(text); break;
    case cpParity: parity_ = TextToParity(text); break;
    case cpFlowControl: flowControl_ = TextToFlowControl(text); break;
  }
}

void TComSelect::RememberText(const std::string& text) {
  StoreText(text);
  if (autoApply_) ApplyToPort();
}

void TComSelect::ApplyToPort() {
  if (comPort_ == nullptr) return;
  switch (comProperty_) {
    case cpNone: break;
    case cpPort:
      // A name the port would rewrite (empty, above COM16) is not written.
      if (!port_.empty() && NormalizePortName(port_) == port_) comPort_->SetPort(port_);
      break;
    case cpBaudRate: comPort_->SetBaudRate(baudRate_); break;
    case cpDataBits: comPort_->SetDataBits(dataBits_); break;
    case cpStopBits: comPort_->SetStopBits(stopBits_); break;
    case cpParity: comPort_->Parity().SetBits(parity_); break;
    case cpFlowControl: comPort_->FlowControl().SetFlowControl(flowControl_); break;
  }
}

// ---- TComComboBox ----

class TComComboBox::Items : public TComItemList {
 public:
  explicit Items(QComboBox* box) : box_(box) {}
  void Clear() override { box_->clear(); }
  void Add(const std::string& text, const std::string& toolTip, bool enabled) override {
    box_->addItem(ToQString(text));
    const int index = box_->count() - 1;
    if (!toolTip.empty()) box_->setItemData(index, ToQString(toolTip), Qt::ToolTipRole);
    if (!enabled) {
      if (auto* model = qobject_cast<QStandardItemModel*>(box_->model()))
        if (QStandardItem* item = model->item(index)) item->setEnabled(false);
    }
  }
  int Count() const override { return box_->count(); }
  std::string Item(int index) const override { return box_->itemText(index).toStdString(); }
  bool Enabled(int index) const override {
    const auto* model = qobject_cast<const QStandardItemModel*>(box_->model());
    const QStandardItem* item = model ? model->item(index) : nullptr;
    return item == nullptr || item->isEnabled();
  }

 private:
  QComboBox* box_;
};

TComComboBox::TComComboBox(QWidget* parent)
    : QComboBox(parent), items_(std::make_unique<Items>(this)), select_(std::make_unique<TComSelect>(items_.get())) {
  setEditable(false);
  setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  // activated comes only from the user (mouse, keys, wheel), never from code.
  connect(this, &QComboBox::activated, this, &TComComboBox::UserPicked);
}

TComComboBox::~TComComboBox() {
  if (boundComponent_ != nullptr) boundComponent_->RemoveFreeNotification(this);
}

void TComComboBox::UserPicked(int index) {
  if (index < 0) return;
  RememberText(itemText(index).toStdString());
}

void TComComboBox::SetComPort(TCustomComPort* port) {
  TCustomComPort* old = select_->ComPort();
  if (port == old) return;
  if (old != nullptr) old->RemoveFreeNotification(this);
  select_->SetComPort(port);
  boundComponent_ = port;
  if (port != nullptr) {
    port->FreeNotification(this);
    RefreshFromPort();
  }
}

void TComComboBox::SetComProperty(TComProperty value) {
  select_->SetComProperty(value);
  FillItems();
  if (count() == 0) return;
  if (select_->ComPort() == nullptr)
    setCurrentIndex(0);
  else
    RefreshFromPort();
}

std::string TComComboBox::Text() const {
  const int index = currentIndex();
  return index < 0 ? std::string() : itemText(index).toStdString();
}

void TComComboBox::SetText(const std::string& value) {
  const int index = select_->IndexOfText(value);
  if (index < 0) return;
  setCurrentIndex(index);
  // What the list shows is what ApplyToPort writes; not a user's pick, so no AutoApply.
  select_->StoreText(itemText(index).toStdString());
}

void TComComboBox::FillItems() { select_->FillItems(); }

void TComComboBox::RefreshFromPort() {
  if (select_->ComPort() == nullptr) return;
  setCurrentIndex(select_->FindPortValue());
}

void TComComboBox::ApplyToPort() {
  if (currentIndex() < 0) return;
  select_->ApplyToPort();
}

void TComComboBox::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation != opRemove || AComponent == nullptr) return;
  if (AComponent != boundComponent_ || boundComponent_ == nullptr) return;
  boundComponent_ = nullptr;
  select_->SetComPort(nullptr);
  if (count() > 0) setCurrentIndex(0);
}
