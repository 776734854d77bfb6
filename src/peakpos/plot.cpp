#include "plot.hpp"

#include "common/name.hpp"

#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>

namespace peakpos {

namespace {

constexpr std::size_t line_limit = 80;
constexpr std::size_t field_max = 24; // " -" + at most 15 characters of "%.9G" text + "."

__extension__ typedef unsigned __int128 u128;

// The "%.9G" text of a float magnitude a whose text has no exponent (1E-04
// <= a < 1E+09 once rounded to nine digits), with the point that the field
// needs ("100."), worked out from a's exact value: the nine significant
// digits rounded half to even, as printf rounds, and trailing zeros dropped.
// Returns the end of the text, or nullptr when a needs the exponent form, is
// zero, subnormal, infinite or NaN: the library formats those.
// peakpos_fields_check (bench/) compares it with printf for every float.
char* fixed_point_g9(float a, char* out) {
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(a);
    const int biased = static_cast<int>(bits >> 23);
    // 2^-14 <= a < 2^30 holds everything from just below 1E-04 to 1E+09.
    if (biased < 127 - 14 || biased >= 127 + 30) return nullptr;
    const int binary = biased - 127;               // 2^binary <= a < 2^(binary + 1)
    const u128 m = (bits & 0x7FFFFFu) | 0x800000u; // a = m * 2^(binary - 23)
    static constexpr std::uint64_t pow10[] = {
        1,        10,        100,        1000,        10000,        100000,        1000000,
        10000000, 100000000, 1000000000, 10000000000, 100000000000, 1000000000000, 10000000000000};
    // k: the decimal exponent of a. floor(binary * log10(2)) is k or k - 1.
    int k = (binary * 78913) >> 18;
    std::uint64_t n = 0;
    for (;;) {
        if (k >= 9) return nullptr;
        // n = a * 10^(8 - k) = m * 10^(8 - k) * 2^(binary - 23), rounded.
        u128 num = m * pow10[8 - k];
        const int shift = 23 - binary;
        u128 q = num, r = 0, half = 0;
        if (shift <= 0) {
            q = num << -shift;
        } else {
            q = num >> shift;
            r = num & ((u128{1} << shift) - 1);
            half = u128{1} << (shift - 1);
        }
        if (q >= 1000000000) {
            ++k;
            continue;
        }
        n = static_cast<std::uint64_t>(q);
        if (shift > 0 && (r > half || (r == half && (n & 1)))) ++n;
        break;
    }
    if (n == 1000000000) { // rounded up into the next decade
        n = 100000000;
        ++k;
    }
    if (k < -4 || k >= 9) return nullptr;
    // Nine digits, two at a time.
    static constexpr char pairs[] = "00010203040506070809101112131415161718192021222324"
                                    "25262728293031323334353637383940414243444546474849"
                                    "50515253545556575859606162636465666768697071727374"
                                    "75767778798081828384858687888990919293949596979899";
    char digits[9];
    std::uint32_t d = static_cast<std::uint32_t>(n);
    digits[0] = static_cast<char>('0' + d / 100000000);
    d %= 100000000;
    for (int i = 7; i >= 1; i -= 2) {
        std::memcpy(digits + i, pairs + 2 * (d % 100), 2);
        d /= 100;
    }
    int len = 9;
    while (digits[len - 1] == '0') --len;
    char* p = out;
    if (k >= 0) {
        // The integer digits, then the point, then the fraction if any.
        for (int i = 0; i <= k; ++i) *p++ = i < len ? digits[i] : '0';
        *p++ = '.';
        for (int i = k + 1; i < len; ++i) *p++ = digits[i];
    } else {
        *p++ = '0';
        *p++ = '.';
        for (int i = -1; i > k; --i) *p++ = '0';
        std::memcpy(p, digits, static_cast<std::size_t>(len));
        p += len;
    }
    return p;
}

std::size_t format_real(float v, char* out) {
    std::size_t n = 0;
    out[n++] = ' ';
    double mag = v;
    if (v < 0.0f) {
        out[n++] = '-';
        mag = -mag;
    } else {
        out[n++] = ' '; // also for -0.0 and every NaN
    }
    if (mag == 0.0) {
        out[n++] = '0';
        out[n++] = '.';
        return n;
    }
    char* text = out + n;
    if (char* end = fixed_point_g9(static_cast<float>(mag), text))
        return static_cast<std::size_t>(end - out);
    // Everything else: to_chars with a precision gives exactly printf's
    // "%.9g"; "%.9G" is its upper-case form (E, INF, NAN).
    char* end = std::to_chars(text, out + field_max - 1, mag, std::chars_format::general, 9).ptr;
    char* exponent = nullptr;
    bool point = false;
    for (char* p = text; p != end; ++p) {
        if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
        if (*p == 'E') exponent = p;
        if (*p == '.') point = true;
    }
    const bool letters = *text == 'I' || *text == 'N';
    if (!letters && !point) {
        char* at = exponent ? exponent : end;
        std::memmove(at + 1, at, static_cast<std::size_t>(end - at));
        *at = '.';
        ++end;
    }
    return static_cast<std::size_t>(end - out);
}

// One output record: items on lines of fewer than 80 columns, each line
// starting with a blank, then a newline and a flush.
class Record {
  public:
    explicit Record(std::string& buf) : buf_(buf) { buf_.clear(); }

    Record& text(std::string_view t) {
        wrap(t.size());
        if (col_ == 0) put(" ");
        put(t);
        return *this;
    }
    Record& real(float v) {
        char f[field_max];
        return field(std::string_view(f, format_real(v, f)));
    }
    Record& field(std::string_view f) {
        wrap(f.size());
        put(f);
        return *this;
    }
    void end(Sink& out) {
        buf_ += '\n';
        out.write(buf_);
        out.flush();
    }

  private:
    void wrap(std::size_t len) {
        if (col_ > 0 && col_ + len >= line_limit) {
            buf_ += '\n';
            col_ = 0;
        }
    }
    void put(std::string_view s) {
        buf_ += s;
        col_ += s.size();
    }
    std::string& buf_;
    std::size_t col_ = 0;
};

} // namespace

std::string real_field(float v) {
    char f[field_max];
    return std::string(f, format_real(v, f));
}

void write_plot(const Run& run, Sink& out) {
    const std::string_view w = name_word(run.dnam);
    std::string buf;
    const auto text = [&](std::initializer_list<std::string_view> items) {
        Record r(buf);
        for (std::string_view t : items) r.text(t);
        r.end(out);
    };
    const auto list = [&](const Array1<float, maxpeak>& values) {
        Record r(buf);
        for (int i = 1; i <= run.npeak; ++i) r.real(values(i));
        r.end(out);
    };
    // Every stick mark goes from ymin up to ymax and back at one x.
    std::string ys;
    Record(ys).real(run.ymin).real(run.ymax).real(run.ymin);
    ys += '\n';
    // A reflection is visible when 2-theta is above zero: not the -1.0
    // marker, not 0, not NaN.
    const auto sticks = [&](std::initializer_list<std::string_view> xhead,
                            std::initializer_list<std::string_view> yhead, bool extinct) {
        text(xhead);
        for (int i = 1; i <= run.npeak; ++i) {
            if (!(run.tt(i) > 0.0f) || (run.extinct(i) != 0) != extinct) continue;
            const float x = static_cast<float>(double{run.tt(i)} + run.zero);
            char f[field_max];
            const std::string_view xf(f, format_real(x, f));
            Record(buf).field(xf).field(xf).field(xf).end(out);
        }
        text({"}"});
        text(yhead);
        for (int i = 1; i <= run.npeak; ++i) {
            if (!(run.tt(i) > 0.0f) || (run.extinct(i) != 0) != extinct) continue;
            out.write(ys);
            out.flush();
        }
        text({"}"});
    };

    text({"set ", w, "(x) {"});
    list(run.tt);
    text({"}"});
    text({"set ", w, "(dspaces) {"});
    list(run.ds);
    text({"}"});
    sticks({w, "_x set {"}, {w, "_y set {"}, false);
    sticks({"xextinct set {"}, {"yextinct set {"}, true);
}

} // namespace peakpos
