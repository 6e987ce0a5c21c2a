// The About box: program name and version, closed with "OK".
#pragma once

#include <QDialog>

namespace tremcvt {

class AboutDialog : public QDialog {
    Q_OBJECT

public:
    explicit AboutDialog(QWidget* parent = nullptr);
};

}  // namespace tremcvt
