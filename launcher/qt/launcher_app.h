// The application object of tremcvt_GUI: runs the launcher dialog modally
// and ends when it closes.
#pragma once

#include <QString>

namespace tremcvt {

class LauncherApp {
public:
    // Shows the dialog and returns when it closes. With
    // "--screenshot <file>" it saves a picture of the dialog as it first
    // appears instead (used for the documentation) and returns at once.
    int run(int& argc, char** argv);

private:
    static int saveScreenshot(const QString& file);
};

}  // namespace tremcvt
