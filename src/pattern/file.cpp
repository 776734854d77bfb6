#include "pattern/file.hpp"

#include "pattern/pattern.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pattern {

namespace {

const char* kind(mode_t mode) {
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISFIFO(mode)) return "a FIFO (named pipe)";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    if (S_ISSOCK(mode)) return "a socket";
    return "no regular file";
}

[[noreturn]] void fail(const std::string& path, const std::string& why) {
    throw ReadError(path, 0, why);
}

std::string too_large(std::uint64_t max_bytes) {
    return "the file is larger than " + std::to_string(max_bytes >> 20) + " MiB, the most read (" +
           std::to_string(max_bytes) + " bytes)";
}

struct Fd {
    int fd;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

} // namespace

std::string read_file(const std::string& path, std::uint64_t max_bytes) {
    // Looked at before it is opened: opening a FIFO waits for a writer, and
    // opening a device may act on it.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        fail(path, std::string("cannot read it: ") + std::strerror(errno));
    if (!S_ISREG(st.st_mode))
        fail(path,
             std::string("cannot read it: it is ") + kind(st.st_mode) + ", not a regular file");
    if (static_cast<std::uint64_t>(st.st_size) > max_bytes) fail(path, too_large(max_bytes));
    Fd f{::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)};
    if (f.fd < 0) fail(path, std::string("cannot open it: ") + std::strerror(errno));
    // The file opened may not be the one looked at (replaced in between).
    if (::fstat(f.fd, &st) != 0 || !S_ISREG(st.st_mode))
        fail(path,
             std::string("cannot read it: it is ") + kind(st.st_mode) + ", not a regular file");
    if (static_cast<std::uint64_t>(st.st_size) > max_bytes) fail(path, too_large(max_bytes));
    std::string bytes;
    // One byte more than its size, so that its end is seen without growing.
    bytes.resize(static_cast<std::size_t>(st.st_size) + 1);
    std::size_t have = 0;
    for (;;) {
        if (have == bytes.size()) {
            // Grown since it was looked at: read on, up to the bound.
            if (bytes.size() > max_bytes) fail(path, too_large(max_bytes));
            bytes.resize(std::min<std::uint64_t>(max_bytes + 1, bytes.size() + (1u << 16)));
        }
        const ssize_t n = ::read(f.fd, bytes.data() + have, bytes.size() - have);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) fail(path, std::string("cannot read it: ") + std::strerror(errno));
        if (n == 0) break;
        have += static_cast<std::size_t>(n);
    }
    if (have > max_bytes) fail(path, too_large(max_bytes));
    bytes.resize(have);
    return bytes;
}

} // namespace pattern
