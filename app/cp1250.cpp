#include "app/cp1250.h"

namespace {

// 0x80..0xFF of Windows-1250; unassigned bytes carry their own C1 code point.
constexpr char16_t kHigh[128] = {
    0x20AC, 0x0081, 0x201A, 0x0083, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x0088, 0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179,  // 88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A,  // 98
    0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7,  // A0
    0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,  // A8
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C,  // B8
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,  // C0
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E,  // C8
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7,  // D0
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,  // D8
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,  // E0
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F,  // E8
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,  // F0
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,  // F8
};

constexpr std::array<char16_t, 256> MakeTable() {
  std::array<char16_t, 256> t{};
  for (int i = 0; i < 128; ++i) t[i] = static_cast<char16_t>(i);
  for (int i = 0; i < 128; ++i) t[128 + i] = kHigh[i];
  return t;
}

// Reverse lookup: every code point of the table is below U+2200 except the
// few punctuation marks in U+2000..U+21FF, so one flat array covers them all.
struct ReverseTable {
  static constexpr int kSize = 0x2200;
  std::array<int16_t, kSize> byteOf{};
  ReverseTable() {
    byteOf.fill(-1);
    for (int b = 0; b < 256; ++b) byteOf[kCp1250ToUnicode[b]] = static_cast<int16_t>(b);
  }
};

const ReverseTable& Reverse() {
  static const ReverseTable table;
  return table;
}

}  // namespace

const std::array<char16_t, 256> kCp1250ToUnicode = MakeTable();

std::optional<uint8_t> EncodeCp1250Code(char32_t code) {
  if (code == kNulSymbol) return uint8_t{0};
  if (code >= ReverseTable::kSize) return std::nullopt;
  const int16_t b = Reverse().byteOf[code];
  if (b < 0) return std::nullopt;
  return static_cast<uint8_t>(b);
}

namespace {

// Each byte's UTF-8 form, at most three bytes.
struct Utf8Table {
  std::array<std::array<char, 3>, 256> bytes{};
  std::array<uint8_t, 256> size{};
  Utf8Table() {
    for (int b = 0; b < 256; ++b) {
      const char32_t c = b == 0 ? kNulSymbol : kCp1250ToUnicode[b];
      auto& out = bytes[b];
      if (c < 0x80) {
        out[0] = static_cast<char>(c);
        size[b] = 1;
      } else if (c < 0x800) {
        out[0] = static_cast<char>(0xC0 | (c >> 6));
        out[1] = static_cast<char>(0x80 | (c & 0x3F));
        size[b] = 2;
      } else {
        out[0] = static_cast<char>(0xE0 | (c >> 12));
        out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (c & 0x3F));
        size[b] = 3;
      }
    }
  }
};

const Utf8Table& Utf8() {
  static const Utf8Table table;
  return table;
}

}  // namespace

void AppendCp1250AsUtf8(std::string& out, std::string_view bytes) {
  const Utf8Table& table = Utf8();
  const size_t n = bytes.size();
  for (size_t i = 0; i < n;) {
    // Runs of ASCII (but NUL) are the same bytes in UTF-8.
    size_t end = i;
    while (end < n && static_cast<unsigned char>(bytes[end]) - 1u < 0x7Fu) ++end;
    out.append(bytes.data() + i, end - i);
    if (end == n) break;
    const auto b = static_cast<unsigned char>(bytes[end]);
    out.append(table.bytes[b].data(), table.size[b]);
    i = end + 1;
  }
}

size_t Cp1250Utf8Size(std::string_view bytes) {
  const Utf8Table& table = Utf8();
  size_t size = 0;
  for (unsigned char b : bytes) size += table.size[b];
  return size;
}

char32_t NextCodePoint(std::string_view text, size_t& at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) {
    ++at;
    return lead;
  }
  const size_t length = lead >= 0xF0 && lead < 0xF5 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  if (length == 0 || (length == 3 && lead >= 0xF0) || at + length > text.size()) {
    ++at;
    return 0xFFFD;
  }
  char32_t code = lead & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    const unsigned char next = byte(at + i);
    if ((next & 0xC0) != 0x80) {
      ++at;
      return 0xFFFD;
    }
    code = (code << 6) | (next & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are no characters.
  if ((length == 3 && code < 0x800) || (length == 4 && (code < 0x10000 || code > 0x10FFFF)) ||
      (code >= 0xD800 && code < 0xE000)) {
    ++at;
    return 0xFFFD;
  }
  at += length;
  return code;
}
