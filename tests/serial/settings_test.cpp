// Settings objects, presets and text forms, without a device.
#include "serial/serial.h"

#include <gtest/gtest.h>

TEST(SerialSettings, PortDefaults) {
  TComPort port(nullptr);
  EXPECT_EQ(port.Port(), "COM1");
  EXPECT_EQ(port.BaudRate(), br9600);
  EXPECT_EQ(port.CustomBaudRate(), 9600);
  EXPECT_EQ(port.StopBits(), sbOneStopBit);
  EXPECT_EQ(port.DataBits(), dbEight);
  EXPECT_FALSE(port.DiscardNull());
  EXPECT_EQ(port.EventChar(), '\0');
  EXPECT_EQ(port.Events().ToBits(), 1023);
  EXPECT_EQ(port.SyncMethod(), smThreadSync);
  EXPECT_EQ(port.StoredGroups(), TStoredGroups{sgBasic});
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.DeviceHandle(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(port.Parity().Bits(), prNone);
  EXPECT_EQ(port.FlowControl().FlowControl(), fcNone);
  EXPECT_EQ(port.FlowControl().XonChar(), 17);
  EXPECT_EQ(port.FlowControl().XoffChar(), 19);
  EXPECT_EQ(port.Timeouts().ReadInterval(), -1);
  EXPECT_EQ(port.Timeouts().WriteTotalMultiplier(), 100);
  EXPECT_EQ(port.Timeouts().WriteTotalConstant(), 1000);
  EXPECT_EQ(port.Buffer().InputSize(), 1024);
  EXPECT_EQ(port.Buffer().OutputSize(), 1024);
  EXPECT_EQ(port.Parity().ComPort(), &port);
  EXPECT_EQ(port.Buffer().ComPort(), &port);
  EXPECT_EQ(TComParity().ComPort(), nullptr);
}

TEST(SerialSettings, FlowPresetReadsOnlyItsFourFields) {
  TComFlowControl flow;
  EXPECT_EQ(flow.FlowControl(), fcNone);
  flow.SetControlDTR(dtrHandshake);
  EXPECT_EQ(flow.FlowControl(), fcNone);
  flow.SetOutDSRFlow(true);
  flow.SetDSRSensitivity(true);
  flow.SetTxContinueOnXoff(true);
  EXPECT_EQ(flow.FlowControl(), fcNone);
  flow.SetXonXoffOut(true);
  EXPECT_EQ(flow.FlowControl(), fcCustom);
  flow.SetXonXoffIn(true);
  EXPECT_EQ(flow.FlowControl(), fcSoftware);
  flow.SetControlRTS(rtsEnable);
  EXPECT_EQ(flow.FlowControl(), fcCustom);
}

TEST(SerialSettings, FlowPresetWritesItsFields) {
  TComFlowControl flow;
  flow.SetControlDTR(dtrEnable);
  flow.SetFlowControl(fcHardware);
  EXPECT_EQ(flow.FlowControl(), fcHardware);
  EXPECT_EQ(flow.ControlRTS(), rtsHandshake);
  EXPECT_TRUE(flow.OutCTSFlow());
  EXPECT_EQ(flow.ControlDTR(), dtrEnable);  // not part of the preset

  flow.SetFlowControl(fcSoftware);
  EXPECT_EQ(flow.FlowControl(), fcSoftware);
  EXPECT_EQ(flow.ControlRTS(), rtsDisable);
  EXPECT_FALSE(flow.OutCTSFlow());

  flow.SetControlRTS(rtsToggle);
  flow.SetFlowControl(fcCustom);  // leaves every field as it was
  EXPECT_EQ(flow.ControlRTS(), rtsToggle);
  EXPECT_TRUE(flow.XonXoffIn());
  EXPECT_TRUE(flow.XonXoffOut());

  flow.SetFlowControl(fcNone);
  EXPECT_EQ(flow.FlowControl(), fcNone);
  EXPECT_EQ(flow.ControlRTS(), rtsDisable);
  EXPECT_FALSE(flow.XonXoffIn());
}

TEST(SerialSettings, BufferSizesLoseAnOddUnit) {
  TComBuffer buffer;
  buffer.SetInputSize(1025);
  EXPECT_EQ(buffer.InputSize(), 1024);
  buffer.SetInputSize(1023);
  EXPECT_EQ(buffer.InputSize(), 1022);
  buffer.SetInputSize(-3);
  EXPECT_EQ(buffer.InputSize(), -3);
  buffer.SetInputSize(1);
  EXPECT_EQ(buffer.InputSize(), 0);
  buffer.SetOutputSize(4097);
  EXPECT_EQ(buffer.OutputSize(), 4096);
}

TEST(SerialSettings, AssignCopiesWithinTheSameClassOnly) {
  TComParity a, b;
  a.SetBits(prMark);
  a.SetCheck(true);
  a.SetReplace(true);
  a.SetReplaceChar('?');
  b.Assign(&a);
  EXPECT_EQ(b.Bits(), prMark);
  EXPECT_TRUE(b.Check());
  EXPECT_TRUE(b.Replace());
  EXPECT_EQ(b.ReplaceChar(), '?');

  TComFlowControl f, g;
  f.SetFlowControl(fcHardware);
  f.SetXonChar('A');
  g.Assign(&f);
  EXPECT_EQ(g.FlowControl(), fcHardware);
  EXPECT_EQ(g.XonChar(), 'A');

  TComTimeouts t, u;
  t.SetReadTotalConstant(55);
  u.Assign(&t);
  EXPECT_EQ(u.ReadTotalConstant(), 55);

  TComBuffer buffer;
  EXPECT_THROW(buffer.Assign(&t), EConvertError);
  EXPECT_THROW(a.Assign(&buffer), EConvertError);
}

TEST(SerialSettings, PortReplacesSettingsObjectsByCopy) {
  TComPort port(nullptr);
  TComParity* own = &port.Parity();
  TComParity other;
  other.SetBits(prEven);
  port.SetParity(other);
  EXPECT_EQ(&port.Parity(), own);  // the port keeps its own object
  EXPECT_EQ(port.Parity().Bits(), prEven);
  EXPECT_EQ(port.Parity().ComPort(), &port);
  other.SetBits(prOdd);
  EXPECT_EQ(port.Parity().Bits(), prEven);
}

TEST(SerialText, EnumerationsRoundTrip) {
  for (int i = 0; i < BaudRateCount; ++i)
    EXPECT_EQ(TextToBaudRate(BaudRateToText(static_cast<TBaudRate>(i))), i);
  for (int i = 0; i < StopBitsCount; ++i)
    EXPECT_EQ(TextToStopBits(StopBitsToText(static_cast<TStopBits>(i))), i);
  for (int i = 0; i < DataBitsCount; ++i)
    EXPECT_EQ(TextToDataBits(DataBitsToText(static_cast<TDataBits>(i))), i);
  for (int i = 0; i < ParityBitsCount; ++i)
    EXPECT_EQ(TextToParity(ParityToText(static_cast<TParityBits>(i))), i);
  for (int i = 0; i < FlowControlCount; ++i)
    EXPECT_EQ(TextToFlowControl(FlowControlToText(static_cast<TFlowControl>(i))), i);
  for (int i = 0; i < DTRFlowControlCount; ++i)
    EXPECT_EQ(TextToDtrControl(DtrControlToText(static_cast<TDTRFlowControl>(i))), i);
  for (int i = 0; i < RTSFlowControlCount; ++i)
    EXPECT_EQ(TextToRtsControl(RtsControlToText(static_cast<TRTSFlowControl>(i))), i);

  EXPECT_EQ(BaudRateToText(brCustom), "Custom");
  EXPECT_EQ(BaudRateToText(br256000), "256000");
  EXPECT_EQ(StopBitsToText(sbOne5StopBits), "1.5");
  EXPECT_EQ(ParityToText(prSpace), "Space");
  EXPECT_EQ(FlowControlToText(fcHardware), "Hardware");
  EXPECT_EQ(RtsControlToText(rtsToggle), "Toggle");
  EXPECT_EQ(DtrControlToText(dtrHandshake), "Handshake");
}

TEST(SerialText, ParsersIgnoreCaseAndFallBack) {
  EXPECT_EQ(TextToBaudRate("custom"), brCustom);
  EXPECT_EQ(TextToBaudRate("CuStOm"), brCustom);
  EXPECT_EQ(TextToBaudRate("1200"), br1200);
  EXPECT_EQ(TextToBaudRate("1201"), br9600);
  EXPECT_EQ(TextToBaudRate(""), br9600);
  EXPECT_EQ(TextToStopBits("1.5"), sbOne5StopBits);
  EXPECT_EQ(TextToStopBits("3"), sbOneStopBit);
  EXPECT_EQ(TextToDataBits("9"), dbEight);
  EXPECT_EQ(TextToDataBits("5"), dbFive);
  EXPECT_EQ(TextToParity("even"), prEven);
  EXPECT_EQ(TextToParity("Hardware"), prNone);
  EXPECT_EQ(TextToFlowControl(""), fcCustom);
  EXPECT_EQ(TextToFlowControl("none"), fcNone);  // its own "None", not parity's
  EXPECT_EQ(TextToFlowControl("SOFTWARE"), fcSoftware);
  EXPECT_EQ(TextToDtrControl("handshake"), dtrHandshake);
  EXPECT_EQ(TextToDtrControl("Toggle"), dtrDisable);
  EXPECT_EQ(TextToRtsControl("toggle"), rtsToggle);
  EXPECT_EQ(TextToRtsControl("x"), rtsDisable);
}

TEST(SerialText, Booleans) {
  EXPECT_EQ(BoolToText(true), "Yes");
  EXPECT_EQ(BoolToText(false), "No");
  EXPECT_TRUE(TextToBool("Yes"));
  EXPECT_TRUE(TextToBool("YES"));
  EXPECT_TRUE(TextToBool("yes"));
  EXPECT_FALSE(TextToBool("No"));
  EXPECT_FALSE(TextToBool("1"));
  EXPECT_FALSE(TextToBool("true"));
  EXPECT_FALSE(TextToBool("yes "));
}

TEST(SerialText, Characters) {
  EXPECT_EQ(CharToText(17), "#17");
  EXPECT_EQ(CharToText(0), "#0");
  EXPECT_EQ(CharToText(13), "#13");
  EXPECT_EQ(CharToText(' '), "#32");
  EXPECT_EQ(CharToText('!'), "!");
  EXPECT_EQ(CharToText('A'), "A");
  EXPECT_EQ(CharToText(127), std::string(1, '\x7f'));
  EXPECT_EQ(CharToText(static_cast<char>(128)), "#128");
  EXPECT_EQ(CharToText(static_cast<char>(200)), "#200");
  EXPECT_EQ(CharToText(static_cast<char>(255)), "#255");

  EXPECT_EQ(TextToChar(""), '\0');
  EXPECT_EQ(TextToChar("#65"), 'A');
  EXPECT_EQ(TextToChar("#300"), 44);
  EXPECT_EQ(TextToChar("#x"), '\0');
  EXPECT_EQ(TextToChar("#12x"), '\0');
  EXPECT_EQ(TextToChar("AB"), 'A');
  EXPECT_EQ(TextToChar("#"), '#');
  EXPECT_EQ(TextToChar("#200"), static_cast<char>(200));
  EXPECT_EQ(TextToChar("#99999999999"), '\0');  // not a 32-bit integer
  for (int code = 0; code < 256; ++code)
    EXPECT_EQ(TextToChar(CharToText(static_cast<char>(code))), static_cast<char>(code)) << code;
}

TEST(SerialText, PortNames) {
  EXPECT_EQ(NormalizePortName("com3"), "COM3");
  EXPECT_EQ(NormalizePortName("Com3"), "COM3");
  EXPECT_EQ(NormalizePortName("7"), "COM7");
  EXPECT_EQ(NormalizePortName("COM16"), "COM16");
  EXPECT_EQ(NormalizePortName("COM03"), "COM3");
  for (const char* bad : {"COM17", "COM0", "LPT1", "COM", "", "COM1x", "COM-2", " COM2", "COM 2"})
    EXPECT_EQ(NormalizePortName(bad), "COM1") << bad;
}

TEST(SerialText, SetsAndMasks) {
  EXPECT_EQ(EventSetToMask(AllComEvents), 0x07FFu & ~0x0200u);
  EXPECT_EQ(MaskToEventSet(0xFFFFFFFFu), AllComEvents);
  EXPECT_EQ(EventSetToMask(TComEvents{evTxEmpty}), static_cast<DWORD>(EV_TXEMPTY));
  EXPECT_EQ(EventSetToMask(TComEvents{evRxFlag}), static_cast<DWORD>(EV_RXFLAG));
  EXPECT_EQ(MaskToEventSet(EV_RING | EV_RX80FULL), (TComEvents{evRing, evRx80Full}));
  EXPECT_TRUE(MaskToEventSet(EV_PERR).Empty());

  // CE_IOE 0x0400 and CE_MODE 0x8000; 0x0200 (DNS) and 0x0020 are dropped.
  EXPECT_EQ(ErrorWordToErrors(0x8400u | 0x0200u | 0x0020u, false), (TComErrors{erIO, erMode}));
  EXPECT_EQ(ErrorWordToErrors(CE_RXPARITY | CE_FRAME, false), TComErrors{erFrame});
  EXPECT_EQ(ErrorWordToErrors(CE_RXPARITY | CE_FRAME, true), (TComErrors{erFrame, erRxParity}));
  EXPECT_EQ(ErrorWordToErrors(CE_RXOVER | CE_OVERRUN | CE_BREAK | CE_TXFULL, false).ToBits(), 0x04 | 0x08 | 0x40 | 0x80);
  EXPECT_EQ(ModemWordToSignals(MS_CTS_ON | MS_RLSD_ON), (TModemSignals{msCTS, msRLSD}));
  EXPECT_EQ(ModemWordToSignals(MS_DSR_ON | MS_RING_ON).ToBits(), 0x02 | 0x04);

  TComEvents events;
  EXPECT_TRUE(events.Empty());
  events.Include(evCTS).Include(evError);
  EXPECT_TRUE(events.Contains(evCTS));
  events.Exclude(evCTS);
  EXPECT_EQ(events, TComEvents{evError});
}

TEST(SerialErrors, MessagesAndCodes) {
  EComPort withCode(ecOpenFailed, 2);
  EXPECT_EQ(withCode.Code(), 1);
  EXPECT_EQ(withCode.WinErrorCode(), 2);
  EXPECT_STREQ(withCode.what(), "Unable to open com port (win error code: 2)");
  EComPort without(ecSyncMethod);
  EXPECT_EQ(without.WinErrorCode(), -1);
  EXPECT_EQ(without.Message(), "Cannot set SyncMethod while connected");
  EXPECT_EQ(ComErrorMessage(8), "SetCommTimeouts failed");
  EXPECT_EQ(ComErrorMessage(21), "WaitForEvent method failed");
  EXPECT_EQ(ComErrorMessage(19), "Cannot change led state if ComPort is selected");
  EXPECT_EQ(ComErrorMessage(0), "");
  EXPECT_EQ(ComErrorMessage(22), "");
}
