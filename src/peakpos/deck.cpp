#include "deck.hpp"

#include "common/name.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string_view>
#include <utility>

namespace peakpos {

DeckError::DeckError(long line_, std::string item_, std::string expected_, std::string found_)
    : std::runtime_error("line " + std::to_string(line_) + ": " + item_ + ": expected " +
                         expected_ + ", found " + found_),
      line(line_), item(std::move(item_)), expected(std::move(expected_)),
      found(std::move(found_)) {}

namespace {

constexpr int end_of_input = -1;
constexpr std::size_t excerpt_max = 40; // bytes of a bad field shown in a diagnostic
constexpr int kept_digits = 40;         // significant digits of a value; later ones are dropped
constexpr std::int64_t max_exponent = 99999999;

// The deck as a stream of bytes with line numbers. A carriage return
// directly before a line feed belongs to the line end. Reads in blocks and
// never holds more than one block, however long the lines.
class Input {
  public:
    explicit Input(ByteSource& src) : src_(src) {}

    int get() {
        int c;
        if (back_ != none) {
            c = back_;
            back_ = none;
        } else {
            c = raw();
            if (c == '\r') {
                const int d = raw();
                if (d == '\n')
                    c = '\n';
                else
                    rawback_ = d;
            }
        }
        if (c == '\n') ++line_;
        return c;
    }
    // Gives back the byte that get() just returned.
    void unget(int c) {
        if (c == end_of_input) return;
        if (c == '\n') --line_;
        back_ = c;
    }
    long line() const { return line_; }
    bool ended() const { return ended_ && back_ == none && rawback_ == none; }

  private:
    static constexpr int none = -2;
    int raw() {
        if (rawback_ != none) {
            const int c = rawback_;
            rawback_ = none;
            return c;
        }
        if (pos_ == len_) {
            if (ended_) return end_of_input;
            len_ = src_.read(buf_, sizeof buf_);
            pos_ = 0;
            if (len_ == 0) {
                ended_ = true;
                return end_of_input;
            }
        }
        return static_cast<unsigned char>(buf_[pos_++]);
    }

    ByteSource& src_;
    char buf_[1 << 16];
    std::size_t pos_ = 0, len_ = 0;
    bool ended_ = false;
    int back_ = none, rawback_ = none;
    long line_ = 1;
};

bool is_digit(int c) {
    return c >= '0' && c <= '9';
}
bool is_sign(int c) {
    return c == '+' || c == '-';
}
bool is_blank(int c) {
    return c == ' ' || c == '\t';
}
bool ends_field(int c) {
    return c == end_of_input || is_blank(c) || c == '\n' || c == ',' || c == '/';
}

std::string quoted(std::string_view bytes) {
    std::string q = "\"";
    for (const char ch : bytes) {
        const unsigned char u = static_cast<unsigned char>(ch);
        if (u >= 0x20 && u < 0x7F && ch != '"' && ch != '\\') {
            q += ch;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            q += hex;
        }
    }
    return q + "\"";
}

// The name of the item being read, spelt out only for a diagnostic.
struct ItemName {
    const char* base;
    int index = 0; // 1-based position in a list; 0 for a single item
    std::string str() const {
        return index == 0 ? base : std::string(base) + "(" + std::to_string(index) + ")";
    }
};

// The decimal text of a value, as far as it is kept: its sign, its first 40
// significant digits and the power of ten that scales them.
struct Decimal {
    bool negative = false;
    char digits[kept_digits];
    int ndigits = 0;
    std::int64_t exponent = 0;

    // The nearest double to the text (zero, never negative zero, without
    // significant digits).
    double value() const {
        int n = ndigits;
        std::int64_t e = exponent;
        while (n > 0 && digits[n - 1] == '0') --n, ++e;
        if (n == 0) return 0.0;
        double v;
        if (n <= 15 && e >= -22 && e <= 22) {
            // Both operands exact: one correctly rounded operation.
            static constexpr double pow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                               1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                               1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
            std::int64_t m = 0;
            for (int i = 0; i < n; ++i) m = m * 10 + (digits[i] - '0');
            v = e >= 0 ? static_cast<double>(m) * pow10[e] : static_cast<double>(m) / pow10[-e];
        } else {
            char text[kept_digits + 32];
            std::snprintf(text, sizeof text, "%.*se%lld", n, digits, static_cast<long long>(e));
            v = std::strtod(text, nullptr);
        }
        return negative ? -v : v;
    }
};

// One free-format read: items separated by blanks, tabs, line ends or a
// comma; a comma where a value should begin is a null value (the item keeps
// its value); r*v is r copies of v and r* r null values; a slash ends the
// read. A tolerant read stops quietly at the end of the input.
class ListRead {
  public:
    ListRead(Input& in, bool tolerant) : in_(in), tolerant_(tolerant) {}

    // Reads the next item; false when it keeps its value.
    bool next(double& value, const ItemName& item) {
        if (stopped_) return false;
        if (copies_ == 0) {
            for (;;) {
                const int c = in_.get();
                if (c == end_of_input) {
                    if (tolerant_) {
                        stopped_ = true;
                        return false;
                    }
                    throw DeckError(in_.line(), item.str(), "a number", "end of input");
                }
                if (is_blank(c) || c == '\n') continue;
                if (c == '/') {
                    stopped_ = true;
                    return false;
                }
                if (c == ',') return false;
                in_.unget(c);
                break;
            }
            parse(item);
        }
        // After a value: blanks, and one comma as its separator (taken with
        // the last copy of a repeat).
        int c;
        do c = in_.get();
        while (is_blank(c));
        if (c != ',' || copies_ > 1) in_.unget(c);
        --copies_;
        value = repeated_;
        return has_value_;
    }

    // Discards the rest of the line on which the read ended.
    void finish() {
        int c;
        do c = in_.get();
        while (c != '\n' && c != end_of_input);
    }

    // The text and line of the last value read, for a diagnostic about it.
    std::string_view field() const { return std::string_view(field_, nfield_); }
    long field_line() const { return field_line_; }

  private:
    int take() {
        const int c = in_.get();
        kept_ = c != end_of_input && nfield_ < excerpt_max;
        if (kept_) field_[nfield_++] = static_cast<char>(c);
        return c;
    }
    void give_back(int c) {
        in_.unget(c);
        if (kept_) --nfield_;
        kept_ = false;
    }

    [[noreturn]] void fail(const ItemName& item, const char* expected, int c) {
        while (!ends_field(c) && nfield_ < excerpt_max) c = take();
        while (nfield_ > 0 && ends_field(static_cast<unsigned char>(field_[nfield_ - 1])))
            --nfield_;
        std::string found = nfield_ == 0 ? "end of input" : quoted(field());
        if (c == end_of_input && nfield_ > 0) found += " and then the end of input";
        throw DeckError(field_line_, item.str(), expected, found);
    }

    // One value, or a repeat count followed by a value or by nothing.
    void parse(const ItemName& item) {
        nfield_ = 0;
        field_line_ = in_.line();
        copies_ = 1;
        bool after_star = false;
        for (;;) {
            Decimal d;
            bool sign = false, point = false, any = false;
            int c = take();
            if (is_sign(c)) {
                sign = true;
                d.negative = c == '-';
                c = take();
            }
            for (; c == '0'; c = take()) any = true;
            for (; is_digit(c); c = take()) {
                if (d.ndigits < kept_digits)
                    d.digits[d.ndigits++] = static_cast<char>(c);
                else
                    ++d.exponent;
            }
            if (c == '*' && !after_star) {
                if (d.ndigits == 0 || d.negative) fail(item, "a repeat count of at least 1", c);
                copies_ = 0;
                for (int i = 0; i < d.ndigits; ++i)
                    copies_ = std::min<std::int64_t>(copies_ * 10 + (d.digits[i] - '0'), maxcopies);
                if (d.exponent > 0) copies_ = maxcopies;
                after_star = true;
                continue;
            }
            if (c == '.') {
                point = true;
                c = take();
                if (d.ndigits == 0)
                    for (; c == '0'; c = take()) any = true, --d.exponent;
                for (; is_digit(c); c = take()) {
                    if (d.ndigits < kept_digits) {
                        d.digits[d.ndigits++] = static_cast<char>(c);
                        --d.exponent;
                    }
                }
            }
            any = any || d.ndigits > 0;
            if (any && (is_sign(c) || c == 'e' || c == 'E' || c == 'd' || c == 'D')) {
                if (!is_sign(c)) c = take();
                bool minus = false;
                if (is_sign(c)) {
                    minus = c == '-';
                    c = take();
                }
                if (!is_digit(c)) fail(item, "digits in the exponent", c);
                std::int64_t e = 0;
                for (; is_digit(c); c = take()) {
                    e = e * 10 + (c - '0');
                    if (e > max_exponent) fail(item, "an exponent of at most 99999999", c);
                }
                d.exponent += minus ? -e : e;
            }
            if (!any) {
                const bool separator = is_blank(c) || c == '\n' || c == ',' || c == '/' ||
                                       (c == end_of_input && tolerant_);
                if (after_star && !sign && !point && separator) {
                    give_back(c);
                    has_value_ = false; // r null values
                    return;
                }
                fail(item, "a number", c);
            }
            give_back(c);
            has_value_ = true;
            repeated_ = d.value();
            return;
        }
    }

    // More copies than any read takes; ten times it plus a digit still fits.
    static constexpr std::int64_t maxcopies = std::int64_t{1} << 59;
    Input& in_;
    bool tolerant_;
    bool stopped_ = false;    // a slash, or the end of input in a tolerant read
    std::int64_t copies_ = 0; // copies of the last value still to hand out
    bool has_value_ = false;  // false: the copies are null values
    double repeated_ = 0.0;
    char field_[excerpt_max]; // the start of the value's text
    std::size_t nfield_ = 0;
    bool kept_ = false; // the last byte taken went into field_
    long field_line_ = 0;
};

float to_real(double v) {
    return static_cast<float>(v);
} // beyond the float range: infinity

std::int32_t to_integer(double v, const ListRead& r, const ItemName& item) {
    // The conversion truncates toward zero; everything that truncates into
    // the 32-bit range lies strictly between these two bounds.
    if (!(v > -2147483649.0 && v < 2147483648.0))
        throw DeckError(r.field_line(), item.str(), "an integer from -2147483648 to 2147483647",
                        quoted(r.field()));
    return static_cast<std::int32_t>(v);
}

void read_name(Input& in, Run& run) {
    run.dnam.fill(' ');
    for (std::size_t col = 0;; ++col) {
        const int c = in.get();
        if (c == '\n') break;
        if (c == end_of_input)
            throw DeckError(1, "dnam", col == 0 ? "the name line" : "the end of the name line",
                            "end of input");
        if (col < run.dnam.size()) run.dnam[col] = static_cast<char>(c);
    }
    // The name word is written into Tcl commands and variable names.
    const int bad = unsafe_name_byte(name_word(run.dnam));
    if (bad >= 0)
        throw DeckError(1, "dnam", "a name word without Tcl syntax or control characters",
                        quoted(std::string(1, static_cast<char>(bad))));
}

// A read of real items, each begun on a fresh line after the previous read.
void read_reals(Input& in, std::initializer_list<std::pair<const char*, float*>> items) {
    if (in.ended()) throw DeckError(in.line(), items.begin()->first, "a number", "end of input");
    ListRead r(in, false);
    for (auto [name, field] : items) {
        double v;
        if (r.next(v, ItemName{name})) *field = to_real(v);
    }
    r.finish();
}

void read_list(Input& in, const char* name, Array1<std::int32_t, maxpeak>& list, int n,
               bool tolerant, bool needs_line_end) {
    if (in.ended()) {
        if (tolerant) return;
        throw DeckError(in.line(), n > 0 ? ItemName{name, 1}.str() : name,
                        n > 0 ? "a number" : "a line", "end of input");
    }
    ListRead r(in, tolerant);
    for (int i = 1; i <= n; ++i) {
        const ItemName item{name, i};
        double v;
        if (r.next(v, item)) list(i) = to_integer(v, r, item);
    }
    r.finish();
    // A read with no items still takes a line, and the next read must be
    // able to begin after it.
    if (n <= 0 && needs_line_end && in.ended())
        throw DeckError(in.line(), name, "the end of the line", "end of input");
}

} // namespace

void read_deck(ByteSource& src, Run& run) {
    Input in(src);
    read_name(in, run);
    read_reals(in, {{"a", &run.a},
                    {"b", &run.b},
                    {"c", &run.c},
                    {"alpha", &run.alpha},
                    {"beta", &run.beta},
                    {"gamma", &run.gamma},
                    {"wave", &run.wave}});
    read_reals(in, {{"ymin", &run.ymin}, {"ymax", &run.ymax}, {"zero", &run.zero}});

    if (in.ended()) throw DeckError(in.line(), "npeak", "a number", "end of input");
    ListRead r4(in, false);
    double v;
    if (r4.next(v, ItemName{"npeak"})) {
        run.npeak = to_integer(v, r4, ItemName{"npeak"});
        if (run.npeak > maxpeak)
            throw DeckError(r4.field_line(), "npeak", "at most 5000 reflections",
                            quoted(r4.field()));
    }
    r4.finish();

    // Input may end after the last l value, and anywhere in the extinct flags.
    read_list(in, "h", run.h, run.npeak, false, true);
    read_list(in, "k", run.k, run.npeak, false, true);
    read_list(in, "l", run.l, run.npeak, false, false);
    read_list(in, "extinct", run.extinct, run.npeak, true, false);
}

} // namespace peakpos
