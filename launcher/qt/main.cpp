#include "launcher/qt/launcher_app.h"

int main(int argc, char** argv)
{
    tremcvt::LauncherApp app;
    return app.run(argc, argv);
}
