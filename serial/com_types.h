// Port setting enumerations, the small sets the port uses, its event types,
// and the text forms of every setting.
#pragma once

#include "rtl/classes.h"
#include "winapi/win32.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>

// A set of enumeration values, one bit per ordinal, held in `Bits`.
//   TComEvents ev{evRxChar, evError};
//   ev.Contains(evRxChar); ev.Include(evCTS); ev.Exclude(evError); ev.Empty();
//   ev.ToBits() / TComEvents::FromBits(0x3FF) for the stored numeric value.
template <typename E, typename Bits>
class TSet {
 public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> items) {
    for (E e : items) Include(e);
  }
  static constexpr TSet FromBits(Bits bits) {
    TSet s;
    s.bits_ = bits;
    return s;
  }
  constexpr Bits ToBits() const { return bits_; }

  constexpr bool Contains(E e) const { return (bits_ & Bit(e)) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr TSet& Include(E e) {
    bits_ = static_cast<Bits>(bits_ | Bit(e));
    return *this;
  }
  constexpr TSet& Exclude(E e) {
    bits_ = static_cast<Bits>(bits_ & ~Bit(e));
    return *this;
  }

  friend constexpr bool operator==(TSet a, TSet b) { return a.bits_ == b.bits_; }
  friend constexpr bool operator!=(TSet a, TSet b) { return a.bits_ != b.bits_; }
  friend constexpr TSet operator|(TSet a, TSet b) { return FromBits(static_cast<Bits>(a.bits_ | b.bits_)); }
  friend constexpr TSet operator&(TSet a, TSet b) { return FromBits(static_cast<Bits>(a.bits_ & b.bits_)); }
  friend constexpr TSet operator-(TSet a, TSet b) { return FromBits(static_cast<Bits>(a.bits_ & ~b.bits_)); }
  constexpr TSet& operator|=(TSet o) { return *this = *this | o; }
  constexpr TSet& operator&=(TSet o) { return *this = *this & o; }
  constexpr TSet& operator-=(TSet o) { return *this = *this - o; }

 private:
  static constexpr Bits Bit(E e) { return static_cast<Bits>(Bits{1} << static_cast<unsigned>(e)); }
  Bits bits_ = 0;
};

// ---- Line settings (stored in one byte each; ordinal = position) ----

enum TBaudRate : uint8_t {
  brCustom, br110, br300, br600, br1200, br2400, br4800, br9600, br14400,
  br19200, br38400, br56000, br57600, br115200, br128000, br256000
};
enum TStopBits : uint8_t { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TDataBits : uint8_t { dbFive, dbSix, dbSeven, dbEight };
enum TParityBits : uint8_t { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl : uint8_t { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl : uint8_t { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TFlowControl : uint8_t { fcHardware, fcSoftware, fcNone, fcCustom };

// Number of values of each enumeration (for filling lists).
constexpr int BaudRateCount = 16;
constexpr int StopBitsCount = 3;
constexpr int DataBitsCount = 4;
constexpr int ParityBitsCount = 5;
constexpr int DTRFlowControlCount = 3;
constexpr int RTSFlowControlCount = 4;
constexpr int FlowControlCount = 4;

// Device values (DCB.BaudRate etc.) of the enumerations. BaudRateToValue
// gives 0 for brCustom: the port then uses its CustomBaudRate.
DWORD BaudRateToValue(TBaudRate value);
BYTE StopBitsToValue(TStopBits value);
BYTE DataBitsToValue(TDataBits value);
BYTE ParityToValue(TParityBits value);

// ---- Line events, errors, modem signals ----

enum TComEvent : uint8_t {
  evRxChar, evTxEmpty, evRxFlag, evRing, evBreak, evCTS, evDSR, evError, evRLSD, evRx80Full
};
using TComEvents = TSet<TComEvent, uint16_t>;
// All ten events (set value 1023): the port's default.
constexpr TComEvents AllComEvents = TComEvents::FromBits(0x03FF);

// Windows event mask (SetCommMask / WaitCommEvent) <-> TComEvents; bits
// outside the ten events are ignored both ways.
DWORD EventSetToMask(TComEvents events);
TComEvents MaskToEventSet(DWORD mask);

enum TComError : uint8_t { erFrame, erRxParity, erOverrun, erBreak, erIO, erMode, erRxOver, erTxFull };
using TComErrors = TSet<TComError, uint8_t>;
// ClearCommError's error word -> TComErrors; CE_RXPARITY counts only when
// `parityCheck` is true; CE_PTO, CE_DNS, CE_OOP are dropped.
TComErrors ErrorWordToErrors(DWORD ceBits, bool parityCheck);

enum TModemSignal : uint8_t { msCTS, msDSR, msRing, msRLSD };
using TModemSignals = TSet<TModemSignal, uint8_t>;
// GetCommModemStatus's word -> TModemSignals.
TModemSignals ModemWordToSignals(DWORD msBits);

enum TSyncMethod : uint8_t { smThreadSync, smWindowSync, smNone };

// Setting groups handled by the persistence methods; default {sgBasic}.
enum TStoredGroup : uint8_t { sgBasic, sgFlowDetails, sgBuffer, sgTimeouts, sgParityDetails, sgReceive };
using TStoredGroups = TSet<TStoredGroup, uint8_t>;

// ---- Event types (Sender is the port) ----

using TNotifyEvent = std::function<void(TObject* Sender)>;
using TRxCharEvent = std::function<void(TObject* Sender, int32_t Count)>;
using TRxBufEvent = std::function<void(TObject* Sender, const void* Buffer, int32_t Count)>;
using TComErrorEvent = std::function<void(TObject* Sender, TComErrors Errors)>;
using TComSignalEvent = std::function<void(TObject* Sender, bool OnOff)>;

// ---- Text forms ----
// Enumeration -> its text form ("Custom", "1200", "1.5", "8", "None", ...).
std::string BaudRateToText(TBaudRate value);
std::string StopBitsToText(TStopBits value);
std::string DataBitsToText(TDataBits value);
std::string ParityToText(TParityBits value);
std::string FlowControlToText(TFlowControl value);
std::string DtrControlToText(TDTRFlowControl value);
std::string RtsControlToText(TRTSFlowControl value);

// Text -> enumeration, ASCII case ignored; never fails: an unrecognised text
// gives br9600, sbOneStopBit, dbEight, prNone, fcCustom, dtrDisable, rtsDisable.
TBaudRate TextToBaudRate(const std::string& text);
TStopBits TextToStopBits(const std::string& text);
TDataBits TextToDataBits(const std::string& text);
TParityBits TextToParity(const std::string& text);
TFlowControl TextToFlowControl(const std::string& text);
TDTRFlowControl TextToDtrControl(const std::string& text);
TRTSFlowControl TextToRtsControl(const std::string& text);

// "Yes" / "No"; TextToBool is true exactly for "YES" in any letter case.
std::string BoolToText(bool value);
bool TextToBool(const std::string& text);

// Codes 33..127 as the character itself, any other as "#<decimal code>".
std::string CharToText(char value);
// "" -> #0; "#<n>" -> low 8 bits of n (#0 if n is not an integer);
// anything else (and "#" alone) -> its first character.
char TextToChar(const std::string& text);

// Any text -> one of "COM1".."COM16"; unreadable or out-of-range gives "COM1".
std::string NormalizePortName(const std::string& text);
