#include <cstdio>
#include <string>
#include <vector>

#include "converter/check/check_run.h"

int main(int argc, char** argv)
{
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
    return tremcvt::check::runCheck(arguments, stdout, stderr);
}
