#include "launcher/qt/launcher_app.h"

#include <QApplication>
#include <QPixmap>
#include <QStringList>

#include "launcher/qt/launcher_dialog.h"

namespace tremcvt {

int LauncherApp::run(int& argc, char** argv)
{
    QApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const qsizetype option = arguments.indexOf(QStringLiteral("--screenshot"));
    if (option >= 0) {
        if (option + 1 >= arguments.size()) return 2;
        return saveScreenshot(arguments.at(option + 1));
    }
    LauncherDialog dialog;
    dialog.exec();
    return 0;
}

int LauncherApp::saveScreenshot(const QString& file)
{
    LauncherDialog dialog;
    dialog.show();
    QCoreApplication::processEvents();
    return dialog.grab().save(file, "PNG") ? 0 : 1;
}

}  // namespace tremcvt
