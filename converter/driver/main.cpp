// tremcvt: converts one WIN file into the TRZ archive or into CSS 3.0 output.
#include <cstdio>
#include <exception>
#include <string_view>

#include "common/exit_codes.h"
#include "common/version.h"
#include "converter/driver/conversion_run.h"
#include "converter/driver/settings.h"

int main(int argc, char** argv)
{
    if (tremcvt::asksForVersion(argc, argv)) {
        std::printf("%s\n", tremcvt::versionLine("tremcvt").c_str());
        return 0;
    }
    if (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
        std::fputs(tremcvt::kUsageText, stdout);
        return 0;
    }
    // Whatever escapes the run ends it with the exception exit code; the
    // reason goes to standard error, standard output keeps the report.
    try {
        return tremcvt::processExitStatus(tremcvt::runConverter(argc, argv, stdout));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tremcvt: the run broke off: %s\n", error.what());
    } catch (...) {
        std::fputs("tremcvt: the run broke off with an unknown exception\n", stderr);
    }
    return tremcvt::processExitStatus(tremcvt::kExitException);
}
