// Merges the reports of one batch's converter runs into the results text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tremcvt {

// The first report is taken whole and fixes the header offset just after its
// last "="; the check block ends with a line of "=", so later reports are
// shown from that same byte offset on, and a later report shorter than the
// offset adds nothing. A report ends at its first zero byte.
class OutputMerger {
public:
    void merge(std::string_view output, std::string& resultsText);

    bool firstOutputPending() const { return firstOutput_; }
    std::size_t headerOffset() const { return headerOffset_; }

private:
    bool firstOutput_ = true;
    std::size_t headerOffset_ = 0;
};

}  // namespace tremcvt
