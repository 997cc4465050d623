#include "app/dump_text.h"

#include "app/cp1250.h"

#include <algorithm>

#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace {

bool IsSeparator(QChar c) { return c == QChar::LineSeparator || c == QChar::ParagraphSeparator; }

class PlainLineBreaks : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) || !(key->modifiers() & Qt::ShiftModifier))
      return false;
    auto* memo = qobject_cast<QPlainTextEdit*>(watched);
    if (!memo || memo->isReadOnly()) return false;
    QTextCursor cursor = memo->textCursor();
    cursor.insertBlock();
    memo->setTextCursor(cursor);
    memo->ensureCursorVisible();
    return true;
  }
};

}  // namespace

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
  for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
    const QString text = block.text();
    if (std::find_if(text.begin(), text.end(), IsSeparator) == text.end()) {
      lines.append(text);
      continue;
    }
    qsizetype from = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
      if (!IsSeparator(text[i])) continue;
      lines.append(text.mid(from, i - from));
      from = i + 1;
    }
    lines.append(text.mid(from));
  }
  if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  return lines;
}

void SplitAtLineSeparators(QPlainTextEdit& memo) {
  QTextDocument* doc = memo.document();
  QTextCursor edit(doc);
  bool editing = false;
  for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
    for (;;) {
      const QString text = block.text();
      const auto at = std::find_if(text.begin(), text.end(), IsSeparator);
      if (at == text.end()) break;
      if (!editing) {
        edit.beginEditBlock();
        editing = true;
      }
      edit.setPosition(block.position() + static_cast<int>(at - text.begin()));
      edit.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
      edit.insertBlock();
      block = edit.block();  // the rest of the line, now a block of its own
    }
  }
  if (editing) edit.endEditBlock();
}

void KeepLineBreaksPlain(QPlainTextEdit& memo) { memo.installEventFilter(new PlainLineBreaks(&memo)); }
