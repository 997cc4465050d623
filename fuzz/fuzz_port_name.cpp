// NormalizePortName against a model written from its contract: an optional
// "COM" in any letter case, then a decimal number 1..16 (sign and leading
// zeros allowed); anything else gives "COM1".
#include "fuzz/fuzz_check.h"
#include "serial/com_types.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

std::string Model(const std::string& text) {
  std::string rest = text;
  if (text.size() >= 3 && (text[0] | 0x20) == 'c' && (text[1] | 0x20) == 'o' && (text[2] | 0x20) == 'm')
    rest = text.substr(3);
  size_t i = 0;
  bool negative = false;
  if (i < rest.size() && (rest[i] == '+' || rest[i] == '-')) negative = rest[i++] == '-';
  if (i == rest.size()) return "COM1";
  int value = 0;
  for (; i < rest.size(); ++i) {
    if (rest[i] < '0' || rest[i] > '9') return "COM1";
    value = value * 10 + (rest[i] - '0');
    if (value > 16) value = 17;  // out of range for good; keeps the model small
  }
  if (negative || value < 1 || value > 16) return "COM1";
  return "COM" + std::to_string(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string name = NormalizePortName(text);
  FUZZ_CHECK(name == Model(text));
  FUZZ_CHECK(NormalizePortName(name) == name);
  return 0;
}
