#include "common/batch/output_merger.h"

#include <algorithm>

namespace tremcvt {

void OutputMerger::merge(std::string_view output, std::string& resultsText)
{
    const std::size_t bytesRead = output.size();
    const std::string_view text = output.substr(0, output.find('\0'));
    if (firstOutput_) {
        firstOutput_ = false;
        resultsText += text;
        const std::size_t lastEquals = text.rfind('=');
        headerOffset_ = lastEquals == std::string_view::npos ? 0 : lastEquals + 1;
        return;
    }
    if (bytesRead >= headerOffset_) resultsText += text.substr(std::min(headerOffset_, text.size()));
}

}  // namespace tremcvt
