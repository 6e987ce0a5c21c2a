#include "launcher/interval_edit.h"

#include <QKeyEvent>

namespace tremcvt {
namespace {

constexpr int kDaySeparator = 3;
constexpr int kTimeSeparator = 6;

}  // namespace

IntervalTyping typeIntoInterval(const QString& text, int caret, QChar typed)
{
    IntervalTyping result{text, caret};
    if (caret == kDaySeparator || caret == kTimeSeparator) {
        result.caret = caret + 1;
        return result;
    }
    if (!typed.isDigit() || typed.unicode() > 0x7f) return result;
    if (caret < 0 || caret > text.size()) return result;
    if (caret == text.size()) {
        if (text.size() >= kIntervalFieldLength) return result;
        result.text.append(typed);
    } else {
        result.text[caret] = typed;
    }
    result.caret = caret + 1;
    if (caret == kDaySeparator - 1 || caret == kTimeSeparator - 1) result.caret = caret + 2;
    return result;
}

IntervalEdit::IntervalEdit(QWidget* parent) : QLineEdit(parent)
{
    setMaxLength(kIntervalFieldLength);
    setAlignment(Qt::AlignRight);
}

void IntervalEdit::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Backspace || event->key() == Qt::Key_Delete) {
        event->accept();
        return;
    }
    const QString typed = event->text();
    const bool command = event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    if (command || typed.size() != 1 || !typed.at(0).isPrint()) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    const int caret = hasSelectedText() ? selectionStart() : cursorPosition();
    const IntervalTyping result = typeIntoInterval(text(), caret, typed.at(0));
    if (result.text != text()) setText(result.text);
    setCursorPosition(std::min<int>(result.caret, static_cast<int>(result.text.size())));
    event->accept();
}

}  // namespace tremcvt
