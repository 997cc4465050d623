// The Windows-1250 codec and the dump text: every byte string decodes to as
// many characters and encodes back unchanged; encoding any UTF-16 text either
// gives bytes that decode to it or names the first character without a byte;
// a dump's text, read whole or in pieces, splits into the lines a dump file
// would be written from.
#include "app/cp1250.h"
#include "app/dump_file.h"
#include "app/dump_text.h"
#include "fuzz/fuzz_check.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The reference: one UTF-16 unit per byte, straight from the table.
QString Decode(std::string_view bytes) {
  QString text;
  for (unsigned char b : bytes) text += QChar(b == 0 ? kNulSymbol : kCp1250ToUnicode[b]);
  return text;
}

std::string_view View(const QByteArray& bytes) { return {bytes.constData(), static_cast<size_t>(bytes.size())}; }

// Bytes into the pane's UTF-8 and back out: the same bytes.
void BytesRoundTrip(std::string_view bytes) {
  std::string utf8;
  AppendCp1250AsUtf8(utf8, bytes);
  FUZZ_CHECK(utf8.size() == Cp1250Utf8Size(bytes));
  FUZZ_CHECK(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())) == Decode(bytes));
  std::string back;
  FUZZ_CHECK(!AppendLineBytes(utf8, 0, back).has_value());
  FUZZ_CHECK(back == bytes);
}

// Any UTF-16 text either encodes to bytes that decode to it, or the first
// character without a byte is named, a surrogate pair whole.
void TextEncoding(std::string_view raw) {
  QString text;
  for (size_t i = 0; i + 1 < raw.size(); i += 2)
    text += QChar(static_cast<char16_t>(static_cast<unsigned char>(raw[i]) | static_cast<unsigned char>(raw[i + 1]) << 8));
  // The pane holds UTF-8: a lone surrogate cannot be in it, U+FFFD stands there.
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
      ++i;
    else if (text[i].isSurrogate())
      text[i] = QChar(QChar::ReplacementCharacter);
  }
  qsizetype firstBad = -1;
  for (qsizetype i = 0; i < text.size() && firstBad < 0; ++i)
    if (!EncodeCp1250Code(text[i].unicode())) firstBad = i;
  std::string bytes;
  const std::optional<UnencodableChar> found = AppendLineBytes(View(text.toUtf8()), 4, bytes);
  if (firstBad < 0) {
    FUZZ_CHECK(!found.has_value());
    FUZZ_CHECK(static_cast<qsizetype>(bytes.size()) == text.size());
    const QString again = Decode(bytes);
    for (qsizetype i = 0; i < text.size(); ++i) {
      const char16_t c = text[i].unicode();
      FUZZ_CHECK(again[i].unicode() == (c == 0 ? kNulSymbol : c));
    }
  } else {
    FUZZ_CHECK(found.has_value());
    FUZZ_CHECK(found->line == 4);
    FUZZ_CHECK(found->column == firstBad);
    FUZZ_CHECK(found->character == text.mid(firstBad, text[firstBad].isSurrogate() ? 2 : 1));
    FUZZ_CHECK(!UnencodableMessage(*found).isEmpty());
  }
}

// CR LF, a lone CR and a lone LF each end a line.
std::vector<std::string> ModelLines(std::string_view bytes) {
  std::vector<std::string> lines;
  std::string line;
  bool open = false;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
      lines.push_back(line);
      line.clear();
      open = false;
    } else {
      line += c;
      open = true;
    }
  }
  if (open) lines.push_back(line);
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
  const std::vector<std::string> model = ModelLines(bytes);
  QStringList expectedLines;
  for (const std::string& line : model) expectedLines << Decode(line);
  FUZZ_CHECK(lines == expectedLines);
  // Saving those lines gives each line's bytes, then CR LF.
  std::string expected;
  for (const std::string& line : model) expected += line + "\r\n";
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
