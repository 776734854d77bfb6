// libFuzzer target: any bytes as a measured pattern, through the whole
// reader (plain columns, GSAS, every libxy format), under the file names
// that make libxy's guess differ.
//
// Besides the sanitizers' findings it checks what the viewer and the fit
// rely on: a pattern read has two points at least, each range has x, y and
// sigma of one length, x strictly increasing and finite, |values| within
// 1e100, sigma not negative, gaps in order within the range.
#include "pattern/pattern.hpp"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    for (const char* name : {"f.xy", "f.raw", "f.gsa"}) {
        pattern::Options options;
        options.max_points = 10000;
        options.all_columns = size % 2 == 1;
        try {
            const pattern::Pattern p = pattern::parse(bytes, name, options);
            check(p.points() >= 2 && p.points() <= options.max_points);
            for (const pattern::Range& r : p.ranges) {
                check(!r.x.empty() && r.y.size() == r.x.size() && r.sigma.size() == r.x.size());
                for (std::size_t i = 0; i < r.x.size(); ++i) {
                    check(std::isfinite(r.x[i]) && std::fabs(r.x[i]) <= 1e100);
                    check(std::isfinite(r.y[i]) && std::fabs(r.y[i]) <= 1e100);
                    check(std::isfinite(r.sigma[i]) && r.sigma[i] >= 0);
                    check(i == 0 || r.x[i] > r.x[i - 1]);
                }
                for (std::size_t k = 0; k < r.gaps.size(); ++k)
                    check(r.gaps[k] > 0 && r.gaps[k] < r.x.size() &&
                          (k == 0 || r.gaps[k] > r.gaps[k - 1]));
                for (const auto& c : r.columns) check(c.size() == r.x.size());
            }
        } catch (const pattern::ReadError& e) {
            check(!e.reason().empty());
        }
    }
    return 0;
}
