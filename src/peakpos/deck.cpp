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

std::string where(Position at) {
    std::string s = "line " + std::to_string(at.line);
    if (at.column > 0) s += ", column " + std::to_string(at.column);
    return s;
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

DeckError::DeckError(Position at_, std::string item_, std::string expected_, std::string found_)
    : std::runtime_error(where(at_) + ": " + item_ + ": expected " + expected_ + ", found " +
                         found_),
      at(at_), item(std::move(item_)), expected(std::move(expected_)), found(std::move(found_)) {}

namespace {

constexpr int end_of_input = -1;
constexpr std::size_t excerpt_max = 40; // bytes of a bad field shown in a diagnostic
constexpr int kept_digits = 40;         // significant digits of a value; later ones are dropped
constexpr std::int64_t max_exponent = 99999999;

// Thrown by Input at its byte limit.
struct LimitReached {};

// The deck as a stream of bytes with line numbers, and columns worked out
// from the offset where the line begins (nothing is counted per byte). A
// carriage return directly before a line feed belongs to the line end; the
// first one that does not is remembered, since it looks like a line end and
// is not. Reads in blocks and never holds more than one block, however long
// the lines.
class Input {
  public:
    explicit Input(ByteSource& src) : src_(src) {}

    // Reading past offset limit (0: none) throws LimitReached.
    void set_limit(long limit) { limit_ = limit; }

    int get() {
        int c;
        if (back_ != none) {
            c = back_;
            back_ = none;
        } else {
            c = raw();
            if (c == '\r') c = after_cr();
        }
        if (c == '\n') {
            ++line_;
            last_start_ = start_;
            start_ = raw_next();
        }
        return c;
    }
    // Gives back the byte that get() just returned.
    void unget(int c) {
        if (c == end_of_input) return;
        if (c == '\n') {
            --line_;
            start_ = last_start_;
        }
        back_ = c;
    }
    long line() const { return line_; }
    // The offset in the input of the next byte, when it is no line end.
    long offset() const { return raw_next() - (back_ == none ? 0 : 1); }
    // Where the next byte stands, when it is no line end.
    Position here() const { return Position{line_, offset() - start_ + 1}; }
    // Where the byte at offset stands: on this line, or on the one before
    // when a line end has been taken since.
    Position position_of(long off) const {
        return off >= start_ ? Position{line_, off - start_ + 1}
                             : Position{line_ - 1, off - last_start_ + 1};
    }
    // The bytes of the line of offset that stand before it and that the
    // block in hand still holds, up to n of them.
    std::string_view before(long off, long n) const {
        const long from = std::max({off - n, off >= start_ ? start_ : last_start_, base_});
        if (off > base_ + static_cast<long>(len_) || from >= off) return {};
        return std::string_view(buf_ + (from - base_), static_cast<std::size_t>(off - from));
    }
    // Where the byte that get() just returned stood, when it was no line end.
    Position last() const { return Position{line_, raw_next() - start_}; }
    bool ended() const { return ended_ && back_ == none; }
    // The first carriage return not followed by a line feed (line 0: none yet).
    Position lone_cr() const { return lone_cr_; }

  private:
    static constexpr int none = -2;
    // A carriage return: the line end when a line feed follows, else data.
    [[gnu::noinline]] int after_cr() {
        const int d = raw();
        if (d == '\n') return '\n';
        if (d != end_of_input) --pos_; // the block in hand still holds it
        if (lone_cr_.line == 0) lone_cr_ = Position{line_, raw_next() - start_};
        return '\r';
    }
    int raw() {
        if (pos_ == len_) {
            if (ended_) return end_of_input;
            base_ += static_cast<long>(len_);
            len_ = 0;
            std::size_t want = sizeof buf_;
            if (limit_ > 0) {
                if (base_ >= limit_) throw LimitReached{};
                want = std::min(want, static_cast<std::size_t>(limit_ - base_));
            }
            len_ = src_.read(buf_, want);
            pos_ = 0;
            if (len_ == 0) {
                ended_ = true;
                return end_of_input;
            }
        }
        return static_cast<unsigned char>(buf_[pos_++]);
    }
    // The offset in the input of the next byte raw() reads.
    long raw_next() const { return base_ + static_cast<long>(pos_); }

    ByteSource& src_;
    char buf_[1 << 16];
    std::size_t pos_ = 0, len_ = 0;
    long base_ = 0; // the offset of buf_ in the input
    long limit_ = 0;
    bool ended_ = false;
    int back_ = none;
    long line_ = 1;
    long start_ = 0, last_start_ = 0; // the offsets where this line and the one before begin
    Position lone_cr_;
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

// The first bytes of a run of text, as a diagnostic quotes them.
class Excerpt {
  public:
    // Skips blanks, then takes the rest of the line and its line end; returns
    // where the text begins.
    Position take_line(Input& in) {
        int c;
        do c = in.get();
        while (is_blank(c));
        const Position at = in.last();
        for (; c != '\n' && c != end_of_input; c = in.get()) {
            if (n_ < excerpt_max) {
                text_[n_++] = static_cast<char>(c);
                if (!is_blank(c)) used_ = n_;
            } else if (!is_blank(c)) {
                cut_ = true;
            }
        }
        return at;
    }
    std::string_view text() const { return std::string_view(text_, used_); }
    bool cut() const { return cut_; }

  private:
    char text_[excerpt_max];
    std::size_t n_ = 0, used_ = 0; // bytes kept; up to the last non-blank one
    bool cut_ = false;
};

// One free-format read: items separated by blanks, tabs, line ends or a
// comma; a comma where a value should begin is a null value (the item keeps
// its value); r*v is r copies of v and r* r null values; a slash ends the
// read. A tolerant read stops quietly at the end of the input.
class ListRead {
  public:
    ListRead(Input& in, bool tolerant, Read read, DeckObserver* observer)
        : in_(in), tolerant_(tolerant), read_(read), observer_(observer) {}

    // Reads the next item; false when it keeps its value.
    bool next(double& value, const ItemName& item) {
        if (stopped_) return false;
        if (copies_ == 0) {
            for (;;) {
                const int c = in_.get();
                if (c == end_of_input) {
                    if (tolerant_) {
                        stopped_ = true;
                        kept_at_ = in_.here();
                        return false;
                    }
                    throw DeckError(Position{in_.line(), 0}, item.str(), "a number",
                                    "end of input");
                }
                if (is_blank(c) || c == '\n') continue;
                if (c == '/') {
                    stopped_ = slashed_ = true;
                    kept_at_ = in_.last();
                    return false;
                }
                if (c == ',') {
                    kept_at_ = in_.last();
                    return false;
                }
                in_.unget(c);
                break;
            }
            parse(item);
        }
        kept_at_.line = 0;
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

    // Discards the rest of the line on which the read ended (and shows the
    // observer what it held, unless a slash ended the read).
    void finish() {
        if (observer_ != nullptr && !slashed_) {
            Excerpt rest;
            const Position at = rest.take_line(in_);
            if (!rest.text().empty()) observer_->discarded(read_, at, rest.text(), rest.cut());
            return;
        }
        int c;
        do c = in_.get();
        while (c != '\n' && c != end_of_input);
    }

    // The text and place of the last value read, for a diagnostic about it.
    std::string_view field() const { return std::string_view(field_, nfield_); }
    Position field_at() const { return in_.position_of(field_offset_); }
    // Where the item that next() last handed out got its value, or kept it.
    Position at() const { return kept_at_.line != 0 ? kept_at_ : field_at(); }

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
        // A field that begins right after a value's last byte, with no
        // separator between: a letter glued to a number. The value's text
        // stands right before the field on its line (as far as the block in
        // hand still holds it).
        std::string_view value = in_.before(field_offset_, excerpt_max);
        std::size_t n = value.size();
        while (n > 0 && !ends_field(static_cast<unsigned char>(value[n - 1]))) --n;
        value.remove_prefix(n);
        const Position at = field_at();

        while (!ends_field(c) && nfield_ < excerpt_max) c = take();
        while (nfield_ > 0 && ends_field(static_cast<unsigned char>(field_[nfield_ - 1])))
            --nfield_;
        if (nfield_ == 0)
            throw DeckError(Position{at.line, 0}, item.str(), expected, "end of input");
        std::string found = quoted(field());
        if (!value.empty()) found += " right after " + std::string(value);
        if (c == end_of_input) found += " and then the end of input";
        throw DeckError(at, item.str(), expected, found);
    }

    // One value, or a repeat count followed by a value or by nothing.
    void parse(const ItemName& item) {
        nfield_ = 0;
        field_offset_ = in_.offset();
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
    Read read_;
    DeckObserver* observer_;
    bool stopped_ = false;    // a slash, or the end of input in a tolerant read
    bool slashed_ = false;    // a slash
    std::int64_t copies_ = 0; // copies of the last value still to hand out
    bool has_value_ = false;  // false: the copies are null values
    double repeated_ = 0.0;
    char field_[excerpt_max]; // the start of the value's text
    std::size_t nfield_ = 0;
    bool kept_ = false;     // the last byte taken went into field_
    long field_offset_ = 0; // where the value's text begins in the input
    Position kept_at_;      // where the last item kept its value (line 0: it got one)
};

float to_real(double v) {
    return static_cast<float>(v);
} // beyond the float range: infinity

std::int32_t to_integer(double v, const ListRead& r, const ItemName& item) {
    // The conversion truncates toward zero; everything that truncates into
    // the 32-bit range lies strictly between these two bounds.
    if (!(v > -2147483649.0 && v < 2147483648.0))
        throw DeckError(r.field_at(), item.str(), "an integer from -2147483648 to 2147483647",
                        quoted(r.field()));
    return static_cast<std::int32_t>(v);
}

void check_name_word(const Run& run);

void read_name(Input& in, Run& run) {
    run.dnam.fill(' ');
    try {
        for (std::size_t col = 0;; ++col) {
            const int c = in.get();
            if (c == '\n') break;
            if (c == end_of_input)
                throw DeckError(Position{1, 0}, "the name line",
                                col == 0 ? "a line" : "the end of the line", "end of input");
            if (col < run.dnam.size()) run.dnam[col] = static_cast<char>(c);
        }
    } catch (const LimitReached&) {
        // A name line without end: its name word is refused as it would be
        // once the line ended.
        check_name_word(run);
        throw;
    }
    check_name_word(run);
}

void check_name_word(const Run& run) {
    // The name word is written into Tcl commands and variable names.
    const std::string_view word = name_word(run.dnam);
    const int bad = unsafe_name_byte(word);
    if (bad >= 0) {
        const char byte = static_cast<char>(bad);
        const long column = word.data() - run.dnam.data() + 1 + static_cast<long>(word.find(byte));
        throw DeckError(Position{1, column}, "the name line",
                        "a name word without Tcl syntax or control characters",
                        quoted(std::string_view(&byte, 1)));
    }
}

Position end_of(const Input& in) {
    return Position{in.line(), 0};
}

// A read of real items, each begun on a fresh line after the previous read.
void read_reals(Input& in, Read read, DeckObserver* observer,
                std::initializer_list<std::pair<const char*, float*>> items) {
    if (in.ended()) throw DeckError(end_of(in), items.begin()->first, "a number", "end of input");
    ListRead r(in, false, read, observer);
    int index = 0;
    for (auto [name, field] : items) {
        double v;
        if (r.next(v, ItemName{name})) *field = to_real(v);
        if (observer != nullptr) observer->item(read, ++index, r.at());
    }
    r.finish();
}

void read_list(Input& in, Read read, DeckObserver* observer, const char* name,
               Array1<std::int32_t, maxpeak>& list, int n, bool tolerant, bool needs_line_end) {
    if (in.ended()) {
        if (tolerant) return;
        throw DeckError(end_of(in), n > 0 ? ItemName{name, 1}.str() : name,
                        n > 0 ? "a number" : "a line", "end of input");
    }
    ListRead r(in, tolerant, read, observer);
    for (int i = 1; i <= n; ++i) {
        const ItemName item{name, i};
        double v;
        if (r.next(v, item)) list(i) = to_integer(v, r, item);
        if (observer != nullptr) observer->item(read, i, r.at());
    }
    r.finish();
    // A read with no items still takes a line, and the next read must be
    // able to begin after it.
    if (n <= 0 && needs_line_end && in.ended())
        throw DeckError(end_of(in), name, "the end of the line", "end of input");
}

// Shows the observer the lines after the last read that hold text.
void report_left_over(Input& in, DeckObserver& observer) {
    Excerpt first;
    Position at;
    long lines = 0;
    while (!in.ended()) {
        if (lines == 0) {
            at = first.take_line(in);
            if (!first.text().empty()) lines = 1;
        } else {
            Excerpt rest;
            rest.take_line(in);
            if (!rest.text().empty()) ++lines;
        }
    }
    if (lines > 0) observer.left_over(at, first.text(), first.cut(), lines);
}

void read_all(Input& in, Run& run, DeckObserver* observer) {
    if (observer != nullptr) in.set_limit(deck_max);
    read_name(in, run);
    read_reals(in, Read::cell, observer,
               {{"a", &run.a},
                {"b", &run.b},
                {"c", &run.c},
                {"alpha", &run.alpha},
                {"beta", &run.beta},
                {"gamma", &run.gamma},
                {"wave", &run.wave}});
    read_reals(in, Read::range, observer,
               {{"ymin", &run.ymin}, {"ymax", &run.ymax}, {"zero", &run.zero}});

    if (in.ended()) throw DeckError(end_of(in), "npeak", "a number", "end of input");
    ListRead r4(in, false, Read::npeak, observer);
    double v;
    if (r4.next(v, ItemName{"npeak"})) {
        run.npeak = to_integer(v, r4, ItemName{"npeak"});
        if (run.npeak > maxpeak)
            throw DeckError(r4.field_at(), "npeak", "at most 5000 reflections", quoted(r4.field()));
    }
    if (observer != nullptr) observer->item(Read::npeak, 1, r4.at());
    r4.finish();

    // Input may end after the last l value, and anywhere in the extinct flags.
    read_list(in, Read::h, observer, "h", run.h, run.npeak, false, true);
    read_list(in, Read::k, observer, "k", run.k, run.npeak, false, true);
    read_list(in, Read::l, observer, "l", run.l, run.npeak, false, false);
    if (observer == nullptr) {
        read_list(in, Read::extinct, nullptr, "extinct", run.extinct, run.npeak, true, false);
        return;
    }
    in.set_limit(in.offset() + look_max);
    try {
        read_list(in, Read::extinct, observer, "extinct", run.extinct, run.npeak, true, false);
        report_left_over(in, *observer);
    } catch (const LimitReached&) {
        observer->looked_no_further(Position{in.line(), 0});
    }
}

} // namespace

void read_deck(ByteSource& src, Run& run, DeckObserver* observer) {
    Input in(src);
    try {
        try {
            read_all(in, run, observer);
        } catch (const LimitReached&) {
            throw DeckError(Position{in.line(), 0}, "the deck",
                            "its l values within " + std::to_string(deck_max >> 20) + " MiB",
                            "more (a check reads no further)");
        }
    } catch (const DeckError& e) {
        // A deck whose lines end in a lone CR reads as one long line.
        const Position cr = in.lone_cr();
        if (cr.line == 0) throw;
        throw DeckError(e.at, e.item, e.expected,
                        e.found + "; the lone CR (an old Mac line end) at " + where(cr) +
                            " does not end a line");
    }
}

} // namespace peakpos
