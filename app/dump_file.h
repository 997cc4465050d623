// Dump files: the pane's lines as Windows-1250 bytes, each line followed by
// CR LF, written so that a failure never leaves a damaged file behind.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <string>
#include <string_view>

// A character of the pane that Windows-1250 has no byte for.
struct UnencodableChar {
  qsizetype line = 0;    // 0-based
  qsizetype column = 0;  // 0-based, in UTF-16 units
  QString character;     // the whole character (a surrogate pair stays whole)
};

// The first character of `lines` that cannot be encoded, if any.
std::optional<UnencodableChar> FindUnencodable(const QStringList& lines);
std::optional<UnencodableChar> FindUnencodable(const QString& line, qsizetype lineIndex);

// "Řádek 12 obsahuje na pozici 3 znak „→“ (U+2192), který v kódu
// Windows-1250 není." — which line, where and what.
QString UnencodableMessage(const UnencodableChar& bad);

// The dump's bytes: each line, then CR LF. Throws Exception with
// UnencodableMessage (and that nothing was saved) when a line holds a
// character without a byte.
std::string EncodeDumpLines(const QStringList& lines);

// Writes `bytes` to `path` through a temporary file in the same directory
// (written, flushed to the disk, then renamed over the target), so the
// target is either the old file or the whole new one. A symbolic link is
// followed and its target replaced; an existing file keeps its permissions.
// Throws Exception with a Czech message naming the file and the system's
// reason; the temporary file is removed then.
void WriteFileAtomically(const QString& path, std::string_view bytes);

// EncodeDumpLines + WriteFileAtomically.
void SaveDumpFile(const QString& path, const QStringList& lines);
