#include "io.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace peakpos {

std::size_t MemorySource::read(char* buf, std::size_t n) {
    std::size_t take = std::min(n, text_.size());
    std::memcpy(buf, text_.data(), take);
    text_.remove_prefix(take);
    return take;
}

std::size_t FdSource::read(char* buf, std::size_t n) {
    for (;;) {
        ssize_t got = ::read(fd_, buf, n);
        if (got >= 0) return static_cast<std::size_t>(got);
        if (errno != EINTR)
            throw IoError{true, std::string("cannot read the deck: ") + std::strerror(errno)};
    }
}

namespace {

// Kept out of the write loop, which runs once a record.
[[noreturn, gnu::noinline, gnu::cold]] void write_failed(const char* what, int err) {
    throw IoError{false, std::string("cannot write ") + what + ": " + std::strerror(err)};
}

} // namespace

void FdSink::flush() {
    std::string_view rest = pending_;
    while (!rest.empty()) {
        ssize_t put = ::write(fd_, rest.data(), rest.size());
        if (put < 0) {
            if (errno == EINTR) continue;
            write_failed(what_, errno);
        }
        rest.remove_prefix(static_cast<std::size_t>(put));
    }
    pending_.clear();
}

} // namespace peakpos
