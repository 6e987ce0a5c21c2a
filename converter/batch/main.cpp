// tremcvt_batch: converts many WIN files in one process over one database
// connection, as one tremcvt run per file would convert them.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "common/exit_codes.h"
#include "common/version.h"
#include "converter/batch/batch_job.h"
#include "converter/batch/batch_options.h"
#include "converter/batch/follow.h"

int main(int argc, char** argv)
{
    if (tremcvt::asksForVersion(argc, argv)) {
        std::printf("%s\n", tremcvt::versionLine("tremcvt_batch").c_str());
        return 0;
    }
    if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
        std::fputs(tremcvt::kBatchUsageText, stdout);
        return 0;
    }
    // Whatever escapes the batch ends it with the exception exit code; the
    // reason goes to standard error, standard output keeps the reports.
    try {
        const std::vector<std::string> arguments(argv + 1, argv + argc);
        const tremcvt::BatchOptionsResult parsed = tremcvt::parseBatchOptions(arguments);
        if (!parsed.options) {
            std::fputs(parsed.message.c_str(), stderr);
            return tremcvt::kBatchExitUsage;
        }
        // The log of a scheduled batch names the build that made it.
        std::fprintf(stderr, "%s\n", tremcvt::versionLine("tremcvt_batch").c_str());
        if (parsed.options->follow) return tremcvt::runFollow(*parsed.options, stdout, stderr);
        return tremcvt::runBatch(*parsed.options, stdout, stderr);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tremcvt_batch: the batch broke off: %s\n", error.what());
    } catch (...) {
        std::fputs("tremcvt_batch: the batch broke off with an unknown exception\n", stderr);
    }
    return tremcvt::processExitStatus(tremcvt::kExitException);
}
