#pragma once

#include <cstdlib>
#include <memory>

// Owns what xcb hands out with malloc (replies, errors, events), which must go with free.
struct XcbFree
{
    void operator()(void *pointer) const { std::free(pointer); }
};

template <typename Reply> using XcbReply = std::unique_ptr<Reply, XcbFree>;
