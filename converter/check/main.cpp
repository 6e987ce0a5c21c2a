#include <cstdio>
#include <string>
#include <vector>

#include "common/version.h"
#include "converter/check/check_run.h"

int main(int argc, char** argv)
{
    if (tremcvt::asksForVersion(argc, argv)) {
        std::printf("%s\n", tremcvt::versionLine("tremcvt_check").c_str());
        return 0;
    }
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
    return tremcvt::check::runCheck(arguments, stdout, stderr);
}
