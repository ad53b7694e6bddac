// Growing lines by picks: the row's shown pixels are converted first, then
// each group of eight drawn columns (which, growing, show at most eight
// neighbouring source columns) picks its colours from them at once and is
// stored into every row of the block (the pick_groups kernel). The groups
// start at the first column on a 32-byte boundary; the columns before the
// first group and after the last are stored one by one.
#include "platform/soft/soft_stretch.h"

#include <array>

namespace pm::soft::detail {
namespace {

template <class Source>
class picks final : public line_maker<Source> {
public:
    picks(const std::vector<int32_t> &shown, const Source &source, size_t lead)
        : source_(source), first_(static_cast<size_t>(shown.front())),
          runs_(static_cast<size_t>(shown.back()) - first_ + 1), lead_(std::min(lead, shown.size())),
          pick_groups_(kernels().pick_groups)
    {
        // Eight colours are read from every group's base.
        converted_.resize(runs_ + 8);
        const size_t count = shown.size();
        const size_t groups = (count - lead_) / 8;
        bases_.resize(groups);
        picks_.resize(groups);
        for (size_t k = 0; k < groups; ++k) {
            const size_t column = lead_ + 8 * k;
            bases_[k] = static_cast<uint32_t>(static_cast<size_t>(shown[column]) - first_);
            for (size_t i = 0; i < 8; ++i)
                picks_[k].from[i] = shown[column + i] - shown[column];
        }
        auto edge = [&](size_t i) {
            edge_columns_[edges_] = static_cast<uint32_t>(i);
            edge_runs_[edges_++] = static_cast<uint32_t>(static_cast<size_t>(shown[i]) - first_);
        };
        for (size_t i = 0; i < lead_; ++i)
            edge(i);
        for (size_t i = lead_ + 8 * groups; i < count; ++i)
            edge(i);
    }

    void make(row_block out, const uint8_t *row) override
    {
        convert_pixels(converted_.data(), row + first_ * Source::bytes, runs_, source_);
        pick_groups_({out.first + lead_, out.count, out.stride}, converted_.data(), bases_.data(), picks_.data(),
                     bases_.size());
        for (size_t e = 0; e < edges_; ++e) {
            uint32_t *to = out.first + edge_columns_[e];
            const uint32_t colour = converted_[edge_runs_[e]];
            for (size_t r = 0; r < out.count; ++r, to += out.stride)
                *to = colour;
        }
    }

private:
    Source source_;
    size_t first_;                            // first source column
    size_t runs_;                             // source columns shown
    size_t lead_;                             // drawn columns before the first group
    std::vector<uint32_t> converted_;         // colour of each run, for the current row
    std::vector<uint32_t> bases_;             // per group of eight columns, its first run
    std::vector<pick_group> picks_;           // and each column's run counted from there
    std::array<uint32_t, 16> edge_columns_{}; // the columns outside the groups
    std::array<uint32_t, 16> edge_runs_{};    // and their runs
    size_t edges_ = 0;
    decltype(present_kernels::pick_groups) pick_groups_;
};

} // namespace

template <class Source>
std::unique_ptr<line_maker<Source>> pick_lines(const std::vector<int32_t> &shown, const Source &source, size_t lead)
{
    return std::make_unique<picks<Source>>(shown, source, lead);
}

template std::unique_ptr<line_maker<source_8>> pick_lines(const std::vector<int32_t> &, const source_8 &, size_t);
template std::unique_ptr<line_maker<source_16<order_xrgb>>> pick_lines(const std::vector<int32_t> &,
                                                                       const source_16<order_xrgb> &, size_t);
template std::unique_ptr<line_maker<source_16<order_rgba>>> pick_lines(const std::vector<int32_t> &,
                                                                       const source_16<order_rgba> &, size_t);
template std::unique_ptr<line_maker<source_bgr<3, order_xrgb>>> pick_lines(const std::vector<int32_t> &,
                                                                           const source_bgr<3, order_xrgb> &, size_t);
template std::unique_ptr<line_maker<source_bgr<3, order_rgba>>> pick_lines(const std::vector<int32_t> &,
                                                                           const source_bgr<3, order_rgba> &, size_t);
template std::unique_ptr<line_maker<source_bgr<4, order_xrgb>>> pick_lines(const std::vector<int32_t> &,
                                                                           const source_bgr<4, order_xrgb> &, size_t);
template std::unique_ptr<line_maker<source_bgr<4, order_rgba>>> pick_lines(const std::vector<int32_t> &,
                                                                           const source_bgr<4, order_rgba> &, size_t);

} // namespace pm::soft::detail
