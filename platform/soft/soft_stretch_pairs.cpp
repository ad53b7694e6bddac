// Doubling 8-bit lines: every source pixel over two columns, each pair of
// columns one 64-bit entry of a table of doubled colours made once per call,
// stored into every row of the block (the double_indices kernel).
#include "platform/soft/soft_stretch.h"

#include <array>

namespace pm::soft::detail {
namespace {

class pairs final : public line_maker<source_8> {
public:
    pairs(const std::vector<int32_t> &shown, const source_8 &source, size_t lead)
        : first_(static_cast<size_t>(shown.front())), pixels_(shown.size() / 2),
          lead_(std::min(lead, shown.size())), double_indices_(kernels().double_indices)
    {
        for (size_t i = 0; i < pairs_.size(); ++i)
            pairs_[i] = source.colours[i] * uint64_t{0x100000001};
    }

    void make(row_block out, const uint8_t *row) override
    {
        double_indices_(out, row + first_, pixels_, pairs_.data(), lead_);
    }

private:
    size_t first_;  // first source column
    size_t pixels_; // source pixels shown
    size_t lead_;
    std::array<uint64_t, 256> pairs_; // each index's colour twice
    decltype(present_kernels::double_indices) double_indices_;
};

} // namespace

std::unique_ptr<line_maker<source_8>> pair_lines(const std::vector<int32_t> &shown, const source_8 &source,
                                                 size_t lead)
{
    return std::make_unique<pairs>(shown, source, lead);
}

} // namespace pm::soft::detail
