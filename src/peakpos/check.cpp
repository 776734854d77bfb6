#include "check.hpp"

#include "celcon.hpp"
#include "common/name.hpp"
#include "pipeline.hpp"
#include "plot.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <map>
#include <string_view>
#include <utility>

namespace peakpos {

std::string warning_line(const Warning& w) {
    return where(w.at) + ": warning: " + w.text;
}

namespace {

constexpr int shown_max = 5; // warnings of one kind about single reflections

// The shortest text that gives back the float ("5.64", "0.5431", "NaN").
std::string text_of(float v) {
    if (std::isnan(v)) return "NaN";
    char buf[32];
    return std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

std::string excerpt(std::string_view text, bool cut) {
    return quoted(text) + (cut ? "..." : "");
}

// Where every item of the deck stood, and what the reader passed over.
class Recorder final : public DeckObserver {
  public:
    Recorder(const Run& run, std::vector<Warning>& warnings) : run_(run), warnings_(warnings) {}

    void item(Read read, int, Position at) override { items_[index(read)].push_back(at); }

    void discarded(Read read, Position at, std::string_view text, bool cut) override {
        // Text marked as a comment is meant to be passed over.
        if (text[0] == '/' || text[0] == '!' || text[0] == '#') return;
        const std::size_t taken = items_[index(read)].size();
        std::string what = excerpt(text, cut);
        if (taken == 0) {
            what += " on the " + name(read) + " line is not read: with npeak " +
                    std::to_string(run_.npeak) + " the " + name(read) + " read takes no value";
        } else {
            what += " after " + last_item(read, taken) +
                    " is not read: a read ignores the rest of its last line";
            if (read == Read::cell || read == Read::range)
                what += " (a value too many, or a decimal comma?)";
            else if (read == Read::npeak)
                what += " (is the npeak line missing?)";
            else
                what += " (one reflection per line, npeak too small, or a line missing?)";
        }
        warnings_.push_back(Warning{at, what});
    }

    void left_over(Position at, std::string_view text, bool cut, long lines) override {
        warnings_.push_back(Warning{at, std::to_string(lines) + (lines == 1 ? " line" : " lines") +
                                            " after the extinct flags' line " +
                                            (lines == 1 ? "is" : "are") + " not read, from " +
                                            excerpt(text, cut) +
                                            " (four-index h k i l lines, or a line too many?)"});
    }

    void looked_no_further(Position at) override {
        warnings_.push_back(Warning{at, "the input goes on past " + std::to_string(look_max >> 20) +
                                            " MiB after the l values: not read further"});
    }

    // Where item index (from 1) of read stood; line 0 when it was not read.
    Position at(Read read, int index) const {
        const auto& list = items_[this->index(read)];
        return index >= 1 && static_cast<std::size_t>(index) <= list.size() ? list[index - 1]
                                                                            : Position{};
    }

  private:
    static std::size_t index(Read read) { return static_cast<std::size_t>(read); }
    static std::string name(Read read) {
        static constexpr const char* names[] = {"",  "",  "cell", "ymin ymax zero", "npeak",
                                                "h", "k", "l",    "extinct"};
        return names[index(read)];
    }
    static std::string last_item(Read read, std::size_t taken) {
        switch (read) {
        case Read::cell:
            return "wave";
        case Read::range:
            return "zero";
        case Read::npeak:
            return "npeak";
        default:
            return name(read) + "(" + std::to_string(taken) + ")";
        }
    }

    const Run& run_;
    std::vector<Warning>& warnings_;
    std::array<std::vector<Position>, 9> items_; // by read
};

// The cell as the deck gives it, before the conversion rewrites it.
struct Cell {
    float a, b, c, alpha, beta, gamma;
};

// Returns true when the cell is no cell: no volume, or an angle whose sine is 0.
bool check_cell(const Cell& cell, const Run& run, const Recorder& places,
                std::vector<Warning>& out) {
    if (!(cell.a > 1.0f))
        out.push_back(Warning{places.at(Read::cell, 1),
                              "a is " + text_of(cell.a) +
                                  ", not above 1: the cell is taken as a reciprocal cell (a*, "
                                  "b*, c* and their angles); lengths in nm? a direct cell wants "
                                  "them in the wavelength's unit"});
    bool finite = std::isfinite(run.rcv) && run.rcv != 0 && std::isfinite(run.vol) && run.vol != 0;
    for (int i = 1; i <= 6; ++i) finite = finite && std::isfinite(run.prcp(i));
    if (finite) return false;
    const float lengths[] = {cell.a, cell.b, cell.c};
    int bad_length = 0;
    for (int i = 3; i >= 1; --i)
        if (!(lengths[i - 1] > 0 && std::isfinite(lengths[i - 1]))) bad_length = i;
    std::string what = "the cell " + text_of(cell.a) + " " + text_of(cell.b) + " " +
                       text_of(cell.c) + " " + text_of(cell.alpha) + " " + text_of(cell.beta) +
                       " " + text_of(cell.gamma);
    // The conversion divides by the sines, taken from the rounded cosines.
    int flat = 0;
    const float angles[] = {cell.alpha, cell.beta, cell.gamma};
    for (int i = 3; i >= 1; --i)
        if (std::fabs(static_cast<float>(std::cos(double{angles[i - 1]} * K))) == 1.0f) flat = i;
    Position at = places.at(Read::cell, 4);
    if (bad_length > 0) {
        what += " has a length that is not a number above 0";
        at = places.at(Read::cell, bad_length);
    } else if (flat > 0) {
        what += " has an angle of 0 or 180, or within about 0.014 of it, whose sine is 0";
        at = places.at(Read::cell, 3 + flat);
    } else {
        what += " has no volume (" + text_of(run.rcv) +
                "): its angles cannot close a cell (each must be below the sum of the other two, "
                "and the three below 360)";
    }
    out.push_back(Warning{at, what + ": d and 2theta mean nothing"});
    return true;
}

void check_reflections(const Run& run, const Recorder& places, bool explained,
                       std::vector<Warning>& out) {
    if (run.npeak <= 0) {
        out.push_back(Warning{places.at(Read::npeak, 1), "npeak is " + std::to_string(run.npeak) +
                                                             ": the deck lists no reflection"});
        return;
    }
    int unreachable = 0, nan = 0, visible = 0;
    for (int i = 1; i <= run.npeak; ++i) {
        if (run.tt(i) > 0) ++visible;
        if (run.tt(i) == -1.0f) ++unreachable;
        if (std::isnan(run.tt(i))) ++nan;
    }
    if (visible == 0 && !explained) {
        std::string what = "no reflection gives a stick: of " + std::to_string(run.npeak);
        const int others = run.npeak - unreachable - nan;
        const char* sep = ", ";
        for (const auto& [count, kind] :
             {std::pair{unreachable, " beyond the wavelength's reach (2theta -1)"},
              std::pair{nan, " with 2theta NaN"}, std::pair{others, " with 2theta 0 or below"}}) {
            if (count == 0) continue;
            what += sep + std::to_string(count) + kind;
            sep = "; ";
        }
        out.push_back(Warning{places.at(Read::cell, 7), what});
    }

    // Each kind about single reflections is shown for the first few, then
    // counted in one more warning where the next one stands.
    struct Kind {
        int count = 0;
        Position next;
    } zeros, repeats, flags;
    const auto add = [&](Kind& kind, Position at, std::string what) {
        if (++kind.count <= shown_max) out.push_back(Warning{at, std::move(what)});
        if (kind.count == shown_max + 1) kind.next = at;
    };
    std::map<std::array<std::int32_t, 3>, int> first;
    for (int i = 1; i <= run.npeak; ++i) {
        const auto [it, fresh] = first.try_emplace({run.h(i), run.k(i), run.l(i)}, i);
        if (run.h(i) == 0 && run.k(i) == 0 && run.l(i) == 0)
            add(zeros, places.at(Read::h, i),
                "reflection " + std::to_string(i) + " has the indices 0 0 0: no reflection");
        else if (!fresh)
            add(repeats, places.at(Read::h, i),
                "reflection " + std::to_string(i) + " (" + std::to_string(run.h(i)) + " " +
                    std::to_string(run.k(i)) + " " + std::to_string(run.l(i)) +
                    ") repeats reflection " + std::to_string(it->second));
        const std::int32_t flag = run.extinct(i);
        if (flag != 0 && flag != 1)
            add(flags, places.at(Read::extinct, i),
                "extinct(" + std::to_string(i) + ") is " + std::to_string(flag) +
                    ": any flag but 0 marks an extinct reflection, but a flag other than 0 and 1 "
                    "is often an index on the wrong line");
    }
    if (zeros.count > shown_max)
        out.push_back(Warning{zeros.next, std::to_string(zeros.count - shown_max) +
                                              " more reflections have the indices 0 0 0"});
    if (repeats.count > shown_max)
        out.push_back(Warning{repeats.next, std::to_string(repeats.count - shown_max) +
                                                " more reflections repeat an earlier one"});
    if (flags.count > shown_max)
        out.push_back(Warning{flags.next, std::to_string(flags.count - shown_max) +
                                              " more extinct flags are neither 0 nor 1"});
}

// The number of bytes of a UTF-8 character that begins with lead; 1 for a
// byte that cannot begin one.
int utf8_length(unsigned char lead) {
    return lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
}

void check_name(const Run& run, std::vector<Warning>& out) {
    const std::string_view dnam(run.dnam.data(), run.dnam.size());
    std::string_view word = name_word(run.dnam);
    const auto column = [&](std::string_view::size_type n) {
        return Position{1, static_cast<long>(word.data() - dnam.data() + n) + 1};
    };
    if (dnam.starts_with("\xEF\xBB\xBF")) {
        out.push_back(Warning{Position{1, 1}, "the deck begins with a byte-order mark (EF BB BF), "
                                              "which becomes part of the name word"});
        if (word.data() == dnam.data()) word.remove_prefix(3);
    }
    if (word == " ") {
        out.push_back(Warning{Position{1, 0}, "the name line is blank in its first 25 columns: "
                                              "the data set has no name for its vectors"});
        return;
    }
    const int at = vector_name_fault(word);
    if (at >= 0 && word[at] == ':')
        out.push_back(
            Warning{column(at - 1), "the name word " + quoted(word) +
                                        " holds \"::\", which Tcl takes for a "
                                        "namespace: a front end cannot make its vectors"});
    else if (at >= 0)
        out.push_back(Warning{column(at), "the name word " + quoted(word) + " holds " +
                                              quoted(word.substr(at, 1)) +
                                              ", which a BLT vector name cannot (letters, "
                                              "digits, _, . and : only): a front end cannot "
                                              "make its vectors"});
    // A character cut at column 25 leaves its first bytes at the end.
    if (word.data() + word.size() == dnam.data() + dnam.size()) {
        for (std::size_t n = 1; n <= 3 && n <= word.size(); ++n) {
            const unsigned char ch = static_cast<unsigned char>(word[word.size() - n]);
            if (ch < 0x80) break;
            if (ch >= 0xC0) {
                if (static_cast<std::size_t>(utf8_length(ch)) > n)
                    out.push_back(Warning{column(word.size() - n),
                                          "the name line is cut at column 25 inside a UTF-8 "
                                          "character: the name word ends in " +
                                              quoted(word.substr(word.size() - n))});
                break;
            }
        }
    }
}

} // namespace

std::vector<Warning> check_deck(ByteSource& in, Run& run) {
    std::vector<Warning> warnings;
    Recorder recorder(run, warnings);
    read_deck(in, run, &recorder);
    const Cell cell{run.a, run.b, run.c, run.alpha, run.beta, run.gamma};
    compute(run);

    check_name(run, warnings);
    const bool bad_cell = check_cell(cell, run, recorder, warnings);
    const bool bad_wave = !(run.wave > 0);
    if (bad_wave)
        warnings.push_back(Warning{recorder.at(Read::cell, 7),
                                   "wave is " + text_of(run.wave) +
                                       ", not above 0: no reflection can give a stick"});
    check_reflections(run, recorder, bad_cell || bad_wave, warnings);

    std::stable_sort(warnings.begin(), warnings.end(), [](const Warning& x, const Warning& y) {
        return x.at.line != y.at.line ? x.at.line < y.at.line : x.at.column < y.at.column;
    });
    return warnings;
}

void write_table(const Run& run, Sink& out) {
    std::string text = "i\th\tk\tl\td\t2theta\textinct\n";
    const auto field = [&](float v) {
        const std::string f = real_field(v);
        text.append(f, f.find_first_not_of(' '));
    };
    for (int i = 1; i <= run.npeak; ++i) {
        text += std::to_string(i) + "\t" + std::to_string(run.h(i)) + "\t" +
                std::to_string(run.k(i)) + "\t" + std::to_string(run.l(i)) + "\t";
        field(run.ds(i));
        text += "\t";
        field(run.tt(i));
        text += "\t" + std::to_string(run.extinct(i)) + "\n";
    }
    out.write(text);
    out.flush();
}

} // namespace peakpos
