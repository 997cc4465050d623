#include "serial/com_settings.h"

#include "serial/com_port.h"

// ---- TComParity ----

void TComParity::Changed() {
  if (comPort_) comPort_->ApplyLineSettings();
}

void TComParity::SetBits(TParityBits value) {
  if (value == bits_) return;
  bits_ = value;
  Changed();
}

void TComParity::SetCheck(bool value) {
  if (value == check_) return;
  check_ = value;
  Changed();
}

void TComParity::SetReplace(bool value) {
  if (value == replace_) return;
  replace_ = value;
  Changed();
}

void TComParity::SetReplaceChar(char value) {
  if (value == replaceChar_) return;
  replaceChar_ = value;
  Changed();
}

void TComParity::Assign(const TPersistent* Source) {
  const auto* src = dynamic_cast<const TComParity*>(Source);
  if (!src) return TPersistent::Assign(Source);
  bits_ = src->bits_;
  check_ = src->check_;
  replace_ = src->replace_;
  replaceChar_ = src->replaceChar_;
}

// ---- TComFlowControl ----

void TComFlowControl::Changed() {
  if (comPort_) comPort_->ApplyLineSettings();
}

TFlowControl TComFlowControl::FlowControl() const {
  if (controlRTS_ == rtsHandshake && outCTSFlow_ && !xonXoffIn_ && !xonXoffOut_) return fcHardware;
  if (controlRTS_ == rtsDisable && !outCTSFlow_ && xonXoffIn_ && xonXoffOut_) return fcSoftware;
  if (controlRTS_ == rtsDisable && !outCTSFlow_ && !xonXoffIn_ && !xonXoffOut_) return fcNone;
  return fcCustom;
}

void TComFlowControl::SetFlowControl(TFlowControl value) {
  if (value != fcCustom) {
    controlRTS_ = rtsDisable;
    outCTSFlow_ = false;
    xonXoffIn_ = false;
    xonXoffOut_ = false;
    if (value == fcHardware) {
      controlRTS_ = rtsHandshake;
      outCTSFlow_ = true;
    } else if (value == fcSoftware) {
      xonXoffIn_ = true;
      xonXoffOut_ = true;
    }
  }
  // The preset always reaches the device, also when nothing changed.
  Changed();
}

#define VAZUR_FLOW_SETTER(Name, Type, field) \
  void TComFlowControl::Set##Name(Type value) { \
    if (value == field) return;                 \
    field = value;                              \
    Changed();                                  \
  }

VAZUR_FLOW_SETTER(OutCTSFlow, bool, outCTSFlow_)
VAZUR_FLOW_SETTER(OutDSRFlow, bool, outDSRFlow_)
VAZUR_FLOW_SETTER(ControlDTR, TDTRFlowControl, controlDTR_)
VAZUR_FLOW_SETTER(ControlRTS, TRTSFlowControl, controlRTS_)
VAZUR_FLOW_SETTER(XonXoffOut, bool, xonXoffOut_)
VAZUR_FLOW_SETTER(XonXoffIn, bool, xonXoffIn_)
VAZUR_FLOW_SETTER(DSRSensitivity, bool, dsrSensitivity_)
VAZUR_FLOW_SETTER(TxContinueOnXoff, bool, txContinueOnXoff_)
VAZUR_FLOW_SETTER(XonChar, char, xonChar_)
VAZUR_FLOW_SETTER(XoffChar, char, xoffChar_)

#undef VAZUR_FLOW_SETTER

void TComFlowControl::Assign(const TPersistent* Source) {
  const auto* src = dynamic_cast<const TComFlowControl*>(Source);
  if (!src) return TPersistent::Assign(Source);
  outCTSFlow_ = src->outCTSFlow_;
  outDSRFlow_ = src->outDSRFlow_;
  controlDTR_ = src->controlDTR_;
  controlRTS_ = src->controlRTS_;
  xonXoffOut_ = src->xonXoffOut_;
  xonXoffIn_ = src->xonXoffIn_;
  dsrSensitivity_ = src->dsrSensitivity_;
  txContinueOnXoff_ = src->txContinueOnXoff_;
  xonChar_ = src->xonChar_;
  xoffChar_ = src->xoffChar_;
}

// ---- TComTimeouts ----

void TComTimeouts::Set(int32_t& field, int32_t value) {
  if (value == field) return;
  field = value;
  if (comPort_) comPort_->ApplyTimeoutSettings();
}

void TComTimeouts::SetReadInterval(int32_t value) { Set(readInterval_, value); }
void TComTimeouts::SetReadTotalMultiplier(int32_t value) { Set(readTotalMultiplier_, value); }
void TComTimeouts::SetReadTotalConstant(int32_t value) { Set(readTotalConstant_, value); }
void TComTimeouts::SetWriteTotalMultiplier(int32_t value) { Set(writeTotalMultiplier_, value); }
void TComTimeouts::SetWriteTotalConstant(int32_t value) { Set(writeTotalConstant_, value); }

void TComTimeouts::Assign(const TPersistent* Source) {
  const auto* src = dynamic_cast<const TComTimeouts*>(Source);
  if (!src) return TPersistent::Assign(Source);
  readInterval_ = src->readInterval_;
  readTotalMultiplier_ = src->readTotalMultiplier_;
  readTotalConstant_ = src->readTotalConstant_;
  writeTotalMultiplier_ = src->writeTotalMultiplier_;
  writeTotalConstant_ = src->writeTotalConstant_;
}

// ---- TComBuffer ----

void TComBuffer::Set(int32_t& field, int32_t value) {
  if (value == field) return;
  // Drivers take even queue sizes.
  if (value > 0 && value % 2 != 0) --value;
  field = value;
  if (comPort_) comPort_->ApplyBufferSizes();
}

void TComBuffer::SetInputSize(int32_t value) { Set(inputSize_, value); }
void TComBuffer::SetOutputSize(int32_t value) { Set(outputSize_, value); }

void TComBuffer::Assign(const TPersistent* Source) {
  const auto* src = dynamic_cast<const TComBuffer*>(Source);
  if (!src) return TPersistent::Assign(Source);
  inputSize_ = src->inputSize_;
  outputSize_ = src->outputSize_;
}
