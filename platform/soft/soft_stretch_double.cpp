// Doubling lines of 16-, 24- and 32-bit pixels: the row's shown pixels are
// converted, then each is stored twice (the double_colours kernel), and the
// other rows of the block copy the first.
#include "platform/soft/soft_stretch.h"

namespace pm::soft::detail {
namespace {

template <class Source>
class doubled final : public line_maker<Source> {
public:
    doubled(const std::vector<int32_t> &shown, const Source &source)
        : source_(source), first_(static_cast<size_t>(shown.front())), colours_(shown.size() / 2),
          double_colours_(kernels().double_colours)
    {
    }

    void make(row_block out, const uint8_t *row) override
    {
        convert_pixels(colours_.data(), row + first_ * Source::bytes, colours_.size(), source_);
        double_colours_(out.first, colours_.data(), colours_.size());
        copy_first_row(out, 2 * colours_.size());
    }

private:
    Source source_;
    size_t first_;                  // first source column
    std::vector<uint32_t> colours_; // each shown pixel's colour, for the current row
    decltype(present_kernels::double_colours) double_colours_;
};

} // namespace

template <class Source>
std::unique_ptr<line_maker<Source>> doubled_lines(const std::vector<int32_t> &shown, const Source &source)
{
    return std::make_unique<doubled<Source>>(shown, source);
}

template std::unique_ptr<line_maker<source_16<order_xrgb>>> doubled_lines(const std::vector<int32_t> &,
                                                                          const source_16<order_xrgb> &);
template std::unique_ptr<line_maker<source_16<order_rgba>>> doubled_lines(const std::vector<int32_t> &,
                                                                          const source_16<order_rgba> &);
template std::unique_ptr<line_maker<source_bgr<3, order_xrgb>>> doubled_lines(const std::vector<int32_t> &,
                                                                              const source_bgr<3, order_xrgb> &);
template std::unique_ptr<line_maker<source_bgr<3, order_rgba>>> doubled_lines(const std::vector<int32_t> &,
                                                                              const source_bgr<3, order_rgba> &);
template std::unique_ptr<line_maker<source_bgr<4, order_xrgb>>> doubled_lines(const std::vector<int32_t> &,
                                                                              const source_bgr<4, order_xrgb> &);
template std::unique_ptr<line_maker<source_bgr<4, order_rgba>>> doubled_lines(const std::vector<int32_t> &,
                                                                              const source_bgr<4, order_rgba> &);

} // namespace pm::soft::detail
