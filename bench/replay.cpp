// The trivial program peakpos is measured against: it makes the write calls
// listed in a file to standard output and nothing else.
//
//   peakpos_replay CALLS
//
// CALLS holds, for each write call, its length as 4 bytes in the machine's
// order and then its bytes (peakpos_bench records them from a real run).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const int fd = ::open(argv[1], O_RDONLY);
    if (fd < 0) return 2;
    std::vector<char> calls;
    for (;;) {
        const std::size_t have = calls.size();
        calls.resize(have + 65536);
        const ssize_t got = ::read(fd, calls.data() + have, 65536);
        if (got < 0) return 2;
        calls.resize(have + static_cast<std::size_t>(got));
        if (got == 0) break;
    }
    ::close(fd);
    std::size_t at = 0;
    while (at + 4 <= calls.size()) {
        std::uint32_t n;
        std::memcpy(&n, calls.data() + at, 4);
        at += 4;
        if (n > calls.size() - at) return 2;
        const char* p = calls.data() + at;
        for (std::size_t left = n; left > 0;) {
            const ssize_t put = ::write(STDOUT_FILENO, p, left);
            if (put < 0) return 1;
            p += put;
            left -= static_cast<std::size_t>(put);
        }
        at += n;
    }
    return 0;
}
