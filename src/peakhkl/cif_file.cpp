#include "peakhkl/cif_file.hpp"

#include "peakhkl/error.hpp"

#include <gemmi/cif.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace peakhkl {

namespace {

namespace cif = gemmi::cif;

std::string at_line(const std::string& path, int line) {
    return path + ":" + std::to_string(line);
}

// The file's bytes; a directory or a file that cannot be read is refused.
std::string file_bytes(const std::string& path) {
    const std::string expected = "a CIF file that can be read";
    // O_NONBLOCK: a pipe without a writer is refused below, not waited on
    // here; a regular file reads as ever.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) throw InputError(path, expected, std::strerror(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int stat_errno = errno;
        ::close(fd);
        throw InputError(path, expected, std::strerror(stat_errno));
    }
    if (S_ISDIR(st.st_mode)) {
        ::close(fd);
        throw InputError(path, expected,
                         "a directory (" + std::string(std::strerror(EISDIR)) + ")");
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        throw InputError(path, "a regular file (a CIF is read whole, once)",
                         S_ISFIFO(st.st_mode)   ? "a pipe"
                         : S_ISCHR(st.st_mode)  ? "a character device"
                         : S_ISBLK(st.st_mode)  ? "a block device"
                         : S_ISSOCK(st.st_mode) ? "a socket"
                                                : "a special file");
    }
    const std::string too_large =
        "a CIF of at most " + std::to_string(max_cif_bytes >> 20) + " MiB";
    if (static_cast<unsigned long long>(st.st_size) > max_cif_bytes) {
        ::close(fd);
        throw InputError(path, too_large, std::to_string(st.st_size) + " bytes");
    }
    std::string bytes;
    char buffer[65536];
    while (true) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int read_errno = errno;
            ::close(fd);
            throw InputError(path, expected, std::strerror(read_errno));
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
        if (bytes.size() > max_cif_bytes) { // grown since it was looked at
            ::close(fd);
            throw InputError(path, too_large, "more");
        }
    }
    ::close(fd);
    return bytes;
}

int line_of(const std::string& text, std::size_t pos) {
    return 1 +
           static_cast<int>(std::count(text.begin(), text.begin() + static_cast<long>(pos), '\n'));
}

bool starts_with_nocase(const std::string& text, std::size_t pos, const char* word) {
    for (std::size_t k = 0; word[k] != '\0'; ++k)
        if (pos + k >= text.size() ||
            std::tolower(static_cast<unsigned char>(text[pos + k])) != word[k])
            return false;
    return true;
}

// Lines before the first data_ (or global_) line that are neither blank nor
// comments are blanked, the line count kept, with a warning. Text without a
// data_ line is refused.
void skip_text_before_data(std::string& text, const std::string& path,
                           std::vector<std::string>& warnings) {
    std::size_t junk = std::string::npos;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::size_t first = start;
        while (first < end && (text[first] == ' ' || text[first] == '\t' || text[first] == '\r'))
            ++first;
        if (starts_with_nocase(text, first, "data_") ||
            starts_with_nocase(text, first, "global_")) {
            if (junk == std::string::npos) return;
            for (std::size_t k = 0; k < start; ++k)
                if (text[k] != '\n') text[k] = ' ';
            warnings.push_back(at_line(path, line_of(text, junk)) +
                               ": warning: text before the first data_ line, skipped");
            return;
        }
        if (first < end && text[first] != '#' && junk == std::string::npos) junk = start;
        start = end + 1;
    }
    throw InputError(path, "a data block (data_NAME)", "none");
}

// CIF 2.0's lists [...], tables {...} and triple-quoted strings, which
// gemmi 0.5.7 does not parse, as CIF 1.1 values on the same lines: a list
// or a table as the word [list] or {table}, a string on one line quoted,
// one over several lines as the word [text]. Line breaks are kept, so that
// the lines of every later value stay as in the file. One left open is a
// syntax error.
std::string cif1_values(const std::string& text, const std::string& path) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    const auto at_token_start = [&] {
        return i == 0 || std::isspace(static_cast<unsigned char>(text[i - 1]));
    };
    // The end of the quoted string that starts at i (past its closing quote).
    const auto quoted_end = [&](std::size_t from) {
        const char q = text[from];
        if (text.compare(from, 3, std::string(3, q)) == 0) {
            const std::size_t close = text.find(std::string(3, q), from + 3);
            if (close == std::string::npos)
                throw InputError(at_line(path, line_of(text, from)), "CIF syntax",
                                 "a triple-quoted string that is not closed");
            return close + 3;
        }
        std::size_t close = text.find_first_of(std::string(1, q) + "\n", from + 1);
        return close == std::string::npos || text[close] == '\n' ? close : close + 1;
    };
    const auto newlines = [&](std::size_t from, std::size_t to) {
        return std::string(
            static_cast<std::size_t>(std::count(text.begin() + static_cast<long>(from),
                                                text.begin() + static_cast<long>(to), '\n')),
            '\n');
    };
    while (i < text.size()) {
        const char c = text[i];
        if (c == ';' && (i == 0 || text[i - 1] == '\n')) { // a text field, as it is
            std::size_t close = text.find("\n;", i + 1);
            close = close == std::string::npos ? text.size() : close + 2;
            out.append(text, i, close - i);
            i = close;
        } else if (c == '#' && at_token_start()) {
            const std::size_t end = std::min(text.find('\n', i), text.size());
            out.append(text, i, end - i);
            i = end;
        } else if ((c == '\'' || c == '"') && at_token_start()) {
            const std::size_t end = std::min(quoted_end(i), text.size());
            if (text.compare(i, 3, std::string(3, c)) == 0) {
                const std::string inner = text.substr(i + 3, end - i - 6);
                const bool one_line = inner.find('\n') == std::string::npos;
                const auto fits = [&](char q) { // as a CIF 1.1 string quoted with q
                    return inner.find(std::string(1, q) + " ") == std::string::npos &&
                           (inner.empty() || inner.back() != q);
                };
                if (one_line && fits('\''))
                    out += "'" + inner + "'";
                else if (one_line && fits('"'))
                    out += "\"" + inner + "\"";
                else
                    out += "[text]" + newlines(i, end);
            } else {
                out.append(text, i, end - i);
            }
            i = end;
        } else if ((c == '[' || c == '{') && at_token_start()) {
            std::size_t depth = 0, k = i;
            while (k < text.size()) {
                const char d = text[k];
                if (d == '\'' || d == '"') {
                    k = std::min(quoted_end(k), text.size());
                    continue;
                }
                if (d == '[' || d == '{') ++depth;
                if ((d == ']' || d == '}') && --depth == 0) {
                    ++k;
                    break;
                }
                ++k;
            }
            if (depth != 0)
                throw InputError(at_line(path, line_of(text, i)), "CIF syntax",
                                 c == '[' ? "a list that is not closed"
                                          : "a table that is not closed");
            out += (c == '[' ? "[list]" : "{table}") + newlines(i, k);
            i = k;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

cif::Document parse(const std::string& path, std::vector<std::string>& warnings) {
    std::string text = file_bytes(path);
    if (const auto nul = text.find('\0'); nul != std::string::npos)
        throw InputError(at_line(path, line_of(text, nul)), "CIF text", "a NUL byte");
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) {
        text.erase(0, 3);
        warnings.push_back(at_line(path, 1) + ": warning: a UTF-8 byte-order mark, skipped");
    }
    if (text.rfind("#\\#CIF_2.0", 0) == 0) text = cif1_values(text, path);
    skip_text_before_data(text, path, warnings);
    cif::Document doc;
    doc.source = path;
    try {
        tao::pegtl::memory_input<> in(text, path);
        cif::parse_input(doc, in);
    } catch (const tao::pegtl::parse_error& e) {
        const auto& positions = e.positions();
        const std::string line = positions.empty() ? "" : ":" + std::to_string(positions[0].line);
        throw InputError(path + line, "CIF syntax", std::string(e.message()));
    } catch (const std::exception& e) {
        throw InputError(path, "a CIF file that can be read", e.what());
    }
    underscore_tags(doc);
    return doc;
}

// At most 20 block names, and how many more.
std::string block_list(const cif::Document& doc) {
    std::string names;
    const std::size_t shown = std::min<std::size_t>(doc.blocks.size(), 20);
    for (std::size_t i = 0; i < shown; ++i) names += (i == 0 ? "" : " ") + doc.blocks[i].name;
    if (doc.blocks.size() > shown)
        names += " and " + std::to_string(doc.blocks.size() - shown) + " more";
    return names;
}

// A tag given twice, or without a value: read past with a warning unless
// it is read. Of a tag that is read, a value given twice, or once
// beside an empty one (mineral databases write _chemical_formula_sum a
// second time, empty), is read with a warning; two values are refused.
void check_tags(cif::Block& block, const std::string& path, const TagPredicate& read,
                std::vector<std::string>& warnings) {
    struct Seen {
        cif::Item* item;
        int line;
        std::string* value; // null in a loop
    };
    const auto empty = [](const std::string* v) { return v && cif::as_string(*v).empty(); };
    std::unordered_map<std::string, Seen> seen;
    const auto look = [&](cif::Item& item, const std::string& tag, std::string* value) {
        const std::string lower = gemmi::to_lower(tag);
        const int line = item.line_number;
        const auto [it, first] = seen.emplace(lower, Seen{&item, line, value});
        if (first) return;
        Seen& before = it->second;
        const std::string head = at_line(path, line) + ": warning: " + tag +
                                 " given again (first at line " + std::to_string(before.line) + ")";
        if (!read(lower)) {
            warnings.push_back(head + "; peakhkl does not read it");
        } else if (value && before.value &&
                   cif::as_string(*value) == cif::as_string(*before.value)) {
            warnings.push_back(head + " with the same value");
        } else if (empty(value)) {
            warnings.push_back(head + " without a value; the value at line " +
                               std::to_string(before.line) + " is read");
            item.erase();
        } else if (empty(before.value)) {
            warnings.push_back(head + "; the first without a value, this one is read");
            before.item->erase();
            before = Seen{&item, line, value};
        } else {
            const auto shown = [](const std::string* v) {
                return v ? quoted(cif::as_string(*v)) : std::string("a loop");
            };
            throw InputError(at_line(path, line) + ": " + tag, "one value",
                             shown(before.value) + " at line " + std::to_string(before.line) +
                                 " and " + shown(value) + " at line " + std::to_string(line));
        }
    };
    for (cif::Item& item : block.items) {
        if (item.type == cif::ItemType::Pair) {
            if (item.pair[1].empty()) {
                if (read(gemmi::to_lower(item.pair[0])))
                    throw InputError(at_line(path, item.line_number) + ": " + item.pair[0],
                                     "a value", "none");
                warnings.push_back(at_line(path, item.line_number) + ": warning: " + item.pair[0] +
                                   " has no value; peakhkl does not read it");
                item.pair[1] = "?";
            }
            look(item, item.pair[0], &item.pair[1]);
        } else if (item.type == cif::ItemType::Loop) {
            for (const std::string& tag : item.loop.tags) look(item, tag, nullptr);
        }
    }
}

} // namespace

void underscore_tags(gemmi::cif::Document& doc) {
    // A DDLm tag names its category before the dot: _cell.length_a is _cell_length_a.
    const auto rewrite = [](std::string& tag) {
        if (const auto dot = tag.find('.'); dot != std::string::npos) tag[dot] = '_';
    };
    for (cif::Block& block : doc.blocks)
        for (cif::Item& item : block.items) {
            if (item.type == cif::ItemType::Pair) rewrite(item.pair[0]);
            if (item.type == cif::ItemType::Loop)
                for (std::string& tag : item.loop.tags) rewrite(tag);
        }
}

gemmi::cif::Block read_block(const std::string& path, const std::string& block_name,
                             const TagPredicate& read, std::vector<std::string>& warnings,
                             const std::function<bool(const gemmi::cif::Block&)>& usable,
                             const std::string& what) {
    cif::Document doc = parse(path, warnings);
    if (doc.blocks.empty()) throw InputError(path, "a data block (data_NAME)", "none");
    std::size_t index = 0;
    if (block_name.empty() && doc.blocks.size() > 1) {
        std::size_t count = 0;
        if (usable)
            for (std::size_t i = 0; i < doc.blocks.size(); ++i)
                if (usable(doc.blocks[i]) && count++ == 0) index = i;
        if (count != 1)
            throw InputError(path, "--block NAME to choose one of several data blocks",
                             "the blocks " + block_list(doc));
        warnings.push_back(path + ": note: data_" + doc.blocks[index].name +
                           " is taken, the only one of " + std::to_string(doc.blocks.size()) +
                           " blocks with " + what + " (--block NAME takes another)");
    } else if (!block_name.empty()) {
        const std::string wanted = gemmi::to_lower(block_name);
        std::size_t count = 0;
        for (std::size_t i = 0; i < doc.blocks.size(); ++i)
            if (gemmi::to_lower(doc.blocks[i].name) == wanted && count++ == 0) index = i;
        if (count == 0)
            throw InputError(path, "a data block named " + quoted(block_name),
                             "the blocks " + block_list(doc));
        if (count > 1)
            throw InputError(path, "one data block named " + quoted(block_name),
                             std::to_string(count));
    }
    cif::Block block = std::move(doc.blocks[index]);
    check_tags(block, path, read, warnings);
    return block;
}

} // namespace peakhkl
