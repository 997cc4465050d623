// Windows-1250 text: the code page of dump files and of the exchange's data.
//
// The table round-trips all 256 byte values: the five bytes Windows-1250
// leaves unassigned (0x81, 0x83, 0x88, 0x90, 0x98) map to the C1 code points
// of the same number. Byte 0 is shown as U+2400 (SYMBOL FOR NULL), because a
// text pane cannot hold NUL; encoding turns U+2400 (and U+0000) back into 0.
#pragma once

#include <QString>
#include <QStringView>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The Unicode code point of each byte (byte 0 gives U+0000 here; see
// DecodeCp1250 for how NUL is shown).
extern const std::array<char16_t, 256> kCp1250ToUnicode;

// The code point shown in place of NUL.
inline constexpr char16_t kNulSymbol = u'\u2400';

// Bytes to text; every byte gives exactly one UTF-16 unit, NUL gives U+2400.
QString DecodeCp1250(std::string_view bytes);

// The byte for one UTF-16 unit, or nothing when the table has none.
std::optional<uint8_t> EncodeCp1250Char(char16_t ch);

// Text to bytes. When a character has no byte, gives nothing and sets
// *badPosition (if given) to its index in `text`.
std::optional<std::string> EncodeCp1250(QStringView text, qsizetype* badPosition = nullptr);
