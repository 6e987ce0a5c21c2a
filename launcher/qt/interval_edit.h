// The interval field: always nine characters "DDD HH:MM" that the user
// overwrites digit by digit. Typing, Cut, Delete and Paste (keys, context
// menu, middle button) all go through the editing rule of
// launcher/core/interval_field.h, so the separators stay in place and the
// field cannot be emptied.
#pragma once

#include <QLineEdit>
#include <QString>

#include "launcher/core/interval_field.h"

namespace tremcvt {

class IntervalEdit : public QLineEdit {
    Q_OBJECT

public:
    explicit IntervalEdit(QWidget* parent = nullptr);

    // The editing commands of the field (also those of its context menu).
    void cutSelection();
    void deleteSelection();
    void pasteText(const QString& pasted);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // Where an edit starts: the start of the selection, else the caret.
    int editPosition() const;
    void apply(const IntervalFieldState& state);
};

}  // namespace tremcvt
