// tremcvt_batch: converts many WIN files in one process over one database
// connection, as one tremcvt run per file would convert them.
#include <cstdio>
#include <string>
#include <vector>

#include "converter/batch/batch_options.h"
#include "converter/batch/batch_run.h"

int main(int argc, char** argv)
{
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const tremcvt::BatchOptionsResult parsed = tremcvt::parseBatchOptions(arguments);
    if (!parsed.options) {
        std::fputs(parsed.message.c_str(), stderr);
        return tremcvt::kBatchExitUsage;
    }
    return tremcvt::runBatch(*parsed.options, stdout, stderr);
}
