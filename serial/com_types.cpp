#include "serial/com_types.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <limits>

#ifndef CE_IOE
#define CE_IOE 0x0400u
#endif
#ifndef CE_MODE
#define CE_MODE 0x8000u
#endif

namespace {

constexpr std::array<const char*, BaudRateCount> kBaudTexts = {
    "Custom", "110", "300", "600", "1200", "2400", "4800", "9600", "14400",
    "19200", "38400", "56000", "57600", "115200", "128000", "256000"};
constexpr std::array<DWORD, BaudRateCount> kBaudValues = {
    0, CBR_110, CBR_300, CBR_600, CBR_1200, CBR_2400, CBR_4800, CBR_9600, CBR_14400,
    CBR_19200, CBR_38400, CBR_56000, CBR_57600, CBR_115200, CBR_128000, CBR_256000};
constexpr std::array<const char*, StopBitsCount> kStopTexts = {"1", "1.5", "2"};
constexpr std::array<const char*, DataBitsCount> kDataTexts = {"5", "6", "7", "8"};
constexpr std::array<const char*, ParityBitsCount> kParityTexts = {"None", "Odd", "Even", "Mark", "Space"};
constexpr std::array<const char*, FlowControlCount> kFlowTexts = {"Hardware", "Software", "None", "Custom"};
constexpr std::array<const char*, DTRFlowControlCount> kDtrTexts = {"Disable", "Enable", "Handshake"};
constexpr std::array<const char*, RTSFlowControlCount> kRtsTexts = {"Disable", "Enable", "Handshake", "Toggle"};

// Event <-> Windows mask bit, indexed by TComEvent.
constexpr std::array<DWORD, 10> kEventMaskBits = {
    EV_RXCHAR, EV_TXEMPTY, EV_RXFLAG, EV_RING, EV_BREAK, EV_CTS, EV_DSR, EV_ERR, EV_RLSD, EV_RX80FULL};

// Line error <-> CE_ bit, indexed by TComError.
constexpr std::array<DWORD, 8> kErrorBits = {
    CE_FRAME, CE_RXPARITY, CE_OVERRUN, CE_BREAK, CE_IOE, CE_MODE, CE_RXOVER, CE_TXFULL};

constexpr std::array<DWORD, 4> kSignalBits = {MS_CTS_ON, MS_DSR_ON, MS_RING_ON, MS_RLSD_ON};

std::string UpperAscii(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

template <typename E, std::size_t N>
std::string TextOf(const std::array<const char*, N>& table, E value) {
  const auto i = static_cast<std::size_t>(value);
  return i < N ? table[i] : std::string();
}

template <typename E, std::size_t N>
E ParseText(const std::array<const char*, N>& table, const std::string& text, E fallback) {
  const std::string wanted = UpperAscii(text);
  for (std::size_t i = 0; i < N; ++i) {
    if (UpperAscii(table[i]) == wanted) return static_cast<E>(i);
  }
  return fallback;
}

// A whole decimal integer with an optional sign, within 32 bits.
bool ParseInt(const std::string& text, int32_t& out) {
  if (text.empty()) return false;
  std::size_t i = 0;
  bool negative = false;
  if (text[0] == '+' || text[0] == '-') {
    negative = text[0] == '-';
    i = 1;
  }
  if (i == text.size()) return false;
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
    if (value > int64_t{std::numeric_limits<int32_t>::max()} + 1) return false;
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int32_t>::max() || value < std::numeric_limits<int32_t>::min()) return false;
  out = static_cast<int32_t>(value);
  return true;
}

}  // namespace

DWORD BaudRateToValue(TBaudRate value) {
  const auto i = static_cast<std::size_t>(value);
  return i < kBaudValues.size() ? kBaudValues[i] : 0;
}
BYTE StopBitsToValue(TStopBits value) { return static_cast<BYTE>(value); }
BYTE DataBitsToValue(TDataBits value) { return static_cast<BYTE>(5 + static_cast<int>(value)); }
BYTE ParityToValue(TParityBits value) { return static_cast<BYTE>(value); }

DWORD EventSetToMask(TComEvents events) {
  DWORD mask = 0;
  for (std::size_t i = 0; i < kEventMaskBits.size(); ++i) {
    if (events.Contains(static_cast<TComEvent>(i))) mask |= kEventMaskBits[i];
  }
  return mask;
}

TComEvents MaskToEventSet(DWORD mask) {
  TComEvents events;
  for (std::size_t i = 0; i < kEventMaskBits.size(); ++i) {
    if (mask & kEventMaskBits[i]) events.Include(static_cast<TComEvent>(i));
  }
  return events;
}

TComErrors ErrorWordToErrors(DWORD ceBits, bool parityCheck) {
  TComErrors errors;
  for (std::size_t i = 0; i < kErrorBits.size(); ++i) {
    const auto e = static_cast<TComError>(i);
    if (e == erRxParity && !parityCheck) continue;
    if (ceBits & kErrorBits[i]) errors.Include(e);
  }
  return errors;
}

TModemSignals ModemWordToSignals(DWORD msBits) {
  TModemSignals signals;
  for (std::size_t i = 0; i < kSignalBits.size(); ++i) {
    if (msBits & kSignalBits[i]) signals.Include(static_cast<TModemSignal>(i));
  }
  return signals;
}

std::string BaudRateToText(TBaudRate value) { return TextOf(kBaudTexts, value); }
std::string StopBitsToText(TStopBits value) { return TextOf(kStopTexts, value); }
std::string DataBitsToText(TDataBits value) { return TextOf(kDataTexts, value); }
std::string ParityToText(TParityBits value) { return TextOf(kParityTexts, value); }
std::string FlowControlToText(TFlowControl value) { return TextOf(kFlowTexts, value); }
std::string DtrControlToText(TDTRFlowControl value) { return TextOf(kDtrTexts, value); }
std::string RtsControlToText(TRTSFlowControl value) { return TextOf(kRtsTexts, value); }

TBaudRate TextToBaudRate(const std::string& text) { return ParseText(kBaudTexts, text, br9600); }
TStopBits TextToStopBits(const std::string& text) { return ParseText(kStopTexts, text, sbOneStopBit); }
TDataBits TextToDataBits(const std::string& text) { return ParseText(kDataTexts, text, dbEight); }
TParityBits TextToParity(const std::string& text) { return ParseText(kParityTexts, text, prNone); }
TFlowControl TextToFlowControl(const std::string& text) { return ParseText(kFlowTexts, text, fcCustom); }
TDTRFlowControl TextToDtrControl(const std::string& text) { return ParseText(kDtrTexts, text, dtrDisable); }
TRTSFlowControl TextToRtsControl(const std::string& text) { return ParseText(kRtsTexts, text, rtsDisable); }

std::string BoolToText(bool value) { return value ? "Yes" : "No"; }
bool TextToBool(const std::string& text) { return UpperAscii(text) == "YES"; }

std::string CharToText(char value) {
  const auto code = static_cast<unsigned char>(value);
  if (code >= 33 && code <= 127) return std::string(1, value);
  return "#" + std::to_string(code);
}

char TextToChar(const std::string& text) {
  if (text.empty()) return 0;
  if (text[0] != '#' || text.size() == 1) return text[0];
  int32_t code = 0;
  if (!ParseInt(text.substr(1), code)) return 0;
  return static_cast<char>(static_cast<unsigned char>(static_cast<uint32_t>(code) & 0xFFu));
}

std::string NormalizePortName(const std::string& text) {
  std::string rest = text;
  if (UpperAscii(text.substr(0, 3)) == "COM") rest = text.substr(3);
  int32_t number = 0;
  if (!ParseInt(rest, number) || number < 1 || number > 16) number = 1;
  return "COM" + std::to_string(number);
}
