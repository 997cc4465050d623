#include "app/dump_text.h"

#include "app/cp1250.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextDocument>

QString DumpBytesToText(std::string_view bytes) {
  // One pass: decode and turn each line end into '\n' (only ever shrinks).
  QString text(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
  char16_t* const begin = reinterpret_cast<char16_t*>(text.data());
  char16_t* out = begin;
  const size_t n = bytes.size();
  for (size_t i = 0; i < n; ++i) {
    const unsigned char b = static_cast<unsigned char>(bytes[i]);
    if (b == '\r') {
      *out++ = u'\n';
      if (i + 1 < n && bytes[i + 1] == '\n') ++i;
    } else {
      *out++ = b == 0 ? kNulSymbol : kCp1250ToUnicode[b];
    }
  }
  text.truncate(out - begin);
  return text;
}

QStringList MemoLines(const QPlainTextEdit& memo) {
  QStringList lines;
  const QTextDocument* doc = memo.document();
  lines.reserve(doc->blockCount());
  for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) lines.append(block.text());
  if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  return lines;
}
