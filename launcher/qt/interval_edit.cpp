#include "launcher/qt/interval_edit.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <algorithm>

namespace tremcvt {
namespace {

QString withShortcut(const QString& text, QKeySequence::StandardKey key)
{
    const QString shortcut = QKeySequence(key).toString(QKeySequence::NativeText);
    return shortcut.isEmpty() ? text : text + QLatin1Char('\t') + shortcut;
}

}  // namespace

IntervalEdit::IntervalEdit(QWidget* parent) : QLineEdit(parent)
{
    setMaxLength(kIntervalFieldLength);
    setAlignment(Qt::AlignRight);
    // Dropped text and input methods would bypass the editing rule.
    setAcceptDrops(false);
    setAttribute(Qt::WA_InputMethodEnabled, false);
}

int IntervalEdit::editPosition() const
{
    return hasSelectedText() ? selectionStart() : cursorPosition();
}

void IntervalEdit::apply(const IntervalFieldState& state)
{
    const QString edited = QString::fromStdString(state.text);
    if (edited != text()) setText(edited);
    deselect();
    setCursorPosition(std::min<int>(state.caret, static_cast<int>(edited.size())));
}

void IntervalEdit::cutSelection()
{
    if (!hasSelectedText()) return;
    QApplication::clipboard()->setText(selectedText());
    deleteSelection();
}

void IntervalEdit::deleteSelection()
{
    if (!hasSelectedText()) return;
    apply(eraseFromInterval(text().toStdString(), selectionStart(), static_cast<int>(selectedText().size())));
}

void IntervalEdit::pasteText(const QString& pasted)
{
    apply(pasteIntoInterval(text().toStdString(), editPosition(), pasted.toStdString()));
}

void IntervalEdit::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Cut)) {
        cutSelection();
        event->accept();
        return;
    }
    if (event->matches(QKeySequence::Paste)) {
        pasteText(QApplication::clipboard()->text());
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Backspace || event->key() == Qt::Key_Delete) {
        event->accept();
        return;
    }
    const QString typed = event->text();
    const bool command = event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    if (command || typed.size() != 1 || !typed.at(0).isPrint()) {
        // Moving the caret and selecting are left to the line edit; any
        // edit it would make on its own (word deletion, undo, AltGr
        // characters) is taken back.
        const QString before = text();
        const int caret = cursorPosition();
        QLineEdit::keyPressEvent(event);
        if (text() != before) {
            setText(before);
            setCursorPosition(caret);
        }
        return;
    }
    const QChar c = typed.at(0);
    apply(typeIntoInterval(text().toStdString(), editPosition(), c.unicode() < 0x80 ? c.toLatin1() : '\0'));
    event->accept();
}

void IntervalEdit::contextMenuEvent(QContextMenuEvent* event)
{
    // The field's own menu: the standard one's Cut, Delete and Paste would
    // edit the text past the rule.
    QMenu menu(this);
    const bool selection = hasSelectedText();
    QAction* cut = menu.addAction(withShortcut(QLineEdit::tr("Cu&t"), QKeySequence::Cut), this,
                                  &IntervalEdit::cutSelection);
    cut->setEnabled(selection);
    QAction* copyAction = menu.addAction(withShortcut(QLineEdit::tr("&Copy"), QKeySequence::Copy), this,
                                         &QLineEdit::copy);
    copyAction->setEnabled(selection);
    QAction* paste = menu.addAction(withShortcut(QLineEdit::tr("&Paste"), QKeySequence::Paste), this,
                                    [this] { pasteText(QApplication::clipboard()->text()); });
    paste->setEnabled(!QApplication::clipboard()->text().isEmpty());
    QAction* erase = menu.addAction(QLineEdit::tr("Delete"), this, &IntervalEdit::deleteSelection);
    erase->setEnabled(selection);
    menu.addSeparator();
    menu.addAction(withShortcut(QLineEdit::tr("Select All"), QKeySequence::SelectAll), this, &QLineEdit::selectAll);
    menu.exec(event->globalPos());
    event->accept();
}

void IntervalEdit::mouseReleaseEvent(QMouseEvent* event)
{
    // The middle button pastes the selection clipboard where there is one.
    if (event->button() == Qt::MiddleButton) {
        const QClipboard* clipboard = QApplication::clipboard();
        if (clipboard->supportsSelection()) pasteText(clipboard->text(QClipboard::Selection));
        event->accept();
        return;
    }
    QLineEdit::mouseReleaseEvent(event);
}

}  // namespace tremcvt
