// peakview's layout of the h k l labels, compiled (see labels.hpp). Every
// comparison and every sum is the one the Tcl procedures make, in the same
// order and in double precision as Tcl's expr does, so that both keep the
// same labels in the same boxes.

#include "labels.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <stdexcept>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

namespace {

// A malformed argument: the message of the Tcl error.
struct Bad : std::runtime_error {
    using std::runtime_error::runtime_error;
};

double number(Tcl_Obj* o, const char* what) {
    double v = 0;
    if (Tcl_GetDoubleFromObj(nullptr, o, &v) != TCL_OK)
        throw Bad(std::string("expected a number for ") + what + " but got \"" + Tcl_GetString(o) +
                  "\"");
    return v;
}

// A ceiling: "" or -Inf for none.
double ceiling(Tcl_Obj* o) {
    int length = 0;
    Tcl_GetStringFromObj(o, &length);
    return length == 0 ? -std::numeric_limits<double>::infinity() : number(o, "a ceiling");
}

// True where O is an integer for expr: then sums with it stay integers
// (and are written without a decimal point).
bool integral(Tcl_Obj* o) {
    Tcl_WideInt w = 0;
    return Tcl_GetWideIntFromObj(nullptr, o, &w) == TCL_OK;
}

std::vector<Tcl_Obj*> elements(Tcl_Obj* list, const char* what) {
    int n = 0;
    Tcl_Obj** v = nullptr;
    if (Tcl_ListObjGetElements(nullptr, list, &n, &v) != TCL_OK)
        throw Bad(std::string("expected a list for ") + what);
    return {v, v + n};
}

Tcl_Obj* get(Tcl_Obj* dict, const char* key) {
    Tcl_Obj* k = Tcl_NewStringObj(key, -1);
    Tcl_IncrRefCount(k);
    Tcl_Obj* v = nullptr;
    const int status = Tcl_DictObjGet(nullptr, dict, k, &v);
    Tcl_DecrRefCount(k);
    if (status != TCL_OK || v == nullptr) throw Bad(std::string("no key ") + key);
    return v;
}

struct Box {
    double x0, y0, x1, y1;
    double sep; // the gap kept above and below it
};

struct Item {
    Tcl_Obj* id;
    double x, y, w, h, ceiling;
};

struct Kept {
    Tcl_Obj* id;
    Box box;
};

struct Placed {
    std::vector<Kept> kept;
    long long dropped = 0;
};

// The rule of peakview::labels::place: each label in ITEMS' order takes the
// first of its TIERS places that lies within BOUNDS and keeps GAP from
// every box of TAKEN and every label kept before it beside it, five GAP
// above or below; else it is dropped.
Placed place(const std::vector<Item>& items, const std::vector<Box>& taken, const Box& bounds,
             long long tiers, double gap) {
    const double column = 32;
    const double apart = 5 * gap;
    std::vector<Box> boxes;
    // The boxes by the columns they reach into, GAP included.
    std::unordered_map<long long, std::vector<std::size_t>> columns;
    // (A column past any screen, or of no number, is one at the end: the
    // index only narrows the search, and no conversion overflows.)
    const auto column_of = [&](double x) {
        const double c = std::floor(x / column);
        return c >= -1e9 ? static_cast<long long>(std::min(c, 1e9)) : -1000000000LL;
    };
    const auto span = [&](double x0, double x1) {
        return std::pair{column_of(x0 - gap), column_of(x1 + gap)};
    };
    const auto add = [&](const Box& b) {
        boxes.push_back(b);
        const auto [first, last] = span(b.x0, b.x1);
        for (long long c = first; c <= last; ++c) columns[c].push_back(boxes.size() - 1);
    };
    for (Box b : taken) {
        b.sep = gap;
        add(b);
    }
    // The centres of the labels kept, in ascending order, by tier, foot,
    // width and (above the lowest tier) length: the nearest alone says
    // whether a place of the same key is free, as in the Tcl.
    std::map<std::tuple<long long, double, double, double>, std::vector<double>> centres;
    Placed out;
    for (const Item& it : items) {
        const double x0 = it.x - it.w / 2.0;
        const double x1 = x0 + it.w;
        const double top = std::max(bounds.y0, it.ceiling);
        bool found = false;
        long long t = 0;
        Box box{};
        if (x0 >= bounds.x0 && x1 <= bounds.x1) {
            for (t = 0; t < tiers; ++t) {
                const double y1 = it.y - gap - static_cast<double>(t) * (it.h + 5 * gap);
                const double y0 = y1 - it.h;
                if (y0 < top || y1 > bounds.y1) continue;
                const auto key = std::tuple{t, it.y, it.w, t == 0 ? 0.0 : it.h};
                if (const auto at = centres.find(key); at != centres.end()) {
                    const auto& cs = at->second;
                    const auto next = std::upper_bound(cs.begin(), cs.end(), it.x);
                    const double reach = it.w + gap;
                    if ((next != cs.begin() && it.x - *(next - 1) < reach) ||
                        (next != cs.end() && *next - it.x < reach))
                        continue;
                }
                bool free = true;
                const auto [first, last] = span(x0, x1);
                for (long long c = first; c <= last && free; ++c) {
                    const auto at = columns.find(c);
                    if (at == columns.end()) continue;
                    for (const std::size_t i : at->second) {
                        const Box& o = boxes[i];
                        if (x0 < o.x1 + gap && o.x0 < x1 + gap && y0 < o.y1 + o.sep &&
                            o.y0 < y1 + o.sep) {
                            free = false;
                            break;
                        }
                    }
                }
                if (free) {
                    box = Box{x0, y0, x1, y1, apart};
                    found = true;
                    break;
                }
            }
        }
        if (!found) {
            ++out.dropped;
            continue;
        }
        add(box);
        auto& cs = centres[std::tuple{t, it.y, it.w, t == 0 ? 0.0 : it.h}];
        cs.insert(std::upper_bound(cs.begin(), cs.end(), it.x), it.x);
        out.kept.push_back({it.id, box});
    }
    return out;
}

Box box_of(Tcl_Obj* o, const char* what) {
    const auto v = elements(o, what);
    if (v.size() < 4) throw Bad(std::string("expected four numbers for ") + what);
    return {number(v[0], what), number(v[1], what), number(v[2], what), number(v[3], what), 0};
}

std::vector<Box> boxes_of(Tcl_Obj* o) {
    std::vector<Box> out;
    for (Tcl_Obj* b : elements(o, "the taken boxes")) out.push_back(box_of(b, "a taken box"));
    return out;
}

// The result as place returns it: {kept {{ID {X0 Y0 X1 Y1}} ...} dropped N},
// the rows as integers where INTEGRAL (as expr leaves sums of integers).
Tcl_Obj* result(const Placed& p, long long extra, bool integral) {
    Tcl_Obj* kept = Tcl_NewListObj(0, nullptr);
    for (const Kept& k : p.kept) {
        const auto row = [&](double y) {
            return integral ? Tcl_NewWideIntObj(static_cast<Tcl_WideInt>(y)) : Tcl_NewDoubleObj(y);
        };
        Tcl_Obj* box[] = {Tcl_NewDoubleObj(k.box.x0), row(k.box.y0), Tcl_NewDoubleObj(k.box.x1),
                          row(k.box.y1)};
        Tcl_Obj* pair[] = {k.id, Tcl_NewListObj(4, box)};
        Tcl_ListObjAppendElement(nullptr, kept, Tcl_NewListObj(2, pair));
    }
    Tcl_Obj* out = Tcl_NewDictObj();
    Tcl_DictObjPut(nullptr, out, Tcl_NewStringObj("kept", -1), kept);
    Tcl_DictObjPut(nullptr, out, Tcl_NewStringObj("dropped", -1),
                   Tcl_NewWideIntObj(p.dropped + extra));
    return out;
}

long long whole(Tcl_Obj* o, const char* what) {
    Tcl_WideInt v = 0;
    if (Tcl_GetWideIntFromObj(nullptr, o, &v) != TCL_OK)
        throw Bad(std::string("expected an integer for ") + what + " but got \"" +
                  Tcl_GetString(o) + "\"");
    return v;
}

// placeCompiled ITEMS TAKEN BOUNDS TIERS GAP
int place_command(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
    if (objc != 6) {
        Tcl_WrongNumArgs(interp, 1, objv, "items taken bounds tiers gap");
        return TCL_ERROR;
    }
    try {
        const double gap = number(objv[5], "the gap");
        bool ints = integral(objv[5]);
        std::vector<Item> items;
        for (Tcl_Obj* o : elements(objv[1], "the items")) {
            const auto v = elements(o, "an item");
            if (v.size() < 6) throw Bad("expected {id x y w h ceiling} for an item");
            items.push_back({v[0], number(v[1], "x"), number(v[2], "y"), number(v[3], "w"),
                             number(v[4], "h"), ceiling(v[5])});
            ints = ints && integral(v[2]) && integral(v[4]);
        }
        const Placed p = place(items, boxes_of(objv[2]), box_of(objv[3], "the bounds"),
                               whole(objv[4], "the tiers"), gap);
        Tcl_SetObjResult(interp, result(p, 0, ints));
        return TCL_OK;
    } catch (const Bad& e) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj(e.what(), -1));
        return TCL_ERROR;
    }
}

// One stick of a plan's group (see peakview::labels::plan).
struct Stick {
    long long order;
    double x, y;
    Tcl_Obj* axis;
    Tcl_Obj* row;     // "" where it stands in no tick row
    Tcl_Obj* ceiling; // "" for none
    double h;
    Tcl_Obj* id;
};

bool empty(Tcl_Obj* o) {
    int length = 0;
    Tcl_GetStringFromObj(o, &length);
    return length == 0;
}

// arrangeCompiled PLAN SPANS VIEW TAKEN BOUNDS TIERS GAP
int arrange_command(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
    if (objc != 8) {
        Tcl_WrongNumArgs(interp, 1, objv, "plan spans view taken bounds tiers gap");
        return TCL_ERROR;
    }
    try {
        const auto groups = elements(objv[1], "the plan");
        const auto spans = elements(objv[2], "the spans");
        if (spans.size() != groups.size()) throw Bad("expected one span per group of the plan");
        Tcl_Obj* view = objv[3];
        const double ax = number(get(view, "ax"), "ax");
        const double bx = number(get(view, "bx"), "bx");
        const double py0 = number(get(view, "py0"), "py0");
        const double height = number(get(view, "height"), "height");
        const double gap = number(objv[7], "the gap");
        // The y axes' scale and base, by name.
        std::map<std::string, std::pair<double, double>> axes;
        Tcl_Obj* scales = get(view, "scale");
        Tcl_Obj* bases = get(view, "base");
        for (const char* name : {"y", "y2"}) {
            Tcl_Obj* s = nullptr;
            Tcl_Obj* b = nullptr;
            Tcl_Obj* k = Tcl_NewStringObj(name, -1);
            Tcl_IncrRefCount(k);
            Tcl_DictObjGet(nullptr, scales, k, &s);
            Tcl_DictObjGet(nullptr, bases, k, &b);
            Tcl_DecrRefCount(k);
            if (s != nullptr && b != nullptr)
                axes[name] = {number(s, "a scale"), number(b, "a base")};
        }
        std::vector<std::pair<double, double>> rows;
        for (Tcl_Obj* r : elements(get(view, "rows"), "the rows")) {
            const auto v = elements(r, "a row");
            if (v.size() < 2) throw Bad("expected {top ceiling} for a row");
            rows.emplace_back(number(v[0], "a row's top"), number(v[1], "a row's ceiling"));
        }
        const auto row_of = [&](Tcl_Obj* o) {
            const long long r = whole(o, "a row");
            if (r < 0 || r >= static_cast<long long>(rows.size())) throw Bad("no such tick row");
            return rows[static_cast<std::size_t>(r)];
        };
        struct Ranked {
            long long key;
            Item item;
        };
        std::vector<Ranked> ranked;
        long long short_ = 0;
        std::vector<Stick> shown;
        for (std::size_t g = 0; g < groups.size(); ++g) {
            const auto items = elements(get(groups[g], "items"), "a group's items");
            const auto span = elements(spans[g], "a span");
            if (span.size() != 2) throw Bad("expected {first last} for a span");
            const long long n = static_cast<long long>(items.size());
            const long long first = std::max(0LL, whole(span[0], "a span"));
            const long long last = std::min(n - 1, whole(span[1], "a span"));
            shown.clear();
            for (long long i = first; i <= last; ++i) {
                const auto v = elements(items[static_cast<std::size_t>(i)], "an item");
                if (v.size() < 8) throw Bad("expected {order x y axis row ceiling h id ...}");
                shown.push_back({whole(v[0], "an order"), number(v[1], "x"), number(v[2], "y"),
                                 v[3], v[4], v[5], number(v[6], "a length"), v[7]});
            }
            std::stable_sort(shown.begin(), shown.end(),
                             [](const Stick& a, const Stick& b) { return a.order < b.order; });
            Tcl_Obj* row = get(groups[g], "row");
            long long rank = 0;
            const auto keep = [&](const Stick& s, double py, double cy) {
                ranked.push_back(
                    {rank * 10000000 + s.order, {s.id, bx + ax * s.x, py, height, s.h, cy}});
            };
            if (!empty(row) && !rows.empty()) {
                // All in one tick row: one foot, one ceiling, one longest label.
                const auto [py, cy] = row_of(row);
                const double longest = py - gap - std::max(py0, cy);
                for (const Stick& s : shown) {
                    if (s.h > longest)
                        ++short_;
                    else
                        keep(s, py, cy);
                    ++rank;
                }
            } else {
                for (const Stick& s : shown) {
                    double py = 0;
                    double cy = 0;
                    if (!empty(s.row) && !rows.empty()) {
                        std::tie(py, cy) = row_of(s.row);
                    } else {
                        const auto at = axes.find(Tcl_GetString(s.axis));
                        if (at == axes.end()) throw Bad("no such axis");
                        const auto [scale, base] = at->second;
                        py = base + scale * s.y;
                        cy = empty(s.ceiling) ? -std::numeric_limits<double>::infinity()
                                              : base + scale * number(s.ceiling, "a ceiling");
                    }
                    if (py - gap - s.h < std::max(py0, cy))
                        ++short_;
                    else
                        keep(s, py, cy);
                    ++rank;
                }
            }
        }
        std::stable_sort(ranked.begin(), ranked.end(),
                         [](const Ranked& a, const Ranked& b) { return a.key < b.key; });
        std::vector<Item> items;
        items.reserve(ranked.size());
        for (const Ranked& r : ranked) items.push_back(r.item);
        const Placed p = place(items, boxes_of(objv[4]), box_of(objv[5], "the bounds"),
                               whole(objv[6], "the tiers"), gap);
        Tcl_SetObjResult(interp, result(p, short_, false));
        return TCL_OK;
    } catch (const Bad& e) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj(e.what(), -1));
        return TCL_ERROR;
    }
}

} // namespace

void peakview::create_label_commands(Tcl_Interp* interp) {
    Tcl_CreateObjCommand(interp, "::peakview::labels::placeCompiled", place_command, nullptr,
                         nullptr);
    Tcl_CreateObjCommand(interp, "::peakview::labels::arrangeCompiled", arrange_command, nullptr,
                         nullptr);
}
