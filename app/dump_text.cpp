#include "app/dump_text.h"

#include "app/cp1250.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextDocument>

QString DumpBytesToText(std::string_view bytes) {
  QString text = DecodeCp1250(bytes);
  // Line ends are single code units, so normalising in place only shrinks.
  char16_t* data = reinterpret_cast<char16_t*>(text.data());
  const qsizetype n = text.size();
  qsizetype out = 0;
  for (qsizetype i = 0; i < n; ++i) {
    const char16_t c = data[i];
    if (c == u'\r') {
      data[out++] = u'\n';
      if (i + 1 < n && data[i + 1] == u'\n') ++i;
    } else {
      data[out++] = c;
    }
  }
  text.truncate(out);
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
