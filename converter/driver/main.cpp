// tremcvt: converts one WIN file into the TRZ archive or into CSS 3.0 output.
#include <cstdio>
#include <exception>

#include "common/exit_codes.h"
#include "converter/driver/conversion_run.h"

int main(int argc, char** argv)
{
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
