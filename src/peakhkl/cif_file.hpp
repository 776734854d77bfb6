// A data block of a CIF file as people have them, as gemmi's document: the
// flaws that change nothing read past with a warning, CIF 2.0 read, every
// tag in its underscore form.
#pragma once

#include <gemmi/cifdoc.hpp>

#include <functional>
#include <string>
#include <vector>

namespace peakhkl {

// The largest CIF read (bytes): a file larger, or one that is not a
// regular file (a device, a pipe), is refused before it is read.
constexpr unsigned long long max_cif_bytes = 64ULL << 20;

// Whether a tag (lower case, underscore form) is one whose value is read.
using TagPredicate = std::function<bool(const std::string& tag)>;

// Every tag of every block in its underscore form: the dotted tags of CIF
// 2.0 (DDLm) files, _cell.length_a, _atom_site.fract_x, are read as
// _cell_length_a, _atom_site_fract_x, and looked up by those names only.
void underscore_tags(gemmi::cif::Document& doc);

// The data block of the file at path named block (any case), or its only
// block when block is empty, with its tags in their underscore forms. Read
// past, with a warning "FILE:LINE: warning: ..." added to warnings: a UTF-8
// byte-order mark, text before the first data_ line, a tag given twice or
// without a value that is not read; a tag that is read, given twice with
// one value or once more without a value. CIF 2.0 lists, tables and
// triple-quoted strings are read as the words [list], {table} and (over
// several lines) [text]. Throws InputError for what cannot be read: a
// directory, a file that is not regular or is larger than max_cif_bytes, a NUL byte, no data_ line,
// a syntax error, a tag that is read given twice with two values or once without one, a block name
// missing, given twice or not given among several (at most 20 names listed). With usable, a file of
// several blocks of which one alone is usable (holds what) gives that block without --block, with a
// note "FILE: note: ...": a journal's data_global header block beside the crystal's.
gemmi::cif::Block read_block(const std::string& path, const std::string& block,
                             const TagPredicate& read, std::vector<std::string>& warnings,
                             const std::function<bool(const gemmi::cif::Block&)>& usable = {},
                             const std::string& what = "");

} // namespace peakhkl
