#include "app/memo.h"

#include <QFontDatabase>
#include <QFontMetrics>

#include <cstdint>

TMemo::TMemo(QWidget* parent) : QsciScintilla(parent) {
  // Text without styles: a byte per character, not two. The component hands
  // the new document's pointer back as a long, which holds one only where
  // long is as wide as a pointer; elsewhere the document keeps its styles.
  if constexpr (sizeof(long) >= sizeof(void*)) {
    const long document = SendScintilla(SCI_CREATEDOCUMENT, 0UL, static_cast<long>(SC_DOCUMENTOPTION_STYLES_NONE));
    if (document != 0) {
      SendScintilla(SCI_SETDOCPOINTER, 0UL, document);
      SendScintilla(SCI_RELEASEDOCUMENT, 0UL, document);  // the view holds it now
    }
  }
  setUtf8(true);
  setEolMode(EolUnix);
  // Every change notice makes the component count the characters before
  // it for accessibility, which costs the whole text on each keystroke or
  // appended line: nothing here listens to them.
  SendScintilla(SCI_SETMODEVENTMASK, 0UL);

#ifdef _WIN32
  QFont mono(QStringLiteral("Courier New"), 8);
#else
  QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  const QFontMetrics metrics(mono);
  if (metrics.horizontalAdvance(QLatin1Char('i')) != metrics.horizontalAdvance(QLatin1Char('W'))) {
    // A platform without a fixed-pitch system font: ask fontconfig.
    mono.setFamily(QStringLiteral("Monospace"));
    mono.setStyleHint(QFont::TypeWriter);
  }
#endif
  setFont(mono);
  setWrapMode(WrapNone);
  for (int margin = 0; margin < 5; ++margin) setMarginWidth(margin, 0);
  // Long lines run off to the right; only the vertical bar is shown.
  SendScintilla(SCI_SETHSCROLLBAR, 0UL);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  // The lines on screen keep their layout while new ones scroll in.
  SendScintilla(SCI_SETLAYOUTCACHE, static_cast<unsigned long>(SC_CACHE_PAGE));
}

std::string_view TMemo::Utf8() const {
  const long length = SendScintilla(SCI_GETLENGTH);
  if (length <= 0) return {};
  // Moves the buffer's gap to the end: no copy after appends.
  const auto* text = static_cast<const char*>(SendScintillaPtrResult(SCI_GETCHARACTERPOINTER));
  return {text, static_cast<size_t>(length)};
}

int TMemo::LineCount() const {
  const long lines = SendScintilla(SCI_GETLINECOUNT);
  const long lastStart = SendScintilla(SCI_POSITIONFROMLINE, static_cast<unsigned long>(lines - 1));
  return static_cast<int>(lastStart == SendScintilla(SCI_GETLENGTH) ? lines - 1 : lines);
}

std::string_view TMemo::LineUtf8(int line) const {
  const long start = SendScintilla(SCI_POSITIONFROMLINE, static_cast<unsigned long>(line));
  const long end = SendScintilla(SCI_GETLINEENDPOSITION, static_cast<unsigned long>(line));
  if (start < 0 || end <= start) return {};
  return Utf8().substr(static_cast<size_t>(start), static_cast<size_t>(end - start));
}

void TMemo::BeginReplace(size_t sizeHint) {
  SendScintilla(SCI_SETUNDOCOLLECTION, 0UL);
  SendScintilla(SCI_CLEARALL);
  SendScintilla(SCI_ALLOCATE, static_cast<unsigned long>(sizeHint + 1));
}

// The text messages take the pointer-sized form of the parameter: where
// unsigned long is 32 bits (Windows) it is not the same type.
void TMemo::AppendPiece(std::string_view piece) {
  if (!piece.empty()) SendScintilla(SCI_APPENDTEXT, static_cast<uintptr_t>(piece.size()), piece.data());
}

void TMemo::EndReplace() {
  SendScintilla(SCI_EMPTYUNDOBUFFER);
  SendScintilla(SCI_SETUNDOCOLLECTION, 1UL);
  SendScintilla(SCI_GOTOPOS, 0UL);
}

void TMemo::Clear() {
  BeginReplace(0);
  EndReplace();
}

bool TMemo::AtEnd() const {
  const long lines = SendScintilla(SCI_GETLINECOUNT);
  const long first = SendScintilla(SCI_GETFIRSTVISIBLELINE);
  const long shown = SendScintilla(SCI_LINESONSCREEN);
  return first + shown >= lines;
}

void TMemo::AppendLines(std::string_view text) {
  if (text.empty()) return;
  const bool follow = AtEnd();
  SendScintilla(SCI_SETUNDOCOLLECTION, 0UL);
  SendScintilla(SCI_APPENDTEXT, static_cast<uintptr_t>(text.size()), text.data());
  SendScintilla(SCI_EMPTYUNDOBUFFER);
  SendScintilla(SCI_SETUNDOCOLLECTION, 1UL);
  if (follow) SendScintilla(SCI_SETFIRSTVISIBLELINE, static_cast<unsigned long>(SendScintilla(SCI_GETLINECOUNT)));
}
