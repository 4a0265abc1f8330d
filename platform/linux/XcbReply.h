#pragma once

#include <cstdlib>
#include <memory>

// An xcb reply (or event, or error), freed with free() as xcb requires.
template <typename Reply> struct XcbFree {
    void operator()(Reply* reply) const { std::free(reply); }
};
template <typename Reply> using ReplyPtr = std::unique_ptr<Reply, XcbFree<Reply>>;
