// The Windows-1250 codec and the dump text: every byte string decodes to as
// many characters and encodes back unchanged; encoding any UTF-16 text either
// gives bytes that decode to it or names the first character without a byte;
// a dump's text, read whole or in pieces, splits into the lines a dump file
// would be written from.
#include "app/cp1250.h"
#include "app/dump_file.h"
#include "app/dump_text.h"
#include "fuzz/fuzz_check.h"

#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

void BytesRoundTrip(std::string_view bytes) {
  const QString text = DecodeCp1250(bytes);
  FUZZ_CHECK(static_cast<size_t>(text.size()) == bytes.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(bytes[static_cast<size_t>(i)]);
    FUZZ_CHECK(text[i].unicode() == (b == 0 ? kNulSymbol : kCp1250ToUnicode[b]));
  }
  const std::optional<std::string> back = EncodeCp1250(text);
  FUZZ_CHECK(back.has_value());
  FUZZ_CHECK(*back == bytes);
}

void TextEncoding(std::string_view raw) {
  QString text;
  for (size_t i = 0; i + 1 < raw.size(); i += 2)
    text += QChar(static_cast<char16_t>(static_cast<unsigned char>(raw[i]) | static_cast<unsigned char>(raw[i + 1]) << 8));
  qsizetype bad = -1;
  const std::optional<std::string> bytes = EncodeCp1250(text, &bad);
  qsizetype firstBad = -1;
  for (qsizetype i = 0; i < text.size() && firstBad < 0; ++i)
    if (!EncodeCp1250Char(text[i].unicode())) firstBad = i;
  if (bytes) {
    FUZZ_CHECK(firstBad < 0);
    FUZZ_CHECK(static_cast<qsizetype>(bytes->size()) == text.size());
    const QString again = DecodeCp1250(*bytes);
    for (qsizetype i = 0; i < text.size(); ++i) {
      const char16_t c = text[i].unicode();
      FUZZ_CHECK(again[i].unicode() == (c == 0 ? kNulSymbol : c));
    }
  } else {
    FUZZ_CHECK(bad == firstBad);
    // The pane's line-level report (on its UTF-8, where a lone surrogate is
    // U+FFFD) names the same place, a surrogate pair whole.
    const QByteArray utf8 = text.toUtf8();
    std::string out;
    const std::optional<UnencodableChar> found =
        AppendLineBytes(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())), 4, out);
    FUZZ_CHECK(found.has_value());
    FUZZ_CHECK(found->line == 4);
    FUZZ_CHECK(found->column == bad);
    FUZZ_CHECK(!found->character.isEmpty() && (found->character[0] == text[bad] || text[bad].isSurrogate()));
    FUZZ_CHECK(!UnencodableMessage(*found).isEmpty());
  }
}

// CR LF, a lone CR and a lone LF each end a line.
QStringList ModelLines(std::string_view bytes) {
  QStringList lines;
  std::string line;
  bool open = false;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
      lines << DecodeCp1250(line);
      line.clear();
      open = false;
    } else {
      line += c;
      open = true;
    }
  }
  if (open) lines << DecodeCp1250(line);
  return lines;
}

void DumpText(std::string_view bytes) {
  // Decoded in two pieces, cut where the input says: the same text.
  const size_t cut = bytes.empty() ? 0 : static_cast<unsigned char>(bytes[0]) % (bytes.size() + 1);
  DumpDecoder decoder;
  std::string text;
  decoder.Decode(bytes.substr(0, cut), text);
  decoder.Decode(bytes.substr(cut), text);
  FUZZ_CHECK(text == DumpBytesToUtf8(bytes));
  FUZZ_CHECK(text.find('\r') == std::string::npos);
  QStringList lines;
  ForEachLine(text, [&](std::string_view line) {
    lines << QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
  });
  const QStringList model = ModelLines(bytes);
  FUZZ_CHECK(lines == model);
  // Saving those lines gives each line's bytes, then CR LF.
  std::string expected;
  for (const QString& line : model) expected += *EncodeCp1250(line) + "\r\n";
  FUZZ_CHECK(EncodeDumpText(text) == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  BytesRoundTrip(bytes);
  TextEncoding(bytes);
  DumpText(bytes);
  return 0;
}
