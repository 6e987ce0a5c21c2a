// The version of the programs and the commit they were built from, as
// "--version" prints them and the reports of the batch and the check name
// them.
#pragma once

#include <string>
#include <string_view>

namespace tremcvt {

// The project's version ("1.0").
const char* projectVersion();

// The commit of the source tree the build comes from: 12 hex digits, with
// "+" when the tree had changes, or "unknown" outside a git tree.
const char* buildCommit();

// "<program> <version> (commit <commit>)".
std::string versionLine(std::string_view program);

// Whether the command line is "<program> --version".
bool asksForVersion(int argc, const char* const* argv);

}  // namespace tremcvt
