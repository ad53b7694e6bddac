// Growing lines by runs: the row's shown pixels are converted, then each is
// filled over the run of neighbouring columns that show it (by the fill_runs
// kernel, whole groups of pixels at a time where the run's fill stays on the
// line), and the other rows of the block copy the first.
#include "platform/soft/soft_stretch.h"

namespace pm::soft::detail {
namespace {

template <class Source>
class runs final : public line_maker<Source> {
public:
    runs(const std::vector<int32_t> &shown, const Source &source)
        : source_(source), count_(shown.size()), first_(static_cast<size_t>(shown.front())),
          fill_runs_(kernels().fill_runs)
    {
        size_t longest = 1, run = 0;
        starts_.push_back(0);
        for (size_t i = 1; i < count_; ++i) {
            if (shown[i] != shown[i - 1]) {
                starts_.push_back(static_cast<uint32_t>(i));
                longest = std::max(longest, i - run);
                run = i;
            }
        }
        longest = std::max(longest, count_ - run);
        reach_ = (longest + fill_group - 1) / fill_group * fill_group;
        // Runs whose fill would pass the line's end are filled exactly.
        while (whole_runs_ < starts_.size() && starts_[whole_runs_] + reach_ <= count_)
            ++whole_runs_;
        colours_.resize(starts_.size());
    }

    void make(row_block out, const uint8_t *row) override
    {
        convert_pixels(colours_.data(), row + first_ * Source::bytes, colours_.size(), source_);
        fill_runs_(out.first, colours_.data(), starts_.data(), starts_.size(), whole_runs_, count_, reach_);
        copy_first_row(out, count_);
    }

private:
    Source source_;
    size_t count_;                 // drawn columns
    size_t first_;                 // first source column
    size_t reach_ = 0;             // pixels each whole fill writes
    size_t whole_runs_ = 0;        // runs whose whole fill stays on the line
    std::vector<uint32_t> starts_; // first drawn column of each source column's run
    std::vector<uint32_t> colours_; // colour of each run, for the current row
    decltype(present_kernels::fill_runs) fill_runs_;
};

} // namespace

template <class Source>
std::unique_ptr<line_maker<Source>> run_lines(const std::vector<int32_t> &shown, const Source &source)
{
    return std::make_unique<runs<Source>>(shown, source);
}

template std::unique_ptr<line_maker<source_8>> run_lines(const std::vector<int32_t> &, const source_8 &);
template std::unique_ptr<line_maker<source_16<order_xrgb>>> run_lines(const std::vector<int32_t> &,
                                                                      const source_16<order_xrgb> &);
template std::unique_ptr<line_maker<source_16<order_rgba>>> run_lines(const std::vector<int32_t> &,
                                                                      const source_16<order_rgba> &);
template std::unique_ptr<line_maker<source_bgr<3, order_xrgb>>> run_lines(const std::vector<int32_t> &,
                                                                          const source_bgr<3, order_xrgb> &);
template std::unique_ptr<line_maker<source_bgr<3, order_rgba>>> run_lines(const std::vector<int32_t> &,
                                                                          const source_bgr<3, order_rgba> &);
template std::unique_ptr<line_maker<source_bgr<4, order_xrgb>>> run_lines(const std::vector<int32_t> &,
                                                                          const source_bgr<4, order_xrgb> &);
template std::unique_ptr<line_maker<source_bgr<4, order_rgba>>> run_lines(const std::vector<int32_t> &,
                                                                          const source_bgr<4, order_rgba> &);

} // namespace pm::soft::detail
