#include "converter/win/channel_table.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace tremcvt {
std::size_t ChannelTable::indexOf(std::uint16_t channelId) const
{
    for (std::size_t i = 0; i < records_.size(); ++i) {
        if (records_[i].channelId == channelId) return i;
    }
    return records_.size();
}

ChannelTrace* ChannelTable::find(std::uint16_t channelId)
{
    const std::size_t index = indexOf(channelId);
    return index < records_.size() ? &records_[index] : nullptr;
}

const ChannelTrace* ChannelTable::find(std::uint16_t channelId) const
{
    const std::size_t index = indexOf(channelId);
    return index < records_.size() ? &records_[index] : nullptr;
}

ChannelTrace& ChannelTable::append(ChannelTrace record)
{
    records_.push_back(std::move(record));
    return records_.back();
}

void ChannelTable::setSizeHintForFile(std::uint64_t fileBytes, std::uint64_t firstBlockBytes)
{
    if (fileBytes == 0 || firstBlockBytes == 0) return;
    const std::uint64_t blocks = (fileBytes + firstBlockBytes - 1) / firstBlockBytes;
    const std::uint64_t budget = 2 * fileBytes;
    constexpr std::uint64_t kMax = std::numeric_limits<std::size_t>::max() / 8;
    setSizeHint(static_cast<std::size_t>(std::min(blocks, kMax)), static_cast<std::size_t>(std::min(budget, kMax)));
}

float* ChannelTable::appendSamples(ChannelTrace& record, std::size_t n)
{
    std::vector<float>& samples = record.samples;
    const std::size_t old = samples.size();
    const std::size_t need = old + n;
    if (need > samples.capacity()) {
        std::size_t target = samples.capacity() + samples.capacity() / 2;
        if (samples.capacity() == 0 && expectedBlocks_ > 0 && n > 0) {
            const std::size_t hinted =
                n <= sampleBudget_ / expectedBlocks_ ? n * expectedBlocks_ : sampleBudget_;
            sampleBudget_ -= std::min(sampleBudget_, hinted);
            target = std::max(target, hinted);
        }
        samples.reserve(std::max(need, target));
    }
    samples.resize(need);
    return samples.data() + old;
}

}  // namespace tremcvt
