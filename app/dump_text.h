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
QStringList MemoLines(const QPlainTextEdit& memo);
