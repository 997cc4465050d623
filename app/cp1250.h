// Windows-1250 text: the code page of dump files and of the exchange's data.
//
// The table round-trips all 256 byte values: the five bytes Windows-1250
// leaves unassigned (0x81, 0x83, 0x88, 0x90, 0x98) map to the C1 code points
// of the same number. Byte 0 is shown as U+2400 (SYMBOL FOR NULL), because a
// text pane cannot hold NUL; encoding turns U+2400 (and U+0000) back into 0.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The Unicode code point of each byte (byte 0 gives U+0000 here; the
// pane shows it as kNulSymbol).
extern const std::array<char16_t, 256> kCp1250ToUnicode;

// The code point shown in place of NUL.
inline constexpr char16_t kNulSymbol = u'\u2400';

// The byte for one code point, or nothing when the table has none.
std::optional<uint8_t> EncodeCp1250Code(char32_t code);

// The text pane keeps its text as UTF-8.

// Appends the UTF-8 form of Windows-1250 bytes (NUL as U+2400).
void AppendCp1250AsUtf8(std::string& out, std::string_view bytes);
// How many bytes that form takes.
size_t Cp1250Utf8Size(std::string_view bytes);

// The code point that starts at `at` in UTF-8 text; `at` moves past it. A
// byte that starts no valid sequence gives U+FFFD and moves one byte.
char32_t NextCodePoint(std::string_view text, size_t& at);
