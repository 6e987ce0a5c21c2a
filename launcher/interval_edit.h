// The interval field: always nine characters "DDD HH:MM" that the user
// overwrites digit by digit; the separators stay where they are.
#pragma once

#include <QLineEdit>
#include <QString>

namespace tremcvt {

inline constexpr int kIntervalFieldLength = 9;

// The field's text and caret after one typed character.
struct IntervalTyping {
    QString text;
    int caret = 0;
};

// One character typed at caret position p: on a separator (3 or 6) the caret
// steps past it and the character is dropped; otherwise a digit replaces the
// character at p and the caret moves on, past the next separator after
// positions 2 and 5. A non-digit changes nothing, and at the end of a full
// field nothing is added.
IntervalTyping typeIntoInterval(const QString& text, int caret, QChar typed);

class IntervalEdit : public QLineEdit {
    Q_OBJECT

public:
    explicit IntervalEdit(QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace tremcvt
