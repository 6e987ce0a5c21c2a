// The report of one conversion: the texts for standard output, which the
// launcher and the batch program read, and the reasons behind failures,
// which go to standard error one line each behind a prefix. A report either
// goes straight to its streams (the converter) or is kept for its caller (a
// batch that merges, retries or drops it).
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace tremcvt {

class RunReport {
public:
    // Kept in memory, for text() and reasons().
    RunReport() = default;
    // Written to out and err as it comes, each flushed at once.
    RunReport(std::FILE* out, std::FILE* err, std::string reasonPrefix = "tremcvt: ");

#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    void print(const char* format, ...);
    void write(std::string_view text);
    // Every non-empty line of lines becomes one reason.
    void addReasons(std::string_view lines);

    const std::string& text() const { return text_; }
    const std::string& reasons() const { return reasons_; }

private:
    std::FILE* out_ = nullptr;
    std::FILE* err_ = nullptr;
    std::string reasonPrefix_ = "tremcvt: ";
    std::string text_;
    std::string reasons_;
};

}  // namespace tremcvt
