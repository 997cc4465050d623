// Dump files as text: bytes into the text pane and the pane's lines out.
#pragma once

#include <QString>
#include <QStringList>

#include <string_view>

class QPlainTextEdit;

// Decodes a dump (Windows-1250) for the text pane. CR LF, a lone CR and a lone
// LF each end a line and become '\n'; a final line end stays, so the pane
// holds the file's text as it is.
QString DumpBytesToText(std::string_view bytes);

// The pane's lines: its text split at the line breaks, where the empty rest
// after a final line break is no line (so an empty pane has none). The text
// is taken raw: a no-break space stays U+00A0.
// U+2028 and U+2029 (which Shift+Enter or a paste may bring) count as line
// breaks: Windows-1250 has no byte for them.
QStringList MemoLines(const QPlainTextEdit& memo);

// Turns every U+2028 / U+2029 inside the pane's lines into a real line break,
// so each line of the pane is one line of the dump.
void SplitAtLineSeparators(QPlainTextEdit& memo);

// Makes Shift+Enter in the pane break the line as Enter does.
void KeepLineBreaksPlain(QPlainTextEdit& memo);
