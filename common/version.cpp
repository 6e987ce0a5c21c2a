#include "common/version.h"

#include <cstring>

namespace tremcvt {

const char* projectVersion() { return TREMCVT_VERSION; }

std::string versionLine(std::string_view program)
{
    return std::string(program) + " " + projectVersion() + " (commit " + buildCommit() + ")";
}

bool asksForVersion(int argc, const char* const* argv)
{
    return argc == 2 && argv[1] != nullptr && std::strcmp(argv[1], "--version") == 0;
}

}  // namespace tremcvt
