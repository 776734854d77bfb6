// A measured powder pattern as its file gives it: one or more ranges of
// (2theta, counts, sigma), the wavelengths the file states, its metadata.
// No crystallography here: the viewer and the fit read files through this
// one reader, so that they read every file the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pattern {

// One scan: x strictly increasing, y and sigma of the same length.
struct Range {
    std::vector<double> x;     // 2theta, degrees
    std::vector<double> y;     // counts, or the intensity as the file gives it
    std::vector<double> sigma; // as the file gives it, else sqrt(max(y, 1))
    bool sigma_given = false;
    // Indices i where the scan has a gap between points i-1 and i (the step
    // jumps to many times its usual size): a line drawn through the range
    // breaks there.
    std::vector<std::size_t> gaps;
    // Seconds per step where the file gives it (NaN otherwise).
    double step_time = std::numeric_limits<double>::quiet_NaN();
    // With Options::all_columns: every numeric column after x, as read
    // (columns[0] is y); empty otherwise.
    std::vector<std::vector<double>> columns;
    std::vector<std::pair<std::string, std::string>> meta; // the range's own
};

// The wavelengths the file states, in angstroms; NaN where it states none.
struct Wavelengths {
    double alpha1 = std::numeric_limits<double>::quiet_NaN();
    double alpha2 = std::numeric_limits<double>::quiet_NaN();
    double ratio = std::numeric_limits<double>::quiet_NaN(); // I(alpha2) / I(alpha1)
    std::string source; // where it was read, for a person ("line 1", "header", ...)
};

// A line read otherwise than as a point, or a column left unread: said to
// the user, never dropped in silence. line 0: the whole file.
struct Note {
    std::size_t line = 0;
    std::string text;
};

struct Pattern {
    std::string format; // "columns", "gsas-std", "gsas-esd", "gsas-fxye", or libxy's format name
    std::vector<Range> ranges;
    Wavelengths wave;
    std::vector<std::pair<std::string, std::string>> meta; // the file's own
    std::vector<Note> notes;

    std::size_t points() const;
};

// A file refused: "FILE:LINE: reason" (LINE left out where no line is to blame).
class ReadError : public std::runtime_error {
  public:
    ReadError(std::string file, std::size_t line, std::string reason);
    const std::string& file() const { return file_; }
    std::size_t line() const { return line_; }
    const std::string& reason() const { return reason_; }

  private:
    std::string file_;
    std::size_t line_;
    std::string reason_;
};

struct Options {
    std::uint64_t max_bytes = 128ull << 20; // a larger file is refused before it is read
    std::size_t max_points = 2'000'000;
    // Plain columns: keep every numeric column in Range::columns and take
    // sigma from y alone (for tables whose third column is no sigma, such
    // as peakfit's PREFIX.xye: 2theta, observed, calculated, background,
    // difference).
    bool all_columns = false;
};

// Reads the pattern at path: plain columns, the GSAS raw formats, or any
// format libxy reads. Throws ReadError.
Pattern read(const std::string& path, const Options& options = {});

// Reads the pattern in bytes, as read does the file's (file: its name for
// the messages and, for libxy, its extension); for standard input and
// bytes already in memory.
Pattern parse(std::string_view bytes, const std::string& file, const Options& options = {});

} // namespace pattern
