#!/usr/bin/python3
"""peakhkl against cctbx, an independent implementation of the same
crystallography, over random cells in random settings of the 230 space-group
types (every tabulated setting, given to peakhkl by its Hall symbol or, in
the reference setting, by its number).

    /usr/bin/python3 cctbx_diff.py PEAKHKL

Each case compares peakhkl's --table with cctbx: the allowed reflections
are, mapped to cctbx's asymmetric unit, exactly cctbx's complete set to the
same d limit; the extinct flag is cctbx's is_sys_absent; allowed and extinct
together are exactly the sets of the Laue group; every row is the member of
its set that has the fewest negative indices, then the largest h, k, l; its
multiplicity is its set's size, Friedel mates counted; d matches and falls
from row to row. PEAKHKL_DIFF_CASES sets the number of cases (30), cycling
through the 230 types in a shuffled order; PEAKHKL_DIFF_SEED the seed. A
long run shows its progress on standard error every 2 seconds.

    /usr/bin/python3 cctbx_diff.py PEAKHKL FILE.cif...

compares, instead, each data block of the CIF files read by both: cctbx's
iotbx.cif gives the cell and the space group, taken in peakhkl's order of
trust (the listed operators, the Hall symbol, the Hermann-Mauguin names, the
number; one that cctbx cannot read gives way to the next). iotbx.cif reads
CIF 1.1 only and refuses a tag given twice, so it is given the file without
what peakhkl reads past: a later empty value of a tag given before, and the
CIF 2.0 lists, tables and triple-quoted strings (none of them a value either
program takes here).
"""
import math
import os
import random
import re
import subprocess
import sys
import time

from cctbx import crystal, miller, sgtbx, uctbx
from cctbx.array_family import flex


def random_cell(rng, group, shortest=3):
    """A cell with the metric symmetry of group, from a random one whose
    lengths lie between shortest and 12 A."""
    while True:
        lengths = [rng.uniform(shortest, 12) for _ in range(3)]
        angles = [rng.uniform(70, 115) for _ in range(3)]
        try:
            cell = group.average_unit_cell(uctbx.unit_cell(lengths + angles))
        except RuntimeError:
            continue
        params = [float("%.6f" % p) for p in cell.parameters()]
        if params[0] > 1.5 and min(params[3:]) > 20:
            return params


def orbit(rotations, hkl):
    """The set of hkl under the Laue group: rotations and Friedel mates."""
    h, k, l = hkl
    members = set()
    for r in rotations:
        image = (h * r[0] + k * r[3] + l * r[6], h * r[1] + k * r[4] + l * r[7],
                 h * r[2] + k * r[5] + l * r[8])
        members.add(image)
        members.add(tuple(-x for x in image))
    return members


def preferred_key(hkl):
    return (sum(1 for x in hkl if x < 0), -hkl[0], -hkl[1], -hkl[2])


def asu_set(symmetry, indices):
    if not indices:
        return set()
    ms = miller.set(symmetry, flex.miller_index(indices), anomalous_flag=False).map_to_asu()
    return set(ms.indices())


def d_limit(symmetry, rotations):
    """A d limit that gives about 150 sets, away from any reflection's d."""
    laue_order = len({r for r in rotations} | {tuple(-x for x in r) for r in rotations})
    d_min = (4 * math.pi * symmetry.unit_cell().volume() / (3 * 300 * laue_order)) ** (1 / 3)
    while True:
        d_min = float("%.6f" % d_min)
        complete = miller.build_set(symmetry, anomalous_flag=False, d_min=d_min * 0.99)
        if all(abs(d / d_min - 1) > 1e-6 for d in complete.d_spacings().data()):
            return d_min
        d_min *= 0.997


def check(peakhkl, rng, symbol, by_number):
    group = sgtbx.space_group(symbol.hall())
    cell = random_cell(rng, group)
    symmetry = crystal.symmetry(unit_cell=uctbx.unit_cell(cell), space_group=group)
    rotations = [tuple(int(x) for x in op.r().as_double()) for op in group.smx()]
    d_min = d_limit(symmetry, rotations)
    sg_text = str(symbol.number()) if by_number else "hall:" + symbol.hall()
    args = ["--cell"] + ["%.6f" % p for p in cell] + ["--sg", sg_text]
    where = "%s (%s), cell %s, --d-min %.6f" % (symbol.universal_hermann_mauguin(), sg_text,
                                                  " ".join("%.6f" % p for p in cell), d_min)
    return compare(peakhkl, args, symmetry, d_min, where)


def compare(peakhkl, crystal_args, symmetry, d_min, where):
    """Faults of peakhkl's table for crystal_args against cctbx's symmetry."""
    unit_cell, group = symmetry.unit_cell(), symmetry.space_group()
    rotations = [tuple(int(x) for x in op.r().as_double()) for op in group.smx()]
    args = [peakhkl] + crystal_args + [
        "--wave", "1", "--d-min", "%.6f" % d_min, "--table", "/dev/stdout"]
    run = subprocess.run(args, capture_output=True, text=True)
    if run.returncode != 0:
        return ["%s: peakhkl failed: %s" % (where, run.stderr.strip())]
    lines = run.stdout.splitlines()
    header = lines.index("h\tk\tl\td\t2theta\tmultiplicity\textinct\tF2\tintensity")
    rows = [line.split("\t") for line in lines[header + 1:] if "\t" in line]
    rows = [((int(r[0]), int(r[1]), int(r[2])), float(r[3]), int(r[5]), int(r[6])) for r in rows]

    faults = []
    allowed_cctbx = set(miller.build_set(symmetry, anomalous_flag=False, d_min=d_min).indices())
    allowed = [hkl for hkl, _, _, extinct in rows if not extinct]
    if len(set(allowed)) != len(allowed) or asu_set(symmetry, allowed) != allowed_cctbx \
            or len(allowed) != len(allowed_cctbx):
        faults.append("%s: %d allowed reflections, cctbx has %d sets" %
                      (where, len(allowed), len(allowed_cctbx)))
    # The Laue group as a space group without translations: every set, the
    # systematically absent ones included.
    laue = sgtbx.space_group()
    for r in rotations:
        laue.expand_smx(sgtbx.rt_mx(sgtbx.rot_mx(r)))
    laue_symmetry = crystal.symmetry(unit_cell=unit_cell, space_group=laue)
    every = miller.build_set(laue_symmetry, anomalous_flag=False, d_min=d_min)
    if asu_set(laue_symmetry, [r[0] for r in rows]) != set(every.indices()) or \
            len(rows) != every.size():
        faults.append("%s: %d reflections, the Laue group has %d sets" %
                      (where, len(rows), every.size()))
    previous = math.inf
    for hkl, d, multiplicity, extinct in rows:
        members = orbit(rotations, hkl)
        if min(members, key=preferred_key) != hkl:
            faults.append("%s: %s is not its set's representative %s" %
                          (where, hkl, min(members, key=preferred_key)))
        if multiplicity != len(members):
            faults.append("%s: %s multiplicity %d, its set has %d" %
                          (where, hkl, multiplicity, len(members)))
        if bool(extinct) != group.is_sys_absent(hkl):
            faults.append("%s: %s extinct %d, cctbx is_sys_absent %s" %
                          (where, hkl, extinct, group.is_sys_absent(hkl)))
        if abs(d - unit_cell.d(hkl)) > 2e-6 or d > previous + 2e-6:
            faults.append("%s: %s d %.6f, cctbx %.6f, the row before %.6f" %
                          (where, hkl, d, unit_cell.d(hkl), previous))
        previous = d
    return faults[:5]


def for_iotbx(text):
    """The CIF text without what iotbx.cif cannot read and peakhkl reads past."""
    if text.startswith("#\\#CIF_2.0"):
        text = re.sub(r'"""[\s\S]*?"""|\'\'\'[\s\S]*?\'\'\'', "'-'", text)
        while True:
            shorter = re.sub(r"\[[^\[\]{}]*\]|\{[^\[\]{}]*\}", "'-'", text)
            if shorter == text:
                break
            text = shorter
    seen, lines = set(), []
    for line in text.splitlines():
        words = line.split()
        if words and words[0].startswith("_"):
            tag = words[0].lower()
            if tag in seen and len(words) == 2 and words[1] in ("''", '""'):
                continue
            seen.add(tag)
        lines.append(line)
    return "\n".join(lines) + "\n"


def value(block, tag):
    """The block's value of tag in its underscore or dotted form, or None."""
    for name in block.keys():
        if name.lower().replace(".", "_", 1) == tag.lower():
            found = block[name]
            if isinstance(found, str):
                return None if found in ("?", ".") else found
            found = [x for x in found if x not in ("?", ".")]
            return found or None
    return None


def number(text):
    return float(re.sub(r"\(\d+\)$", "", text))


def cif_symmetry(block):
    """The cell and the space group cctbx reads, in peakhkl's order of trust."""
    cell = [number(value(block, "_cell_" + t)) for t in (
        "length_a", "length_b", "length_c", "angle_alpha", "angle_beta", "angle_gamma")]
    unit_cell = uctbx.unit_cell(cell)
    rhombohedral = abs(cell[0] - cell[2]) < 1e-4 * cell[0] and abs(cell[3] - 90) > 1e-3
    readers = []
    for tag in ("_space_group_symop_operation_xyz", "_symmetry_equiv_pos_as_xyz"):
        ops = value(block, tag)
        if ops:
            def from_ops(ops=ops):
                group = sgtbx.space_group()
                for op in [ops] if isinstance(ops, str) else ops:
                    group.expand_smx(sgtbx.rt_mx(op))
                return group
            readers.append(from_ops)
            break
    for tag in ("_space_group_name_Hall", "_symmetry_space_group_name_Hall"):
        if value(block, tag):
            readers.append(lambda t=value(block, tag): sgtbx.space_group("Hall: " + t))
            break
    for tag in ("_space_group_name_H-M_alt", "_symmetry_space_group_name_H-M",
                "_space_group_name_H-M", "_space_group_name_H-M_full",
                "_space_group_name_H-M_ref"):
        if value(block, tag):
            def from_symbol(text=value(block, tag)):
                info = sgtbx.space_group_info(text)
                if rhombohedral and ":" not in text and info.group().n_smx() != \
                        sgtbx.space_group_info(text + ":R").group().n_smx():
                    info = sgtbx.space_group_info(text + ":R")
                return info.group()
            readers.append(from_symbol)
    for tag in ("_space_group_IT_number", "_symmetry_Int_Tables_number"):
        if value(block, tag):
            readers.append(lambda t=value(block, tag): from_number(t, rhombohedral))
            break
    for read in readers:
        try:
            return crystal.symmetry(unit_cell=unit_cell, space_group=read())
        except (RuntimeError, ValueError):
            continue
    raise RuntimeError("no space group cctbx reads")


def from_number(text, rhombohedral):
    info = sgtbx.space_group_info(int(text))
    if rhombohedral and info.group().conventional_centring_type_symbol() == "R":
        info = sgtbx.space_group_info(str(int(text)) + ":R")
    return info.group()


def check_files(peakhkl, paths):
    import iotbx.cif
    faults, blocks = [], 0
    for path in paths:
        with open(path, encoding="utf-8") as f:
            model = iotbx.cif.reader(input_string=for_iotbx(f.read())).model()
        for name, block in model.items():
            blocks += 1
            where = "%s data_%s" % (os.path.basename(path), name)
            try:
                symmetry = cif_symmetry(block)
            except (RuntimeError, ValueError, TypeError) as e:
                faults.append("%s: cctbx reads no crystal: %s" % (where, e))
                continue
            rotations = [tuple(int(x) for x in op.r().as_double())
                         for op in symmetry.space_group().smx()]
            d_min = d_limit(symmetry, rotations)
            faults += compare(peakhkl, [path, "--block", name], symmetry, d_min,
                              "%s, --d-min %.6f" % (where, d_min))
    for fault in faults:
        print("FAIL:", fault)
    print("%d files, %d blocks, %d faults" % (len(paths), blocks, len(faults)))
    return 1 if faults else 0


def main():
    peakhkl = sys.argv[1]
    if len(sys.argv) > 2:
        return check_files(peakhkl, sys.argv[2:])
    cases = int(os.environ.get("PEAKHKL_DIFF_CASES", "30"))
    rng = random.Random(int(os.environ.get("PEAKHKL_DIFF_SEED", "7")))
    settings = {}
    for symbol in sgtbx.space_group_symbol_iterator():
        settings.setdefault(symbol.number(), []).append(symbol)
    order = list(range(1, 231))
    rng.shuffle(order)
    faults, reflections = [], 0
    # A long run says on standard error, every few seconds, how far it is.
    shown = time.monotonic()
    for i in range(cases):
        if time.monotonic() - shown >= 2:
            shown = time.monotonic()
            print("cctbx_diff: %d of %d cases, %d faults" % (i, cases, len(faults)),
                  file=sys.stderr, flush=True)
        number = order[i % 230]
        symbol = rng.choice(settings[number])
        reference = sgtbx.space_group_info(number).type().hall_symbol()
        by_number = symbol.hall().strip() == reference.strip() and rng.random() < 0.5
        found = check(peakhkl, rng, symbol, by_number)
        faults += found
    for fault in faults:
        print("FAIL:", fault)
    print("%d cases, %d space-group types, %d faults" % (cases, min(cases, 230), len(faults)))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
