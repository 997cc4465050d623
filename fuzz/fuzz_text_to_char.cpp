// TextToChar against a model written from its contract, and the round trip
// of every character through CharToText.
#include "fuzz/fuzz_check.h"
#include "serial/com_types.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

char Model(const std::string& text) {
  if (text.empty()) return 0;
  if (text[0] != '#' || text.size() == 1) return text[0];
  size_t i = 1;
  bool negative = false;
  if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
  if (i == text.size()) return 0;
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return 0;
    value = value * 10 + (text[i] - '0');
    if (value > (int64_t{1} << 32)) return 0;  // beyond any 32-bit integer
  }
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return 0;
  return static_cast<char>(static_cast<uint32_t>(value) & 0xFFu);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  FUZZ_CHECK(TextToChar(text) == Model(text));
  if (size > 0) {
    const char c = static_cast<char>(data[0]);
    FUZZ_CHECK(TextToChar(CharToText(c)) == c);
  }
  return 0;
}
