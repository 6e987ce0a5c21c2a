#include <cstdio>

#include "common/version.h"
#include "launcher/qt/launcher_app.h"

int main(int argc, char** argv)
{
    // Answered before the toolkit starts, so that it needs no display.
    if (tremcvt::asksForVersion(argc, argv)) {
        std::printf("%s\n", tremcvt::versionLine("tremcvt_GUI").c_str());
        return 0;
    }
    tremcvt::LauncherApp app;
    return app.run(argc, argv);
}
