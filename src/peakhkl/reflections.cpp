#include "peakhkl/reflections.hpp"

#include <algorithm>
#include <cmath>
#include <set>

namespace peakhkl {

namespace {

// The Laue group: the rotations of the space group and their negatives
// (Friedel's law), as they act on Miller indices.
std::vector<gemmi::Op> laue_rotations(const gemmi::GroupOps& ops) {
    std::set<gemmi::Op::Rot> rotations;
    for (const gemmi::Op& op : ops.sym_ops) {
        rotations.insert(op.rot);
        rotations.insert(op.negated_rot());
    }
    std::vector<gemmi::Op> laue;
    for (const gemmi::Op::Rot& rot : rotations) laue.push_back(gemmi::Op{rot, {0, 0, 0}});
    return laue;
}

// The operations that can make a reflection absent beyond the lattice
// centring: the identity and those with a translation. An operation
// without one gives a reflection it leaves in place only the phase of a
// centring vector, which the centring test has already checked. gemmi's
// test for absences then loops over few operations, or none.
gemmi::GroupOps absence_ops(const gemmi::GroupOps& ops) {
    gemmi::GroupOps reduced;
    reduced.cen_ops = ops.cen_ops;
    reduced.sym_ops.push_back(ops.sym_ops.front()); // gemmi keeps the identity first
    for (auto op = ops.sym_ops.begin() + 1; op != ops.sym_ops.end(); ++op)
        if (op->tran != gemmi::Op::Tran{0, 0, 0}) reduced.sym_ops.push_back(*op);
    return reduced;
}

bool same_d(double a, double b) {
    return std::fabs(a - b) <= 1e-12 * std::max(a, b);
}

// Decreasing d; sets whose d differ only by rounding count as one d and
// are ordered by their representatives, largest first.
void sort_by_d(std::vector<Reflection>& list) {
    std::sort(list.begin(), list.end(),
              [](const Reflection& x, const Reflection& y) { return x.d > y.d; });
    for (auto run = list.begin(); run != list.end();) {
        auto end = run + 1;
        while (end != list.end() && same_d(run->d, end->d)) ++end;
        std::sort(run, end, [](const Reflection& x, const Reflection& y) { return x.hkl > y.hkl; });
        run = end;
    }
}

// Visits lo..hi from the middle outward, so that an enumeration stopped
// early has seen the reflections nearest the origin of reciprocal space.
template <typename Visit> bool middle_out(double lo, double hi, Visit visit) {
    constexpr double bound = 1e9; // far beyond any list that fits
    lo = std::max(std::ceil(lo), -bound);
    hi = std::min(std::floor(hi), bound);
    if (lo > hi) return true;
    const long first = static_cast<long>(lo), last = static_cast<long>(hi);
    const long mid = first + (last - first) / 2;
    for (long step = 0; mid + step <= last || mid - step >= first; ++step) {
        if (mid + step <= last && !visit(static_cast<int>(mid + step))) return false;
        if (step > 0 && mid - step >= first && !visit(static_cast<int>(mid - step))) return false;
    }
    return true;
}

// The range of x where a x^2 + b x + c <= 0 (a > 0), widened a little so
// that rounding loses no integer at its ends; false when it is empty.
bool roots(double a, double b, double c, double& lo, double& hi) {
    const double disc = b * b - 4 * a * c;
    if (disc < 0) return false;
    const double root = std::sqrt(disc);
    lo = (-b - root) / (2 * a);
    hi = (-b + root) / (2 * a);
    const double slack = 1e-7 * (1 + std::max(std::fabs(lo), std::fabs(hi)));
    lo -= slack;
    hi += slack;
    return true;
}

// Every set with d >= d_min, unordered; nothing once more than max_count
// are found. The box is walked plane by plane: for each h the k that the
// ellipsoid 1/d^2 <= 1/d_min^2 reaches, for each h, k the l it reaches.
std::optional<std::vector<Reflection>> enumerate(const Crystal& crystal, double d_min,
                                                 bool allowed_only, std::size_t max_count) {
    const gemmi::UnitCell& uc = crystal.unit_cell;
    const gemmi::GroupOps ops = absence_ops(crystal.symmetry.ops);
    const std::vector<gemmi::Op> laue = laue_rotations(crystal.symmetry.ops);
    // The reciprocal metric G*, as gemmi's 1/d^2 uses it.
    const double g11 = uc.ar * uc.ar, g22 = uc.br * uc.br, g33 = uc.cr * uc.cr;
    const double g12 = uc.ar * uc.br * uc.cos_gammar, g13 = uc.ar * uc.cr * uc.cos_betar,
                 g23 = uc.br * uc.cr * uc.cos_alphar;
    const double s2 = 1 / (d_min * d_min);
    std::vector<Reflection> list;
    // A set has at most as many members as the Laue group has rotations:
    // past this many reflections there are more than max_count sets, even
    // before their representatives have been met.
    const std::size_t max_members = laue.size() * (max_count + 1);
    std::size_t members_seen = 0;

    const auto visit = [&](const Miller& hkl) {
        // Friedel's mate -h -k -l is in the set, with the same d and the
        // same absence. Of a point with more negative indices than positive
        // ones, the mate has fewer negatives and is preferred: only the
        // mate is looked at, and it counts for both.
        const int negatives = (hkl[0] < 0) + (hkl[1] < 0) + (hkl[2] < 0);
        const int positives = (hkl[0] > 0) + (hkl[1] > 0) + (hkl[2] > 0);
        if (negatives > positives || positives == 0) return true; // (0,0,0) too
        const double d = uc.calculate_d(hkl);
        if (!(d >= d_min)) return true;
        if (!allowed_only || !ops.is_systematically_absent(hkl)) {
            const bool mate_skipped = positives > negatives;
            members_seen += mate_skipped ? 2 : 1;
            if (members_seen > max_members) return false;
        }
        std::array<Miller, 48> members; // a Laue group has at most 48 rotations
        for (std::size_t i = 0; i < laue.size(); ++i) {
            members[i] = laue[i].apply_to_hkl(hkl);
            if (preferred(members[i], hkl)) return true; // not the representative
        }
        const bool extinct = ops.is_systematically_absent(hkl);
        if (extinct && allowed_only) return true;
        const auto end = members.begin() + static_cast<long>(laue.size());
        std::sort(members.begin(), end);
        const auto distinct = std::unique(members.begin(), end) - members.begin();
        list.push_back({hkl, d, static_cast<int>(distinct), extinct});
        return list.size() <= max_count;
    };

    // |h| <= a/d_min: h is the projection of the reciprocal vector on a.
    const double hmax = std::sqrt(s2) * uc.a * (1 + 1e-9) + 1e-9;
    const bool complete = middle_out(-hmax, hmax, [&](int h) {
        // The smallest 1/d^2 over l, a quadratic in k.
        double klo, khi;
        if (!roots(g22 - g23 * g23 / g33, 2 * (g12 - g13 * g23 / g33) * h,
                   (g11 - g13 * g13 / g33) * h * h - s2, klo, khi))
            return true;
        return middle_out(klo, khi, [&](int k) {
            double llo, lhi;
            if (!roots(g33, 2 * (g13 * h + g23 * k),
                       g11 * h * h + g22 * k * k + 2 * g12 * h * k - s2, llo, lhi))
                return true;
            return middle_out(llo, lhi, [&](int l) { return visit(Miller{h, k, l}); });
        });
    });
    if (!complete) return std::nullopt;
    return list;
}

} // namespace

bool preferred(const Miller& a, const Miller& b) {
    const auto negatives = [](const Miller& m) { return (m[0] < 0) + (m[1] < 0) + (m[2] < 0); };
    if (negatives(a) != negatives(b)) return negatives(a) < negatives(b);
    return a > b;
}

std::optional<std::vector<Reflection>> reflection_list(const Crystal& crystal, double d_min,
                                                       bool allowed_only, std::size_t max_count) {
    auto list = enumerate(crystal, d_min, allowed_only, max_count);
    if (list) sort_by_d(*list);
    return list;
}

Cut cut_at(const Crystal& crystal, double d_min, bool allowed_only, std::size_t max_count) {
    // Move the limit by steps of 1.25 (the count goes as 1/d^3, a step
    // halves or doubles it) until the list holds more than max_count but
    // at most twice as many, bisecting once it has been overshot, then read
    // the cut off the ordered list.
    const std::size_t enough = 2 * max_count;
    double over = d_min; // gives more than enough
    double under = 0;    // gives at most max_count, once found
    // Start near the d where the sphere 1/d holds about 1.5 max_count sets
    // of the largest size: it holds 4 pi V / 3 d^3 reciprocal lattice points.
    // The lattice centring leaves one point in as many as it has vectors.
    const gemmi::GroupOps& ops = crystal.symmetry.ops;
    const double points = static_cast<double>(laue_rotations(ops).size() * max_count) * 1.5 *
                          static_cast<double>(allowed_only ? ops.cen_ops.size() : 1);
    double d = std::max(
        d_min, std::cbrt(4 * 3.14159265358979323846 * crystal.unit_cell.volume / (3 * points)));
    for (int tries = 0; tries < 200; ++tries) {
        auto list = enumerate(crystal, d, allowed_only, enough);
        if (!list) {
            over = d;
            d = under > 0 ? std::sqrt(over * under) : d * 1.25;
            continue;
        }
        if (list->size() <= max_count) {
            // Aim at 1.5 max_count, with the count going as 1/d^3.
            under = d;
            const double ratio =
                static_cast<double>(list->size()) / (1.5 * static_cast<double>(max_count));
            const double aim = list->empty() ? d / 2 : d * std::cbrt(ratio);
            d = aim > over ? aim : std::sqrt(over * under);
            continue;
        }
        sort_by_d(*list);
        const auto& l = *list;
        std::size_t first = max_count; // the first of the d group beyond max_count
        while (first > 0 && same_d(l[first - 1].d, l[max_count].d)) --first;
        double d_out = l[first].d;
        for (std::size_t i = first; i < l.size() && same_d(l[i].d, l[first].d); ++i)
            d_out = std::max(d_out, l[i].d);
        if (first == 0) return {d_out, std::nullopt};
        return {d_out, l[first - 1].d};
    }
    return {d_min, std::nullopt};
}

} // namespace peakhkl
