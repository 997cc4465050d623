// The port settings' text forms: every text gives a value of the right
// enumeration, letter case never matters, and every value's own text reads
// back as that value.
#include "fuzz/fuzz_check.h"
#include "serial/com_types.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}
std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

template <typename E>
void CheckForm(const std::string& text, int count, E (*parse)(const std::string&), std::string (*print)(E)) {
  const E value = parse(text);
  FUZZ_CHECK(static_cast<int>(value) >= 0 && static_cast<int>(value) < count);
  FUZZ_CHECK(parse(Lower(text)) == value);
  FUZZ_CHECK(parse(Upper(text)) == value);
  // A text that names a value names the one whose text it is.
  for (int i = 0; i < count; ++i) {
    const E e = static_cast<E>(i);
    FUZZ_CHECK(parse(print(e)) == e);
    if (Upper(text) == Upper(print(e))) FUZZ_CHECK(value == e);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  CheckForm(text, BaudRateCount, TextToBaudRate, BaudRateToText);
  CheckForm(text, StopBitsCount, TextToStopBits, StopBitsToText);
  CheckForm(text, DataBitsCount, TextToDataBits, DataBitsToText);
  CheckForm(text, ParityBitsCount, TextToParity, ParityToText);
  CheckForm(text, FlowControlCount, TextToFlowControl, FlowControlToText);
  CheckForm(text, DTRFlowControlCount, TextToDtrControl, DtrControlToText);
  CheckForm(text, RTSFlowControlCount, TextToRtsControl, RtsControlToText);
  FUZZ_CHECK(TextToBool(text) == (Upper(text) == "YES"));
  FUZZ_CHECK(TextToBool(BoolToText(TextToBool(text))) == TextToBool(text));
  return 0;
}
