// The reader's dispatch: the bytes of a file to the reader of its format.
#include "pattern/pattern.hpp"

#include "pattern/columns.hpp"
#include "pattern/file.hpp"
#include "pattern/gsas.hpp"
#include "pattern/libxy.hpp"

#include <algorithm>
#include <utility>

namespace pattern {

namespace {

std::string message(const std::string& file, std::size_t line, const std::string& reason) {
    return file + (line != 0 ? ":" + std::to_string(line) : "") + ": " + reason;
}

} // namespace

ReadError::ReadError(std::string file, std::size_t line, std::string reason)
    : std::runtime_error(message(file, line, reason)), file_(std::move(file)), line_(line),
      reason_(std::move(reason)) {}

std::size_t Pattern::points() const {
    std::size_t n = 0;
    for (const Range& r : ranges) n += r.x.size();
    return n;
}

namespace {

Pattern by_format(std::string_view bytes, const std::string& file, const Options& options) {
    if (bytes.size() > options.max_bytes)
        throw ReadError(file, 0,
                        "the file is larger than " + std::to_string(options.max_bytes >> 20) +
                            " MiB, the most read (" + std::to_string(options.max_bytes) +
                            " bytes)");
    std::string_view text = bytes;
    if (text.substr(0, 3) == "\xef\xbb\xbf") text.remove_prefix(3); // UTF-8 byte-order mark
    // A DOS end-of-file mark (Ctrl-Z) and what follows it on its line end
    // the text, as they ended it for the program that wrote it.
    if (const std::size_t eof = text.rfind('\x1a');
        eof != std::string_view::npos &&
        text.find_first_not_of(" \t\r\n", eof + 1) == std::string_view::npos)
        text = text.substr(0, eof);
    if (gsas::looks_like(text)) return gsas::read(text, file, options);
    const std::string format = libxy::format_of(bytes, file);
    if (!format.empty()) return libxy::read(bytes, file, format, options);
    if (bytes.find('\0') != std::string_view::npos)
        throw ReadError(
            file, 0,
            "a binary file in no format known here (plain columns, GSAS, or what libxy reads)");
    return columns::read(text, file, options);
}

} // namespace

Pattern parse(std::string_view bytes, const std::string& file, const Options& options) {
    Pattern p = by_format(bytes, file, options);
    // The notes in the order of their lines (the whole file's first).
    std::stable_sort(p.notes.begin(), p.notes.end(),
                     [](const Note& a, const Note& b) { return a.line < b.line; });
    return p;
}

Pattern read(const std::string& path, const Options& options) {
    const std::string bytes = read_file(path, options.max_bytes);
    return parse(bytes, path, options);
}

} // namespace pattern
