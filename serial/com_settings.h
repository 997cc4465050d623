// The four settings objects a port owns: parity, flow control, time-outs,
// driver buffer sizes. Each setter stores a changed value and asks the owning
// port (if any) to push it to an open device.
#pragma once

#include "serial/com_types.h"

#include <cstdint>

class TCustomComPort;

// Common part: the back reference to the owning port (not owned).
class TComSettings : public TPersistent {
 public:
  TComSettings() = default;
  TComSettings(const TComSettings&) = delete;
  TComSettings& operator=(const TComSettings&) = delete;

  TCustomComPort* ComPort() const { return comPort_; }

 protected:
  friend class TCustomComPort;
  TCustomComPort* comPort_ = nullptr;
};

class TComParity : public TComSettings {
 public:
  TParityBits Bits() const { return bits_; }
  void SetBits(TParityBits value);
  bool Check() const { return check_; }
  void SetCheck(bool value);
  bool Replace() const { return replace_; }
  void SetReplace(bool value);
  char ReplaceChar() const { return replaceChar_; }
  void SetReplaceChar(char value);

  // Copies all four fields from another TComParity, without applying;
  // any other class fails with EConvertError.
  void Assign(const TPersistent* Source) override;

 private:
  void Changed();
  TParityBits bits_ = prNone;
  bool check_ = false;
  bool replace_ = false;
  char replaceChar_ = 0;
};

class TComFlowControl : public TComSettings {
 public:
  // The preset, derived from ControlRTS, OutCTSFlow, XonXoffIn, XonXoffOut.
  TFlowControl FlowControl() const;
  // Writes the preset's fields (none for fcCustom) and always applies.
  void SetFlowControl(TFlowControl value);

  bool OutCTSFlow() const { return outCTSFlow_; }
  void SetOutCTSFlow(bool value);
  bool OutDSRFlow() const { return outDSRFlow_; }
  void SetOutDSRFlow(bool value);
  TDTRFlowControl ControlDTR() const { return controlDTR_; }
  void SetControlDTR(TDTRFlowControl value);
  TRTSFlowControl ControlRTS() const { return controlRTS_; }
  void SetControlRTS(TRTSFlowControl value);
  bool XonXoffOut() const { return xonXoffOut_; }
  void SetXonXoffOut(bool value);
  bool XonXoffIn() const { return xonXoffIn_; }
  void SetXonXoffIn(bool value);
  bool DSRSensitivity() const { return dsrSensitivity_; }
  void SetDSRSensitivity(bool value);
  bool TxContinueOnXoff() const { return txContinueOnXoff_; }
  void SetTxContinueOnXoff(bool value);
  char XonChar() const { return xonChar_; }
  void SetXonChar(char value);
  char XoffChar() const { return xoffChar_; }
  void SetXoffChar(char value);

  // Copies the ten stored fields, without applying.
  void Assign(const TPersistent* Source) override;

 private:
  void Changed();
  bool outCTSFlow_ = false;
  bool outDSRFlow_ = false;
  TDTRFlowControl controlDTR_ = dtrDisable;
  TRTSFlowControl controlRTS_ = rtsDisable;
  bool xonXoffOut_ = false;
  bool xonXoffIn_ = false;
  bool dsrSensitivity_ = false;
  bool txContinueOnXoff_ = false;
  char xonChar_ = 17;
  char xoffChar_ = 19;
};

// Milliseconds; -1 stands for MAXDWORD.
class TComTimeouts : public TComSettings {
 public:
  int32_t ReadInterval() const { return readInterval_; }
  void SetReadInterval(int32_t value);
  int32_t ReadTotalMultiplier() const { return readTotalMultiplier_; }
  void SetReadTotalMultiplier(int32_t value);
  int32_t ReadTotalConstant() const { return readTotalConstant_; }
  void SetReadTotalConstant(int32_t value);
  int32_t WriteTotalMultiplier() const { return writeTotalMultiplier_; }
  void SetWriteTotalMultiplier(int32_t value);
  int32_t WriteTotalConstant() const { return writeTotalConstant_; }
  void SetWriteTotalConstant(int32_t value);

  void Assign(const TPersistent* Source) override;

 private:
  void Set(int32_t& field, int32_t value);
  int32_t readInterval_ = -1;
  int32_t readTotalMultiplier_ = 0;
  int32_t readTotalConstant_ = 0;
  int32_t writeTotalMultiplier_ = 100;
  int32_t writeTotalConstant_ = 1000;
};

// Recommended driver queue sizes; a changed positive odd value is lowered by one.
class TComBuffer : public TComSettings {
 public:
  int32_t InputSize() const { return inputSize_; }
  void SetInputSize(int32_t value);
  int32_t OutputSize() const { return outputSize_; }
  void SetOutputSize(int32_t value);

  void Assign(const TPersistent* Source) override;

 private:
  void Set(int32_t& field, int32_t value);
  int32_t inputSize_ = 1024;
  int32_t outputSize_ = 1024;
};
