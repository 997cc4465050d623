// Dump files: the pane's lines as Windows-1250 bytes, each line followed by
// CR LF, written so that a failure never leaves a damaged file behind.
#pragma once

#include <QString>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

// A character of the pane that Windows-1250 has no byte for.
struct UnencodableChar {
  qsizetype line = 0;    // 0-based
  qsizetype column = 0;  // 0-based, in UTF-16 units
  QString character;     // the whole character (a surrogate pair stays whole)
};

// Appends the Windows-1250 bytes of one line of pane text (UTF-8) to
// `out`. A character without a byte ends it: that character is returned
// (with `lineIndex` as its line) and `out` holds part of the line.
std::optional<UnencodableChar> AppendLineBytes(std::string_view line, qsizetype lineIndex, std::string& out);

// The first character of pane text (UTF-8) that cannot be encoded, if any;
// lines as ForEachLine (app/dump_text.h) splits them.
std::optional<UnencodableChar> FindUnencodable(std::string_view text);

// "Řádek 12 obsahuje na pozici 3 znak „→“ (U+2192), který v kódu
// Windows-1250 není." — which line, where and what.
QString UnencodableMessage(const UnencodableChar& bad);

// Receives the bytes of a file in pieces, in order.
using ByteSink = std::function<void(std::string_view piece)>;

// The dump's bytes for pane text (UTF-8): each line, then CR LF, handed to
// `write` in pieces of some hundred kilobytes. Throws Exception with
// UnencodableMessage (and that the file was not saved) when a line holds a
// character without a byte.
void EncodeDumpText(std::string_view text, const ByteSink& write);
std::string EncodeDumpText(std::string_view text);

// Writes `bytes` to `path` through a temporary file in the same directory
// (written, flushed to the disk, then renamed over the target), so the
// target is either the old file or the whole new one. A symbolic link is
// followed and its target replaced; an existing file keeps its permissions.
// Throws Exception with a Czech message naming the file and the system's
// reason; the temporary file is removed then.
// The bytes come from `produce`, which hands them to the sink it is given;
// an exception from it leaves the target as it was.
void WriteFileAtomically(const QString& path, const std::function<void(const ByteSink&)>& produce);
void WriteFileAtomically(const QString& path, std::string_view bytes);

// EncodeDumpText + WriteFileAtomically, piece by piece: saving takes no
// second copy of the text.
void SaveDumpFile(const QString& path, std::string_view text);
