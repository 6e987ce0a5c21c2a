#include "converter/driver/run_report.h"

#include <cstdarg>
#include <utility>
#include <vector>

namespace tremcvt {

RunReport::RunReport(std::FILE* out, std::FILE* err, std::string reasonPrefix)
    : out_(out), err_(err), reasonPrefix_(std::move(reasonPrefix))
{
}

void RunReport::print(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    va_list copy;
    va_copy(copy, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length > 0) {
        std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, arguments);
        write(std::string_view(buffer.data(), static_cast<std::size_t>(length)));
    }
    va_end(arguments);
}

void RunReport::write(std::string_view text)
{
    if (out_ != nullptr) {
        std::fwrite(text.data(), 1, text.size(), out_);
        std::fflush(out_);
    } else {
        text_.append(text);
    }
}

void RunReport::addReasons(std::string_view lines)
{
    std::size_t start = 0;
    while (start < lines.size()) {
        std::size_t end = lines.find('\n', start);
        if (end == std::string_view::npos) end = lines.size();
        if (end > start) {
            std::string line = reasonPrefix_;
            line.append(lines.substr(start, end - start));
            line += '\n';
            if (err_ != nullptr) {
                std::fputs(line.c_str(), err_);
                std::fflush(err_);
            } else {
                reasons_ += line;
            }
        }
        start = end + 1;
    }
}

}  // namespace tremcvt
