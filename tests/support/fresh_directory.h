// A new, empty directory for a test, for test programs that do without the
// rest of the test support (those also built for Windows).
#pragma once

#include <filesystem>
#include <random>
#include <string>

namespace tremcvt::test {

// A new, empty directory below the system's temporary directory.
inline std::filesystem::path freshDirectory(const std::string& prefix)
{
    std::random_device random;
    for (;;) {
        const std::filesystem::path dir = std::filesystem::temp_directory_path() / (prefix + std::to_string(random()));
        if (std::filesystem::create_directory(dir)) return dir;
    }
}

}  // namespace tremcvt::test
