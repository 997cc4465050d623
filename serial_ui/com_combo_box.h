// TComComboBox: a drop-down list bound to one property of a port. It fills
// its own items, shows the port's current value and writes the chosen value
// back (at once with AutoApply, else on ApplyToPort).
#pragma once

#include "rtl/classes.h"
#include "serial/com_types.h"

#include <QComboBox>

#include <cstdint>
#include <memory>
#include <string>

class TCustomComPort;

enum TComProperty : uint8_t { cpNone, cpPort, cpBaudRate, cpDataBits, cpStopBits, cpParity, cpFlowControl };

// The item list a TComSelect fills and reads (the combo box's own items).
class TComItemList {
 public:
  virtual ~TComItemList() = default;
  virtual void Clear() = 0;
  // `enabled` false: shown, but the user cannot pick it.
  virtual void Add(const std::string& text, const std::string& toolTip, bool enabled) = 0;
  virtual int Count() const = 0;
  virtual std::string Item(int index) const = 0;
  virtual bool Enabled(int index) const = 0;
};

// The combo box's companion: knows the property, the port and the value last
// chosen, and converts between item texts and the port's settings. Free of
// any widget, so it can be driven on its own.
class TComSelect {
 public:
  explicit TComSelect(TComItemList* items) : items_(items) {}

  TCustomComPort* ComPort() const { return comPort_; }
  void SetComPort(TCustomComPort* port) { comPort_ = port; }
  TComProperty ComProperty() const { return comProperty_; }
  void SetComProperty(TComProperty value) { comProperty_ = value; }
  bool AutoApply() const { return autoApply_; }
  void SetAutoApply(bool value) { autoApply_ = value; }

  // Empties the list and adds the items of the property. For cpPort the
  // port enumeration runs (EComPort code 15 when it fails).
  void FillItems();
  // Index of the item showing the port's current value (letter case
  // ignored), remembering that value; -1 when no port is bound or no item matches.
  int FindPortValue();
  // Remembers the value of a picked item's text; with AutoApply writes it.
  void RememberText(const std::string& text);
  // Remembers the value of an item's text, never writing it.
  void StoreText(const std::string& text);
  // Writes the remembered value to the port (nothing without a port).
  void ApplyToPort();

  // Index of the item of that text, letter case ignored; -1 if none.
  int IndexOfText(const std::string& text) const;

  // The remembered values; only the slot of ComProperty() is used.
  const std::string& RememberedPort() const { return port_; }
  TBaudRate RememberedBaudRate() const { return baudRate_; }
  TDataBits RememberedDataBits() const { return dataBits_; }
  TStopBits RememberedStopBits() const { return stopBits_; }
  TParityBits RememberedParity() const { return parity_; }
  TFlowControl RememberedFlowControl() const { return flowControl_; }

 private:
  std::string PortValueText() const;

  TComItemList* items_;
  TCustomComPort* comPort_ = nullptr;
  TComProperty comProperty_ = cpNone;
  bool autoApply_ = false;

  std::string port_;
  TBaudRate baudRate_ = brCustom;
  TDataBits dataBits_ = dbFive;
  TStopBits stopBits_ = sbOneStopBit;
  TParityBits parity_ = prNone;
  TFlowControl flowControl_ = fcHardware;
};

class TComComboBox : public QComboBox, public IFreeNotification {
  Q_OBJECT

 public:
  // Always a drop-down list: the user picks an item, never types.
  explicit TComComboBox(QWidget* parent = nullptr);
  ~TComComboBox() override;
  TComComboBox(const TComComboBox&) = delete;
  TComComboBox& operator=(const TComComboBox&) = delete;

  // The bound port (not owned). Binding selects the port's current value;
  // the port's destruction unbinds it and selects the first item.
  TCustomComPort* ComPort() const { return select_->ComPort(); }
  void SetComPort(TCustomComPort* port);
  // Fills the items; then selects the port's current value, or the first
  // item when no port is bound.
  TComProperty ComProperty() const { return select_->ComProperty(); }
  void SetComProperty(TComProperty value);
  bool AutoApply() const { return select_->AutoApply(); }
  void SetAutoApply(bool value) { select_->SetAutoApply(value); }

  // The selected item's text; empty when none is selected.
  std::string Text() const;
  // Selects the item of that text (letter case ignored) and remembers its
  // value; changes nothing when there is no such item.
  void SetText(const std::string& value);

  void FillItems();
  // Selects the port's current value; no selection when no item shows it.
  void RefreshFromPort();
  void RememberText(const std::string& text) { select_->RememberText(text); }
  // Writes the remembered value. With no item selected nothing is written,
  // so a port whose name is not listed keeps it.
  void ApplyToPort();

  TComSelect& Select() { return *select_; }

  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  class Items;
  void UserPicked(int index);

  std::unique_ptr<Items> items_;
  std::unique_ptr<TComSelect> select_;
  // The bound port as the component that tells us of its end.
  TComponent* boundComponent_ = nullptr;
};
