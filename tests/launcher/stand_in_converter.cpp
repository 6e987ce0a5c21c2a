// A stand-in for the converter in launcher tests. It reads instructions from
// the file named by its second argument (the WIN path), one per line:
//   print N   write N bytes of a fixed pattern to standard output
//   text S    write S and a newline
//   sleep MS  sleep MS milliseconds
//   exit C    end with exit code C
// When TREMCVT_STAND_IN_LOG names a file, one line with the arguments joined
// by "|" is appended to it first, so tests can see what was run and in which
// order.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

int main(int argc, char** argv)
{
    if (const char* log = std::getenv("TREMCVT_STAND_IN_LOG")) {
        std::ofstream out(log, std::ios::app);
        for (int i = 1; i < argc; ++i) out << (i > 1 ? "|" : "") << argv[i];
        out << '\n';
    }
    if (argc < 3) return 0;
    std::ifstream script(argv[2]);
    std::string line;
    while (std::getline(script, line)) {
        const std::size_t blank = line.find(' ');
        const std::string word = line.substr(0, blank);
        const std::string rest = blank == std::string::npos ? std::string() : line.substr(blank + 1);
        if (word == "print") {
            const long count = std::atol(rest.c_str());
            for (long i = 0; i < count; ++i) std::putchar(i % 64 == 63 ? '\n' : 'a' + static_cast<int>(i % 26));
        } else if (word == "text") {
            std::printf("%s\n", rest.c_str());
        } else if (word == "sleep") {
            std::fflush(stdout);
            std::this_thread::sleep_for(std::chrono::milliseconds(std::atol(rest.c_str())));
        } else if (word == "exit") {
            std::fflush(stdout);
            return std::atoi(rest.c_str());
        }
    }
    return 0;
}
