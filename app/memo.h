// The text pane Memo1: editable lines in a fixed-pitch font, no word wrap,
// only a vertical scroll bar. It is QScintilla: the text lives as UTF-8
// bytes in one buffer and only what is on screen is laid out, so dumps of
// many megabytes show at once and cost little more than their size.
#pragma once

#include <Qsci/qsciscintilla.h>

#include <string_view>

class TMemo : public QsciScintilla {
  Q_OBJECT

 public:
  explicit TMemo(QWidget* parent = nullptr);

  // The whole text as UTF-8, read in place: valid until the next change.
  std::string_view Utf8() const;
  // Lines as the component counts them, less the empty rest after a final
  // line break (so an empty pane has none).
  int LineCount() const;
  // Line `line` (0-based) without its end.
  std::string_view LineUtf8(int line) const;

  // Replaces the text by UTF-8 pieces that `produce` hands to `append`, with
  // no undo step (a dump's copy in the history would double its memory);
  // `sizeHint` bytes are reserved first. The view goes to the top.
  template <typename Produce>
  void Replace(size_t sizeHint, Produce produce) {
    BeginReplace(sizeHint);
    produce([this](std::string_view piece) { AppendPiece(piece); });
    EndReplace();
  }
  // Empties the pane, with no undo step.
  void Clear();

  // Appends UTF-8 text (whole lines, each ended by '\n') with no undo step;
  // the view follows when it showed the last line.
  void AppendLines(std::string_view text);

 protected:
  // Tab and Shift+Tab move on to the next control, as in the rest of the
  // window: a dump has no use for a tab character, and the keyboard must
  // not be caught here.
  bool focusNextPrevChild(bool next) override { return QWidget::focusNextPrevChild(next); }

 private:
  void BeginReplace(size_t sizeHint);
  void AppendPiece(std::string_view piece);
  void EndReplace();
  bool AtEnd() const;
};
