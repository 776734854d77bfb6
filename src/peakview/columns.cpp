// peakview's reader of plain data columns, compiled: a Tcl command that
// turns the text of a measured pattern into the lists of 2theta, intensity
// and sigma at C speed (Tcl's own list and number parsing takes seconds
// and hundreds of MiB for a million points). It reads the common layout
// only, and hands everything else back to the Tcl reader, which reads
// every layout.
//
//   peakview::data::scanColumns BYTES POINTMAX NUMBERMAX MAGNITUDE
//
// returns one of
//   ok XS YS SIGMAS    the points (SIGMAS empty unless every line has one;
//                      a line with a value past the largest double, no point)
//   other              a line it does not read: the Tcl reader decides
//   refuse LINE WHY    a number longer than NUMBERMAX characters, a value
//                      beyond MAGNITUDE, or more than POINTMAX points
//
// A line is skipped when blank, a comment (#, ! or ') or words (its first
// non-blank character no sign, digit or point); any other line must hold
// two or three decimal numbers between blanks, tabs, commas or semicolons.

#include <tcl.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace {

bool is_sep(char c) {
    return c == ' ' || c == '\t' || c == ',' || c == ';' || c == '\r';
}
bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// The length of the decimal number at the start of s ("-1.5e-3", ".5",
// "2."), 0 when there is none.
std::size_t number_length(std::string_view s) {
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
    std::size_t digits = 0;
    while (i < s.size() && is_digit(s[i])) ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && is_digit(s[i])) ++i, ++digits;
    }
    if (digits == 0) return 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < s.size() && (s[j] == '-' || s[j] == '+')) ++j;
        if (j < s.size() && is_digit(s[j])) {
            while (j < s.size() && is_digit(s[j])) ++j;
            i = j;
        }
    }
    return i;
}

// The value of the decimal number s (as number_length finds it): the
// nearest double, infinite past the largest one, 0 below the smallest.
double value(std::string_view s) {
    const bool minus = s[0] == '-';
    if (s[0] == '-' || s[0] == '+') s.remove_prefix(1);
    double v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec == std::errc::result_out_of_range) {
        const std::size_t e = s.find_first_of("eE");
        v = e != std::string_view::npos && s[e + 1] == '-' ? 0.0 : HUGE_VAL;
    }
    return minus ? -v : v;
}

// The length of the run of number characters at the start of s.
std::size_t run_length(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && (is_digit(s[i]) || s[i] == '.' || s[i] == '-' || s[i] == '+' ||
                            s[i] == 'e' || s[i] == 'E'))
        ++i;
    return i;
}

Tcl_Obj* refusal(Tcl_Interp* interp, long line, const std::string& why) {
    Tcl_Obj* r[3] = {Tcl_NewStringObj("refuse", -1), Tcl_NewLongObj(line),
                     Tcl_NewStringObj(why.c_str(), -1)};
    (void)interp;
    return Tcl_NewListObj(3, r);
}

std::string text_of(double v) {
    char buf[32];
    return std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

int columns(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
    if (objc != 5) {
        Tcl_WrongNumArgs(interp, 1, objv, "text pointMax numberMax magnitude");
        return TCL_ERROR;
    }
    long point_max = 0, number_max = 0;
    double magnitude = 0;
    if (Tcl_GetLongFromObj(interp, objv[2], &point_max) != TCL_OK ||
        Tcl_GetLongFromObj(interp, objv[3], &number_max) != TCL_OK ||
        Tcl_GetDoubleFromObj(interp, objv[4], &magnitude) != TCL_OK)
        return TCL_ERROR;
    int size = 0;
    const unsigned char* bytes = Tcl_GetByteArrayFromObj(objv[1], &size);
    std::string_view text(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(size));

    std::vector<double> xs, ys, sigmas;
    const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    const std::size_t most = std::min(lines + 1, static_cast<std::size_t>(point_max));
    xs.reserve(most);
    ys.reserve(most);
    bool all_sigma = true;
    long line = 0;
    while (!text.empty()) {
        ++line;
        const std::size_t end = text.find('\n');
        std::string_view l = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        // A number of absurd length, wherever it stands.
        for (std::size_t i = 0; i < l.size();) {
            const std::size_t n = run_length(l.substr(i));
            if (static_cast<long>(n) > number_max)
                Tcl_SetObjResult(interp, refusal(interp, line,
                                                 "a number of more than " +
                                                     std::to_string(number_max) + " characters"));
            if (static_cast<long>(n) > number_max) return TCL_OK;
            i += n == 0 ? 1 : n;
        }
        std::size_t i = 0;
        while (i < l.size() && (l[i] == ' ' || l[i] == '\t' || l[i] == '\r')) ++i;
        if (i == l.size()) continue;
        const char c = l[i];
        if (!(is_digit(c) || c == '-' || c == '+' || c == '.')) continue; // comment or words
        double v[3];
        int nv = 0;
        for (;;) {
            const std::size_t n = number_length(l.substr(i));
            if (n == 0 || nv == 3) break;
            v[nv] = value(l.substr(i, n));
            ++nv;
            i += n;
            const std::size_t before = i;
            while (i < l.size() && is_sep(l[i])) ++i;
            if (i == l.size()) break;
            if (i == before) {
                nv = 0; // a number glued to something else
                break;
            }
        }
        if (i != l.size() || nv < 2) {
            Tcl_SetObjResult(interp, Tcl_NewStringObj("other", -1));
            return TCL_OK;
        }
        // A value past the largest double makes no point, as in the Tcl
        // reader: the line is passed over.
        if (std::isinf(v[0]) || std::isinf(v[1]) || (nv == 3 && std::isinf(v[2]))) continue;
        for (int k = 0; k < nv; ++k) {
            if (!(std::fabs(v[k]) <= magnitude)) {
                Tcl_SetObjResult(interp, refusal(interp, line,
                                                 "the value " + text_of(v[k]) + " lies beyond ±" +
                                                     std::string(Tcl_GetString(objv[4])) +
                                                     ", which the plot cannot lay out"));
                return TCL_OK;
            }
        }
        if (static_cast<long>(xs.size()) >= point_max) {
            Tcl_SetObjResult(interp, refusal(interp, line,
                                             "more than " + std::to_string(point_max) +
                                                 " points, the most peakview reads"));
            return TCL_OK;
        }
        xs.push_back(v[0]);
        ys.push_back(v[1]);
        if (nv == 3)
            sigmas.push_back(v[2]);
        else
            all_sigma = false;
    }
    // Each list made at once from its elements: appended one by one, a
    // list of a million is copied again and again as it grows.
    std::vector<Tcl_Obj*> objs;
    objs.reserve(xs.size());
    const auto list = [&objs](const std::vector<double>& values) {
        objs.clear();
        for (const double v : values) objs.push_back(Tcl_NewDoubleObj(v));
        return Tcl_NewListObj(static_cast<int>(objs.size()), objs.data());
    };
    Tcl_Obj* r[4] = {Tcl_NewStringObj("ok", -1), list(xs), list(ys),
                     all_sigma ? list(sigmas) : Tcl_NewListObj(0, nullptr)};
    Tcl_SetObjResult(interp, Tcl_NewListObj(4, r));
    return TCL_OK;
}

} // namespace

extern "C" int Peakview_columns_Init(Tcl_Interp* interp) {
    if (Tcl_InitStubs(interp, "8.6", 0) == nullptr) return TCL_ERROR;
    Tcl_CreateObjCommand(interp, "::peakview::data::scanColumns", columns, nullptr, nullptr);
    return TCL_OK;
}
