// A kernel table's filling, one for the library's table (graphics/kernels/kernels.h)
// and the software display's (platform/soft/soft_kernels.h): the scalar
// references first, then each allowed set's kernels over them in the
// layer's order; filled once, on first use, from allowed(), and again from
// sets of a test's choosing.
//
// A layer is a struct that names its table (`using table = ...`, a struct
// with a `sets` member: the sets whose kernels it holds) and gives
//   static table scalar();                    the scalar references
//   static const set_kernels<table> adders[]; each set's adder, in order
// Its kernels.cpp instantiates kernel_table<layer> once, and its header
// declares that instantiation extern, so that no kernel file, built for one
// instruction set, makes a copy of the filling.
#pragma once

#include "platform/cpu/cpu.h"

namespace pm::cpu {

// A set's kernels put into a table: false, and the table as it was, where
// this build has none of that set.
template <typename Table>
struct set_kernels {
    sets set;
    bool (*add)(Table &table);
};

template <typename Layer>
class kernel_table {
public:
    using table = typename Layer::table;

    // The table, filled on first use. (Inline: the callers pay one test of
    // a flag.)
    static const table &get()
    {
        static const table &filled = stored();
        return filled;
    }
    // The table itself, for filling.
    static table &stored();
    // Fills the table again from the sets in `wanted` that the processor
    // has, and returns the sets whose kernels it took.
    static sets select(sets wanted);

private:
    static table fill(sets allowed);
};

template <typename Layer>
typename kernel_table<Layer>::table kernel_table<Layer>::fill(sets allowed)
{
    table filled = Layer::scalar();
    for (const set_kernels<table> &kernels : Layer::adders) {
        if ((allowed & kernels.set) != 0 && kernels.add(filled))
            filled.sets |= kernels.set;
    }
    return filled;
}

template <typename Layer>
typename kernel_table<Layer>::table &kernel_table<Layer>::stored()
{
    static table filled = fill(allowed());
    return filled;
}

template <typename Layer>
sets kernel_table<Layer>::select(sets wanted)
{
    stored() = fill(wanted & detected());
    return stored().sets;
}

} // namespace pm::cpu
