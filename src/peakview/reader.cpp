// peakview's reader of measured patterns: a thin Tcl binding of the
// pattern library (src/pattern), so that the viewer reads every file as
// the fit does. A Tcl extension built against Tcl's stubs.
//
//   peakview::data::readPattern file PATH NAME POINTMAX BYTEMAX
//   peakview::data::readPattern bytes BYTES NAME POINTMAX BYTEMAX
//   peakview::data::readPattern columns PATH NAME POINTMAX BYTEMAX
//
// reads the file at PATH (or the bytes BYTES, such as standard input's),
// NAME naming it in messages, and returns a dict:
//   format       the format read ("columns", "gsas-std", "bruker_raw" ...)
//   x y          every point's 2theta and intensity, the ranges one after
//                the other
//   sigma        every point's sigma where the file gives them all, else {}
//   segments     the lines to draw: each range, cut at its gaps, as a dict
//                {x y sigma} (sigma as given, else sqrt(max(y, 1)))
//   ranges       the number of ranges
//   wavelengths  {} where the file states none, else a dict with alpha1,
//                source (where it was read) and, where stated, alpha2 and
//                ratio
//   notes        one "NAME: text" per kind of line or column read otherwise
//                than as a point
// and, for "columns" (a table such as peakfit's PREFIX.xye, read with the
// library's all_columns option), also
//   columns      every numeric column after x, the ranges one after the
//                other (the first is y)
// A refused file is a Tcl error "NAME:LINE: reason" with the error code
// {PEAKVIEW INPUT}.

#include "labels.hpp"
#include "pattern/pattern.hpp"

#include <tcl.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

Tcl_Obj* str(const std::string& s) {
    return Tcl_NewStringObj(s.data(), static_cast<int>(s.size()));
}

void put(Tcl_Obj* dict, const char* key, Tcl_Obj* value) {
    Tcl_DictObjPut(nullptr, dict, Tcl_NewStringObj(key, -1), value);
}

std::string where(const std::string& name, std::size_t line) {
    return name + (line != 0 ? ":" + std::to_string(line) : "") + ": ";
}

// Tcl numbers for the intensities and sigmas: counts repeat, and one Tcl
// number per distinct value (up to a bound) takes a fraction of the memory
// of one per point (a Tcl value is 48 bytes).
class Numbers {
  public:
    Tcl_Obj* get(double v) {
        std::uint64_t bits = 0;
        std::memcpy(&bits, &v, sizeof bits);
        const auto at = made_.find(bits);
        if (at != made_.end()) return at->second;
        Tcl_Obj* o = Tcl_NewDoubleObj(v);
        if (made_.size() < 1u << 16) {
            Tcl_IncrRefCount(o);
            made_.emplace(bits, o);
        }
        return o;
    }
    ~Numbers() {
        for (const auto& [bits, o] : made_) Tcl_DecrRefCount(o);
    }

  private:
    std::unordered_map<std::uint64_t, Tcl_Obj*> made_;
};

// The lists of a pattern: each point's value made once as a Tcl number and
// shared by the flat lists and the segments; each range's vectors let go
// once its numbers are made.
Tcl_Obj* to_tcl(pattern::Pattern& p, const std::string& name) {
    Numbers numbers;
    // The further columns first: the ranges' vectors go below.
    Tcl_Obj* columns = Tcl_NewListObj(0, nullptr);
    const std::size_t ncolumns = p.ranges.empty() ? 0 : p.ranges.front().columns.size();
    for (std::size_t c = 0; c < ncolumns; ++c) {
        Tcl_Obj* column = Tcl_NewListObj(0, nullptr);
        for (const pattern::Range& r : p.ranges) {
            if (c >= r.columns.size()) continue;
            for (double v : r.columns[c]) Tcl_ListObjAppendElement(nullptr, column, numbers.get(v));
        }
        Tcl_ListObjAppendElement(nullptr, columns, column);
    }
    const std::size_t n = p.points();
    std::vector<Tcl_Obj*> xs, ys, sigmas;
    xs.reserve(n);
    ys.reserve(n);
    sigmas.reserve(n);
    bool all_given = true;
    Tcl_Obj* segments = Tcl_NewListObj(0, nullptr);
    for (pattern::Range& r : p.ranges) {
        all_given = all_given && r.sigma_given;
        std::size_t start = xs.size();
        std::size_t next_gap = 0;
        const auto segment = [&](std::size_t end) {
            Tcl_Obj* s = Tcl_NewDictObj();
            const int len = static_cast<int>(end - start);
            put(s, "x", Tcl_NewListObj(len, xs.data() + start));
            put(s, "y", Tcl_NewListObj(len, ys.data() + start));
            put(s, "sigma", Tcl_NewListObj(len, sigmas.data() + start));
            Tcl_ListObjAppendElement(nullptr, segments, s);
            start = end;
        };
        const std::size_t first = xs.size();
        for (std::size_t i = 0; i < r.x.size(); ++i) {
            if (next_gap < r.gaps.size() && r.gaps[next_gap] == i) {
                segment(first + i);
                ++next_gap;
            }
            xs.push_back(Tcl_NewDoubleObj(r.x[i]));
            ys.push_back(numbers.get(r.y[i]));
            sigmas.push_back(numbers.get(r.sigma[i]));
        }
        segment(xs.size());
        r.x = {};
        r.y = {};
        r.sigma = {};
    }
    Tcl_Obj* d = Tcl_NewDictObj();
    put(d, "format", str(p.format));
    put(d, "x", Tcl_NewListObj(static_cast<int>(n), xs.data()));
    put(d, "y", Tcl_NewListObj(static_cast<int>(n), ys.data()));
    put(d, "sigma",
        all_given ? Tcl_NewListObj(static_cast<int>(n), sigmas.data())
                  : Tcl_NewListObj(0, nullptr));
    put(d, "segments", segments);
    put(d, "ranges", Tcl_NewWideIntObj(static_cast<Tcl_WideInt>(p.ranges.size())));
    Tcl_Obj* w = Tcl_NewDictObj();
    if (!std::isnan(p.wave.alpha1)) {
        put(w, "alpha1", Tcl_NewDoubleObj(p.wave.alpha1));
        if (!std::isnan(p.wave.alpha2)) put(w, "alpha2", Tcl_NewDoubleObj(p.wave.alpha2));
        if (!std::isnan(p.wave.ratio)) put(w, "ratio", Tcl_NewDoubleObj(p.wave.ratio));
        put(w, "source", str(p.wave.source));
    }
    put(d, "wavelengths", w);
    Tcl_Obj* notes = Tcl_NewListObj(0, nullptr);
    // (A note names its lines itself.)
    for (const pattern::Note& note : p.notes)
        Tcl_ListObjAppendElement(nullptr, notes, str(where(name, 0) + note.text));
    put(d, "notes", notes);
    put(d, "columns", columns);
    return d;
}

int read_pattern(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
    if (objc != 6) {
        Tcl_WrongNumArgs(interp, 1, objv, "file|bytes|columns PATH|BYTES NAME POINTMAX BYTEMAX");
        return TCL_ERROR;
    }
    const std::string how = Tcl_GetString(objv[1]);
    Tcl_WideInt point_max = 0, byte_max = 0;
    if ((how != "file" && how != "bytes" && how != "columns") ||
        Tcl_GetWideIntFromObj(interp, objv[4], &point_max) != TCL_OK ||
        Tcl_GetWideIntFromObj(interp, objv[5], &byte_max) != TCL_OK || point_max < 0 ||
        byte_max < 0) {
        Tcl_SetObjResult(
            interp, Tcl_NewStringObj(
                        "readPattern file|bytes|columns PATH|BYTES NAME POINTMAX BYTEMAX", -1));
        return TCL_ERROR;
    }
    const std::string name = Tcl_GetString(objv[3]);
    pattern::Options options;
    options.max_points = static_cast<std::size_t>(point_max);
    options.max_bytes = static_cast<std::uint64_t>(byte_max);
    options.all_columns = how == "columns";
    try {
        pattern::Pattern p;
        if (how != "bytes") {
            p = pattern::read(Tcl_GetString(objv[2]), options);
        } else {
            int size = 0;
            const unsigned char* bytes = Tcl_GetByteArrayFromObj(objv[2], &size);
            p = pattern::parse(std::string_view(reinterpret_cast<const char*>(bytes),
                                                static_cast<std::size_t>(size)),
                               name, options);
        }
        Tcl_SetObjResult(interp, to_tcl(p, name));
        return TCL_OK;
    } catch (const pattern::ReadError& e) {
        Tcl_SetObjResult(interp, str(where(name, e.line()) + e.reason()));
    } catch (const std::exception& e) {
        Tcl_SetObjResult(interp, str(where(name, 0) + e.what()));
    }
    Tcl_SetErrorCode(interp, "PEAKVIEW", "INPUT", nullptr);
    return TCL_ERROR;
}

} // namespace

extern "C" int Peakview_reader_Init(Tcl_Interp* interp) {
    if (Tcl_InitStubs(interp, "8.6", 0) == nullptr) return TCL_ERROR;
    Tcl_CreateObjCommand(interp, "::peakview::data::readPattern", read_pattern, nullptr, nullptr);
    peakview::create_label_commands(interp);
    return TCL_OK;
}
