#include "pattern/libxy.hpp"

#include "pattern/points.hpp"
#include "pattern/text.hpp"

#include <xylib/xylib.h>

#include <cmath>
#include <cstring>
#include <istream>
#include <memory>
#include <streambuf>

namespace pattern::libxy {

namespace {

// The bytes as a stream, without a copy (a file may be 128 MiB).
class ViewBuf : public std::streambuf {
  public:
    explicit ViewBuf(std::string_view bytes) {
        char* b = const_cast<char*>(bytes.data());
        setg(b, b, b + bytes.size());
    }

  protected:
    pos_type seekoff(off_type off, std::ios_base::seekdir dir,
                     std::ios_base::openmode which) override {
        if (!(which & std::ios_base::in)) return pos_type(off_type(-1));
        off_type base = dir == std::ios_base::beg   ? 0
                        : dir == std::ios_base::cur ? gptr() - eback()
                                                    : egptr() - eback();
        const off_type to = base + off;
        if (to < 0 || to > egptr() - eback()) return pos_type(off_type(-1));
        setg(eback(), eback() + to, egptr());
        return pos_type(to);
    }
    pos_type seekpos(pos_type pos, std::ios_base::openmode which) override {
        return seekoff(off_type(pos), std::ios_base::beg, which);
    }
};

struct ViewStream : private ViewBuf, public std::istream {
    explicit ViewStream(std::string_view bytes)
        : ViewBuf(bytes), std::istream(static_cast<ViewBuf*>(this)) {}
};

std::string upper_key(std::string key) {
    std::string k;
    for (const char c : key)
        if (c != '_' && c != ' ')
            k += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return k;
}

bool plausible_wave(double v) {
    return v >= 0.05 && v <= 50;
}

// A number written alone in s (a metadata value), NaN otherwise.
double meta_number(std::string_view s) {
    s = text::trim(s);
    double v = 0;
    if (!s.empty() && text::scan_number(s, '.', v) == s.size()) return v;
    return std::nan("");
}

// The wavelengths stated in a block's or the file's metadata, under the
// names the formats give them.
void take_wavelengths(const xylib::MetaData& meta, Wavelengths& w, const std::string& where) {
    double used = std::nan("");
    for (std::size_t i = 0; i < meta.size(); ++i) {
        const std::string& key = meta.get_key(i);
        const std::string k = upper_key(key);
        const double v = meta_number(meta.get(key));
        if (std::isnan(v)) continue;
        if ((k == "ALPHA1" || k == "WL1" || k == "KALPHA1" || k == "LAMBDA1") &&
            plausible_wave(v) && std::isnan(w.alpha1)) {
            w.alpha1 = v;
            w.source = where;
        } else if ((k == "ALPHA2" || k == "WL2" || k == "KALPHA2" || k == "LAMBDA2") &&
                   plausible_wave(v) && std::isnan(w.alpha2)) {
            w.alpha2 = v;
        } else if ((k == "ALPHARATIO" || k == "WLRATIO" || k == "RATIOKALPHA2KALPHA1") && v >= 0 &&
                   v <= 1 && std::isnan(w.ratio)) {
            w.ratio = v;
        } else if ((k == "USEDLAMBDA" || k == "WAVELENGTH" || k == "LAMBDA") && plausible_wave(v)) {
            used = v;
        }
    }
    if (std::isnan(w.alpha1) && !std::isnan(used)) {
        w.alpha1 = used;
        w.source = where;
    }
}

// The text of the first element <name ...>text</name> in xml, empty where none.
std::string_view xml_element(std::string_view xml, std::string_view name) {
    const std::string open = "<" + std::string(name);
    for (std::size_t at = xml.find(open); at != std::string_view::npos;
         at = xml.find(open, at + 1)) {
        const std::size_t after = at + open.size();
        if (after >= xml.size() || (xml[after] != '>' && !text::is_blank(xml[after]))) continue;
        const std::size_t gt = xml.find('>', after);
        if (gt == std::string_view::npos) return {};
        const std::size_t lt = xml.find('<', gt);
        if (lt == std::string_view::npos) return {};
        return xml.substr(gt + 1, lt - gt - 1);
    }
    return {};
}

// XRDML's wavelengths and counting time: libxy reads its scans and no
// metadata.
void take_xrdml(std::string_view xml, Pattern& p) {
    const double a1 = meta_number(xml_element(xml, "kAlpha1"));
    const double a2 = meta_number(xml_element(xml, "kAlpha2"));
    const double ratio = meta_number(xml_element(xml, "ratioKAlpha2KAlpha1"));
    if (plausible_wave(a1)) {
        p.wave.alpha1 = a1;
        p.wave.source = "header";
        if (plausible_wave(a2)) p.wave.alpha2 = a2;
        if (ratio >= 0 && ratio <= 1) p.wave.ratio = ratio;
    }
    const double t = meta_number(xml_element(xml, "commonCountingTime"));
    if (t > 0)
        for (Range& r : p.ranges) r.step_time = t;
}

} // namespace

std::string format_of(std::string_view bytes, const std::string& file) {
    ViewStream s(bytes);
    try {
        const xylib::FormatInfo* fi = xylib::guess_filetype(file, s, nullptr);
        if (fi == nullptr) return "";
        const std::string name = fi->name;
        return name == "text" || name == "csv" ? "" : name;
    } catch (const std::exception&) {
        return "";
    }
}

Pattern read(std::string_view bytes, const std::string& file, const std::string& format,
             const Options& options) {
    // (Made here rather than by load_stream, which loses the data set when
    // its reading fails.)
    const auto* fi =
        static_cast<const xylib::FormatInfo*>(xylib_get_format_by_name(format.c_str()));
    if (fi == nullptr) throw ReadError(file, 0, "libxy knows no format " + format);
    const std::string desc = fi->desc;
    std::unique_ptr<xylib::DataSet> ds(fi->ctor());
    try {
        ViewStream s(bytes);
        ds->load_data(s, file.c_str());
    } catch (const std::exception& e) {
        throw ReadError(file, 0,
                        "libxy cannot read it as " + desc + ": " + text::quoted(e.what(), 200));
    }
    Pattern p;
    p.format = format;
    for (std::size_t i = 0; i < ds->meta.size(); ++i)
        p.meta.emplace_back(ds->meta.get_key(i), ds->meta.get(ds->meta.get_key(i)));
    take_wavelengths(ds->meta, p.wave, "header");
    Points points(file, options, p);
    bool extra = false;
    for (int b = 0; b < ds->get_block_count(); ++b) {
        const xylib::Block* block = ds->get_block(b);
        points.start_range();
        const int n = block->get_point_count();
        const int ncol = block->get_column_count();
        if (ncol < 2 || n < 0) continue;
        if (ncol > 2 && !options.all_columns) extra = true;
        const xylib::Column& x = block->get_column(1);
        const xylib::Column& y = block->get_column(2);
        for (int i = 0; i < n; ++i) {
            if (points.add(x.get_value(i), y.get_value(i), std::nan(""), 0) &&
                options.all_columns) {
                Range& r = points.current();
                r.columns.resize(static_cast<std::size_t>(ncol - 1));
                for (int c = 2; c <= ncol; ++c)
                    r.columns[static_cast<std::size_t>(c - 2)].push_back(
                        block->get_column(c).get_value(i));
            }
        }
        Range& r = points.current();
        for (std::size_t i = 0; i < block->meta.size(); ++i) {
            const std::string& key = block->meta.get_key(i);
            r.meta.emplace_back(key, block->meta.get(key));
            const std::string k = upper_key(key);
            const double v = meta_number(block->meta.get(key));
            if ((k == "TIMEPERSTEP" || k == "STEPTIME") && v > 0) r.step_time = v;
        }
        take_wavelengths(block->meta, p.wave, "header of range " + std::to_string(b + 1));
    }
    if (extra) p.notes.push_back({0, "columns after the second are not read"});
    points.finish("");
    if (format == "xrdml") take_xrdml(bytes, p);
    return p;
}

} // namespace pattern::libxy
