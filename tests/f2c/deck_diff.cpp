// Reads generated decks with peakpos's reader and with the f2c run-time
// library (libf2c_reader) and requires the same outcome: the same record bit
// for bit, or both refusing the deck. Where peakpos departs from the library
// on purpose (deviations.hpp), the library is given the deck as peakpos
// understands it, or its record is judged by peakpos's rule.
//
//   deck_diff LIBF2C_READER
//
// PEAKPOS_DIFF_DECKS sets the number of decks (default 3000),
// PEAKPOS_DIFF_SEED the seed (default 1), PEAKPOS_DIFF_FIRST the first deck
// number (to replay one deck of a long run); a long run shows its progress
// on standard error every 2 seconds. A deck on which the two
// disagree is written to disagreement-SEED-NUMBER.deck in the working
// directory.
#include "deck_gen.hpp"
#include "deviations.hpp"
#include "record_text.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using namespace peakpos::test;

std::uint64_t env_number(const char* name, std::uint64_t fallback) {
    const char* v = std::getenv(name);
    if (v == nullptr || *v == '\0') return fallback;
    char* end = nullptr;
    const unsigned long long n = std::strtoull(v, &end, 10);
    if (*end != '\0') throw std::runtime_error(std::string(name) + " is not a number: " + v);
    return n;
}

std::string slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) throw std::runtime_error("cannot read " + path);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

void write_file(const std::string& path, std::string_view bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!f) throw std::runtime_error("cannot write " + path);
}

std::string escaped(std::string_view s) {
    std::string out;
    for (const char ch : s) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c == '\n')
            out += "\\n\n";
        else if (c == '\\')
            out += "\\\\";
        else if (c >= 0x20 && c < 0x7F)
            out += ch;
        else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

// What the f2c run-time library made of a deck.
struct LibResult {
    bool refused = false;
    std::string why;       // the library's diagnostic, or the rule of ours it met
    bool our_rule = false; // refused by a rule of peakpos applied to what it read
    bool reached_r8 = false;
    std::string text; // the record, when read
};

class Library {
  public:
    explicit Library(std::string exe) : exe_(std::move(exe)) {
        const char* t = std::getenv("TMPDIR");
        std::string tmpl = std::string(t && *t ? t : "/tmp") + "/deck_diff.XXXXXX";
        if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        dir_ = tmpl;
    }
    ~Library() {
        for (const char* f : {"/in", "/out", "/err"}) ::unlink((dir_ + f).c_str());
        ::rmdir(dir_.c_str());
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    LibResult read(std::string_view deck) {
        write_file(dir_ + "/in", deck);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 0, (dir_ + "/in").c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 1, (dir_ + "/out").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&fa, 2, (dir_ + "/err").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        char* argv[] = {exe_.data(), nullptr};
        pid_t pid;
        const int rc = posix_spawn(&pid, exe_.c_str(), &fa, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&fa);
        if (rc != 0) throw std::runtime_error("cannot start " + exe_ + ": " + std::strerror(rc));
        int status;
        while (waitpid(pid, &status, 0) < 0)
            if (errno != EINTR) throw std::runtime_error("waitpid failed");

        LibResult r;
        std::string out = slurp(dir_ + "/out");
        if (out.rfind("r8\n", 0) == 0) {
            r.reached_r8 = true;
            out.erase(0, 3);
        }
        if (WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT) {
            // The library's diagnostic, e.g. "invalid number: incomprehensible list input".
            const std::string err = slurp(dir_ + "/err");
            r.refused = true;
            r.why = err.substr(0, err.find(':'));
            return r;
        }
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            throw std::runtime_error("libf2c_reader ended abnormally (status " +
                                     std::to_string(status) + ")");
        if (out.rfind("refused ", 0) == 0) {
            r.refused = r.our_rule = true;
            r.why = out.substr(8, out.find('\n') - 8);
            return r;
        }
        if (out.rfind("dnam ", 0) != 0 || out.find("\nextinct") == std::string::npos)
            throw std::runtime_error("libf2c_reader printed no record:\n" + out);
        r.text = out;
        return r;
    }

  private:
    std::string exe_;
    std::string dir_;
};

// The 25 name bytes of a record text.
std::string name_bytes(const std::string& text) {
    std::string bytes;
    for (std::size_t i = 5; i + 1 < text.size() && text[i] != '\n'; i += 2)
        bytes += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
    return bytes;
}

struct Tally {
    std::map<std::string, long> counts;
    void add(const std::string& what) { ++counts[what]; }
    long operator[](const std::string& what) const {
        auto it = counts.find(what);
        return it == counts.end() ? 0 : it->second;
    }
};

// Compares one deck; prints the disagreement and returns false where the
// two differ.
bool compare(Library& lib, peakpos::Run& run, Tally& tally, const std::string& deck,
             const std::string& label, const std::string& keep_as) {
    std::vector<std::string> tags;

    std::string ref = deck;
    if (ref.find("\r\n") != std::string::npos) {
        ref = lf_line_ends(ref);
        tags.push_back("CR LF line ends");
    }
    if (huge_repeat_count(ref)) {
        tally.add("not compared: repeat count of 2^31 or more");
        return true;
    }
    if (letter_for_bare_signs(ref) > 0) tags.push_back("sign or point without digits");
    switch (repeat_at_end(ref)) {
    case EndRepeat::complete: {
        // Unless a read found the input ended before it began: then the
        // repeat stood on a list line that lacks its line end.
        const LibResult as_is = lib.read(ref);
        if (!(as_is.refused && as_is.why == "read start")) {
            ref += '\n';
            tags.push_back("repeat at the end of the input");
        }
        break;
    }
    case EndRepeat::cut:
        // Only the flags take null values up to the end of the input.
        if (lib.read(ref).reached_r8) {
            ref += '\n';
            tags.push_back("null repeat at the end of the flags");
        }
        break;
    case EndRepeat::none:
        break;
    }

    const LibResult l = lib.read(ref);
    bool expect_refused = l.refused;
    if (l.our_rule) tags.push_back(l.why);
    if (!l.refused && unsafe_name_word(name_bytes(l.text))) {
        expect_refused = true;
        tags.push_back("name word unsafe in Tcl");
    }
    const std::string got = read_as_text(deck, run);
    const bool got_refused = got.rfind("refused ", 0) == 0;

    tally.add(expect_refused ? "refused" : "read");
    if (l.refused && !l.our_rule) tally.add("library: " + l.why);
    for (const std::string& t : tags) tally.add("rule: " + t);

    if (expect_refused ? got_refused : got == l.text) return true;
    std::cout << "DISAGREEMENT on " << label;
    if (!keep_as.empty()) {
        write_file(keep_as, deck);
        std::cout << " (" << keep_as << ")";
    }
    std::cout << "\n";
    for (const std::string& t : tags) std::cout << "  rule: " << t << "\n";
    std::cout << "--- deck\n" << escaped(deck) << "\n--- library";
    if (ref != deck) std::cout << " (given the deck as peakpos reads it)";
    std::cout << "\n" << (l.refused ? "refused: " + l.why + "\n" : l.text);
    if (!l.refused && expect_refused) std::cout << "(refused by the name rule)\n";
    std::cout << "--- peakpos\n" << got << "\n";
    return false;
}

} // namespace

int main(int argc, char** argv) try {
    if (argc < 2) {
        std::cerr << "usage: deck_diff LIBF2C_READER [DECK...]\n";
        return 2;
    }
    Library lib(argv[1]);
    auto run = std::make_unique<peakpos::Run>();
    Tally tally;
    int disagreements = 0;

    if (argc > 2) { // the decks named
        for (int a = 2; a < argc; ++a)
            if (!compare(lib, *run, tally, slurp(argv[a]), argv[a], "")) ++disagreements;
        std::cout << "decks " << argc - 2 << "\n";
        for (const auto& [what, n] : tally.counts) std::cout << "  " << what << ": " << n << "\n";
        std::cout << (disagreements == 0 ? "no disagreement\n" : "DISAGREEMENTS FOUND\n");
        return disagreements == 0 ? 0 : 1;
    }

    const std::uint64_t count = env_number("PEAKPOS_DIFF_DECKS", 3000);
    const std::uint64_t seed = env_number("PEAKPOS_DIFF_SEED", 1);
    const std::uint64_t first = env_number("PEAKPOS_DIFF_FIRST", 0);
    // A long run says on standard error, every few seconds, how far it is.
    auto shown = std::chrono::steady_clock::now();
    for (std::uint64_t i = first; i < first + count; ++i) {
        if (const auto now = std::chrono::steady_clock::now();
            now - shown >= std::chrono::seconds(2)) {
            shown = now;
            std::cerr << "deck_diff: " << i - first << " of " << count << " decks, "
                      << disagreements << " disagreements" << std::endl;
        }
        const std::string label = "deck " + std::to_string(i) + " of seed " + std::to_string(seed);
        const std::string file =
            "disagreement-" + std::to_string(seed) + "-" + std::to_string(i) + ".deck";
        if (!compare(lib, *run, tally, DeckGen(seed, i).deck(), label, file) &&
            ++disagreements >= 5)
            break;
    }

    std::cout << "decks " << count << " from number " << first << ", seed " << seed << "\n";
    for (const auto& [what, n] : tally.counts) std::cout << "  " << what << ": " << n << "\n";
    // Guards the generator: a run that reads almost nothing, or refuses
    // almost nothing, compares too little to mean anything.
    if (count >= 500 && (tally["read"] * 5 < static_cast<long>(count) ||
                         tally["refused"] * 10 < static_cast<long>(count))) {
        std::cout << "the generated decks no longer cover both outcomes\n";
        return 1;
    }
    std::cout << (disagreements == 0 ? "no disagreement\n" : "DISAGREEMENTS FOUND\n");
    return disagreements == 0 ? 0 : 1;
} catch (const std::exception& e) {
    std::cerr << "deck_diff: " << e.what() << "\n";
    return 2;
}
