#!/usr/bin/python3
"""peakhkl's |F|^2 and intensities against cctbx, an independent
implementation of the same crystallography.

    /usr/bin/python3 cctbx_f2.py PEAKHKL PEAKHKL_FPRIME SOURCE_DIR

Random structures: random atoms of several elements, on general positions
and on special positions (a random point of a random Wyckoff position),
with isotropic or anisotropic displacement given as U or as B, partial
occupancies, in random space groups of every crystal system given to
peakhkl as a CIF with the group's operators. Then the CIFs of examples/ and
tests/peakhkl/data/, read by cctbx's own CIF reader. For each, peakhkl's F2
column equals cctbx's direct sum (xray.structure, the it1992 table or the
neutron one), the mean of |F(h)|^2 and |F(-h)|^2:
  - without anomalous terms (--no-dispersion) and for neutrons within 1e-5
    of the strongest |F|^2;
  - with them within 1e-3 of the strongest, cctbx given the f', f'' that
    PEAKHKL_FPRIME (gemmi's Cromer-Liberman) gives peakhkl;
  - a systematically absent reflection within 1e-6 of the strongest of 0;
and the intensity column is m F2 Lp, the strongest allowed 100.
The cases that catch the classic mistakes follow: rock salt, silicon 2 2 2,
spinel 3 1 1, gallium arsenide's Friedel pairs with f'', rock salt with its
Na split over six images (each image counted, the occupancy not divided
again).

PEAKHKL_F2_CASES sets the number of random structures (12); PEAKHKL_F2_SEED
the seed.
"""
import math
import os
import random
import subprocess
import sys
import tempfile

from cctbx import adptbx, crystal, miller, sgtbx, uctbx, xray
from cctbx.array_family import flex
import iotbx.cif

from cctbx_diff import random_cell

ELEMENTS = ["H", "C", "N", "O", "F", "Na", "Mg", "Al", "Si", "P", "S", "Cl", "K", "Ca", "Ti",
            "Mn", "Fe", "Cu", "Zn", "Se", "Br", "Sr", "Zr", "Ag", "Sn", "I", "Ba", "La", "Gd",
            "W", "Pt", "Pb", "U"]
NEUTRON_ELEMENTS = [e for e in ELEMENTS if e not in ("Gd",)]  # Gd: a complex length


def random_u_star(rng, unit_cell, site_symmetry):
    """A positive definite U (as u*) that the site's symmetry leaves as it is."""
    while True:
        m = [[rng.uniform(-0.1, 0.1) for _ in range(3)] for _ in range(3)]
        u = [[sum(m[i][k] * m[j][k] for k in range(3)) + (0.004 if i == j else 0)
              for j in range(3)] for i in range(3)]
        u_cart = (u[0][0], u[1][1], u[2][2], u[0][1], u[0][2], u[1][2])
        u_star = site_symmetry.average_u_star(adptbx.u_cart_as_u_star(unit_cell, u_cart))
        if min(adptbx.eigenvalues(adptbx.u_star_as_u_cart(unit_cell, u_star))) > 0.002:
            return u_star


def random_structure(rng, symbol, elements):
    """A CIF's text and the same structure for cctbx, from its rounded numbers."""
    group = sgtbx.space_group(symbol.hall())
    unit_cell = uctbx.unit_cell(random_cell(rng, group, shortest=4))
    symmetry = crystal.symmetry(unit_cell=unit_cell, space_group=group)
    strict = symmetry.special_position_settings(min_distance_sym_equiv=1.0)
    wyckoff = sgtbx.space_group_info(group=group).wyckoff_table()
    # The isotropic displacements all as U or all as B, the anisotropic ones
    # in a loop of U or one of B.
    iso_b = rng.random() < 0.3
    aniso_kind = "B" if rng.random() < 0.3 else "U"
    eight_pi2 = 8 * math.pi ** 2
    lines, aniso, scatterers = [], {"U": [], "B": []}, []
    count = rng.randint(2, 6)
    for _ in range(1000):  # a small cell of a large group may hold fewer
        if len(scatterers) == count:
            break
        position = wyckoff.position(0 if rng.random() < 0.6 else rng.randrange(wyckoff.size()))
        site = position.special_op() * [rng.random() for _ in range(3)]
        site = [float("%.10f" % (x % 1.0)) for x in site]
        # The site's symmetry, no more: nothing of the cell within 1 A of an
        # image of the atom that is not the atom itself.
        site_symmetry = strict.site_symmetry(site)
        if site_symmetry.multiplicity() != position.multiplicity() or \
                site_symmetry.distance_moved() > 1e-6:
            continue
        # Atoms 1 A apart at least, as in a crystal.
        if any(sgtbx.min_sym_equiv_distance_info(strict.sym_equiv_sites(s.site), site).dist() < 1
               for s in scatterers):
            continue
        element = rng.choice(elements)
        label = "%s%d" % (element, len(scatterers) + 1)
        occupancy = 1.0 if rng.random() < 0.5 else float("%.4f" % rng.uniform(0.3, 1))
        if rng.random() < 0.5:
            u_iso = float("%.6f" % rng.uniform(0.003, 0.04))
            u_text = "%.6f" % (u_iso * eight_pi2 if iso_b else u_iso)
            u = float(u_text) / eight_pi2 if iso_b else u_iso
            scatterer = xray.scatterer(label=label, site=site, u=u, occupancy=occupancy,
                                       scattering_type=element)
        else:
            kind = aniso_kind
            scale = eight_pi2 if kind == "B" else 1
            u_star = random_u_star(rng, unit_cell, site_symmetry)
            u_cif = ["%.8f" % (x * scale) for x in adptbx.u_star_as_u_cif(unit_cell, u_star)]
            aniso[kind].append("%s %s" % (label, " ".join(u_cif)))
            u_text = "?"
            scatterer = xray.scatterer(
                label=label, site=site, occupancy=occupancy, scattering_type=element,
                u=adptbx.u_cif_as_u_star(unit_cell, [float(x) / scale for x in u_cif]))
        scatterers.append(scatterer)
        lines.append("%s %s %.10f %.10f %.10f %.4f %s" % ((label, element) + tuple(site) +
                                                         (occupancy, u_text)))
    text = ["data_random"]
    for name, value in zip(["length_a", "length_b", "length_c", "angle_alpha", "angle_beta",
                            "angle_gamma"], unit_cell.parameters()):
        text.append("_cell_%s %.6f" % (name, value))
    text += ["loop_", "_space_group_symop_operation_xyz"]
    text += ["'%s'" % op.as_xyz() for op in group]
    text += ["loop_", "_atom_site_label", "_atom_site_type_symbol", "_atom_site_fract_x",
             "_atom_site_fract_y", "_atom_site_fract_z", "_atom_site_occupancy",
             "_atom_site_B_iso_or_equiv" if iso_b else "_atom_site_U_iso_or_equiv"]
    text += lines
    for kind, rows in aniso.items():
        if rows:
            text += ["loop_", "_atom_site_aniso_label"]
            text += ["_atom_site_aniso_%s_%s" % (kind, ij) for ij in ("11", "22", "33", "12", "13", "23")]
            text += rows
    structure = xray.structure(
        special_position_settings=symmetry.special_position_settings(min_distance_sym_equiv=0.5),
        scatterers=flex.xray_scatterer(scatterers))
    return "\n".join(text) + "\n", structure


def d_limit(structure, count=150):
    """A d limit that gives about count sets."""
    symmetry = structure.crystal_symmetry()
    order = symmetry.space_group().build_derived_laue_group().order_z()
    return (4 * math.pi * symmetry.unit_cell().volume() / (3 * 2 * count * order)) ** (1 / 3)


def peakhkl_table(peakhkl, cif_path, args, work):
    table = os.path.join(work, "table.tsv")
    run = subprocess.run([peakhkl, cif_path, "--table", table] + args, capture_output=True,
                         text=True)
    if run.returncode != 0:
        return None, run.stderr.strip()
    with open(table) as f:
        lines = f.read().splitlines()
    assert lines[0] == "h\tk\tl\td\t2theta\tmultiplicity\textinct\tF2\tintensity", lines[0]
    rows = []
    for line in lines[1:]:
        r = line.split("\t")
        rows.append({"hkl": (int(r[0]), int(r[1]), int(r[2])), "d": float(r[3]),
                     "tt": float(r[4]),
                     "m": int(r[5]), "extinct": r[6] == "1", "f2": float(r[7]),
                     "i": None if r[8] == "-" else float(r[8])})
    return rows, run.stderr


def lp(tt, beam):
    """The Lorentz-polarization factor, written out again."""
    t = math.radians(tt)
    lorentz = 1 / (math.sin(t / 2) ** 2 * math.cos(t / 2))
    if beam.get("neutron"):
        return lorentz
    c2 = math.cos(t) ** 2
    if "polarization" in beam:
        f = beam["polarization"]
        return lorentz * (f + (1 - f) * c2)
    m2 = math.cos(math.radians(beam.get("monochromator", 0))) ** 2
    return lorentz * (1 + m2 * c2) / (1 + m2)


def reference_f2(structure, rows, beam, fprime):
    """cctbx's direct sums: for each row, (|F(h)|^2 + |F(-h)|^2) / 2, and both."""
    structure = structure.deep_copy_scatterers()
    structure.scattering_type_registry(table="neutron" if beam.get("neutron") else "it1992")
    for s in structure.scatterers():
        s.fp, s.fdp = fprime.get(s.scattering_type, (0.0, 0.0))
    indices = flex.miller_index([r["hkl"] for r in rows] +
                                [tuple(-x for x in r["hkl"]) for r in rows])
    ms = miller.set(structure.crystal_symmetry(), indices, anomalous_flag=True)
    f = ms.structure_factors_from_scatterers(structure, algorithm="direct").f_calc().data()
    n = len(rows)
    return [(abs(f[i]) ** 2, abs(f[n + i]) ** 2) for i in range(n)]


# The largest |F2 - cctbx| / strongest seen, by radiation.
WORST = {}


def compare(where, rows, reference, beam, tolerance, kind, unit_cell):
    faults = []
    mean = [(p + m) / 2 for p, m in reference]
    strongest = max([m for m, r in zip(mean, rows) if not r["extinct"]] + [1e-300])
    for r, ref in zip(rows, mean):
        if r["extinct"]:
            if abs(r["f2"]) > 1e-6 * strongest:
                faults.append("%s: %s absent, F2 %.6g" % (where, r["hkl"], r["f2"]))
            continue
        WORST[kind] = max(WORST.get(kind, 0), abs(r["f2"] - ref) / strongest)
        if abs(r["f2"] - ref) > tolerance * strongest:
            faults.append("%s: %s F2 %.6f, cctbx %.6f (strongest %.6g)" %
                          (where, r["hkl"], r["f2"], ref, strongest))
    # The intensity column: m F2 Lp, the strongest allowed 100.
    # 2theta from cctbx's d: near 180 degrees Lp grows without bound, and
    # the table's rounded d and 2theta would not do.
    raw = [r["m"] * r["f2"] *
           lp(2 * math.degrees(math.asin(beam["wave"] / (2 * unit_cell.d(r["hkl"])))), beam)
           if r["tt"] > 0 else None for r in rows]
    top = max(x for x, r in zip(raw, rows) if x is not None and not r["extinct"])
    for r, x in zip(rows, raw):
        expected = None if x is None else 100 * x / top
        if (expected is None) != (r["i"] is None) or \
                (expected is not None and abs(r["i"] - expected) >
                 1.5e-3 + expected * (1e-6 + 5e-7 / max(r["f2"], 1e-300))):
            faults.append("%s: %s intensity %s, m F2 Lp gives %s" % (where, r["hkl"], r["i"],
                                                                     expected))
    return faults[:5]


def fprimes(helper, wave, elements):
    out = subprocess.run([helper, repr(wave)] + sorted(set(elements)), capture_output=True,
                         text=True, check=True).stdout
    return {e: (float(fp), float(fpp)) for e, fp, fpp in (l.split() for l in out.splitlines())}


def beam_options(rng, kind):
    """peakhkl's options and the beam they describe."""
    if kind == "neutron":
        wave = float("%.4f" % rng.uniform(1.0, 2.5))
        return ["--radiation", "neutron", "--wave", repr(wave)], {"neutron": True, "wave": wave}
    name, wave = rng.choice([("CuKa1", 1.5405929), ("MoKa1", 0.70931715), ("CoKa1", 1.788996),
                             ("cuka", 1.5418711)])
    args, beam = ["--wave", name], {"wave": wave}
    choice = rng.random()
    if choice < 0.3:
        beam["monochromator"] = 26.6
        args += ["--monochromator", "26.6"]
    elif choice < 0.6:
        beam["polarization"] = 0.95
        args += ["--polarization", "0.95"]
    if kind == "xray":
        args.append("--no-dispersion")
    return args, beam


def check_structure(peakhkl, helper, work, where, cif_path, structure, args, beam, rng=None):
    dispersion = not beam.get("neutron") and "--no-dispersion" not in args
    d_min = d_limit(structure)
    wave = beam["wave"]
    if 2 * d_min < wave:  # the wavelength must reach them
        d_min = wave / 2 * 1.0001
    rows, err = peakhkl_table(peakhkl, cif_path, args + ["--d-min", "%.6f" % d_min], work)
    if rows is None:
        return ["%s: peakhkl failed: %s" % (where, err)], None, None
    elements = [s.scattering_type for s in structure.scatterers()]
    fprime = fprimes(helper, wave, elements) if dispersion else {}
    reference = reference_f2(structure, rows, beam, fprime)
    kind = "neutron" if beam.get("neutron") else "with f', f''" if dispersion else "no dispersion"
    faults = compare(where, rows, reference, beam, 1e-3 if dispersion else 1e-5, kind,
                     structure.unit_cell())
    return faults, rows, reference


def random_cases(peakhkl, helper, work, rng, cases):
    settings = {}
    for symbol in sgtbx.space_group_symbol_iterator():
        settings.setdefault(symbol.number(), []).append(symbol)
    # Every crystal system in turn: triclinic, monoclinic, orthorhombic,
    # tetragonal, trigonal, hexagonal, cubic.
    systems = [(1, 2), (3, 15), (16, 74), (75, 142), (143, 167), (168, 194), (195, 230)]
    faults, kinds = [], ["xray", "dispersion", "neutron"]
    for i in range(cases):
        low, high = systems[i % len(systems)]
        symbol = rng.choice(settings[rng.randint(low, high)])
        kind = kinds[i % 3]
        text, structure = random_structure(rng, symbol,
                                           NEUTRON_ELEMENTS if kind == "neutron" else ELEMENTS)
        path = os.path.join(work, "random.cif")
        with open(path, "w") as f:
            f.write(text)
        args, beam = beam_options(rng, kind)
        where = "case %d, %s (%s), %s" % (i, symbol.universal_hermann_mauguin(), kind,
                                          " ".join(args))
        found, _, _ = check_structure(peakhkl, helper, work, where, path, structure, args, beam)
        if found:
            keep = os.path.join(tempfile.gettempdir(), "peakhkl_f2_case%d.cif" % i)
            with open(keep, "w") as f:
                f.write(text)
            found.append("%s: the CIF is kept in %s" % (where, keep))
        faults += found
    return faults


def fixture_cases(peakhkl, helper, work, source):
    faults, tables = [], {}
    paths = [os.path.join(source, "examples", n) for n in sorted(os.listdir(
        os.path.join(source, "examples"))) if n.endswith(".cif")]
    paths += [os.path.join(source, "tests", "peakhkl", "data", n) for n in sorted(os.listdir(
        os.path.join(source, "tests", "peakhkl", "data"))) if n.endswith(".cif")]
    for path in paths:
        structures = iotbx.cif.reader(file_path=path).build_crystal_structures()
        structure = list(structures.values())[0]
        # Ions are read as neutral atoms, as peakhkl's table has neutral atoms only.
        for s in structure.scatterers():
            s.scattering_type = s.scattering_type.rstrip("+-0123456789")
        name = os.path.basename(path)[:-4]
        for kind, args, beam in (("no dispersion", ["--wave", "CuKa1", "--no-dispersion"],
                                  {"wave": 1.5405929}),
                                 ("CuKa1", ["--wave", "CuKa1"], {"wave": 1.5405929})):
            found, rows, reference = check_structure(peakhkl, helper, work,
                                                     "%s (%s)" % (name, kind), path, structure,
                                                     args, beam)
            faults += found
            tables[(name, kind)] = (rows, reference)
    return faults, tables


def split_site_case(peakhkl, helper, work):
    """Rock salt with its Na split over six images 0.11 to 0.16 A apart
    around the origin (x 0 0, occupancy 1/6: the occupancy accounts for the
    images). cctbx, its special positions told apart at 0.01 A, sums every
    image; so must peakhkl, without dividing the occupancy again: F2(1 1 1)
    then is 4 (f_Cl - f_Na) squared, small, and not 4 (f_Cl - f_Na / 6)."""
    a, x = 5.64, 0.02
    text = "\n".join([
        "data_split", "_cell_length_a %s" % a, "_cell_length_b %s" % a, "_cell_length_c %s" % a,
        "_cell_angle_alpha 90", "_cell_angle_beta 90", "_cell_angle_gamma 90",
        "_space_group_IT_number 225", "loop_", "_atom_site_label", "_atom_site_type_symbol",
        "_atom_site_fract_x", "_atom_site_fract_y", "_atom_site_fract_z",
        "_atom_site_occupancy", "_atom_site_U_iso_or_equiv",
        "Na1 Na %s 0 0 0.1666667 0.015" % x, "Cl1 Cl 0.5 0.5 0.5 1 0.012"]) + "\n"
    path = os.path.join(work, "split.cif")
    with open(path, "w") as f:
        f.write(text)
    symmetry = crystal.symmetry(unit_cell=(a, a, a, 90, 90, 90), space_group_symbol="F m -3 m")
    structure = xray.structure(
        special_position_settings=symmetry.special_position_settings(min_distance_sym_equiv=0.01),
        scatterers=flex.xray_scatterer([
            xray.scatterer(label="Na1", site=(x, 0, 0), occupancy=0.1666667, u=0.015,
                           scattering_type="Na"),
            xray.scatterer(label="Cl1", site=(0.5, 0.5, 0.5), occupancy=1, u=0.012,
                           scattering_type="Cl")]))
    beam = {"wave": 1.5405929}
    faults, rows, reference = check_structure(
        peakhkl, helper, work, "split Na", path, structure, ["--wave", "CuKa1", "--no-dispersion"],
        beam)
    if rows is not None:
        r111 = [r for r in rows if r["hkl"] == (1, 1, 1)][0]
        print("split Na: F2(1 1 1) %.1f, cctbx %.1f" %
              (r111["f2"], [ref for r, ref in zip(rows, reference) if r is r111][0][0]))
    return faults


def classic_mistakes(tables):
    """The cases peers get wrong, each a rule on peakhkl's table."""
    faults = []

    def row(name, kind, hkl):
        rows, reference = tables[(name, kind)]
        for r, ref in zip(rows, reference):
            if r["hkl"] == hkl:
                return r, ref
        raise KeyError(hkl)

    def rule(ok, text):
        if not ok:
            faults.append("classic: " + text)

    # Rock salt: Na at the origin and Cl at the body centre, each one atom of
    # the cell before the centring: 2 0 0 the strongest, 1 1 1 weak.
    nacl = tables[("nacl", "no dispersion")][0]
    rule(row("nacl", "no dispersion", (2, 0, 0))[0]["i"] == 100, "NaCl 2 0 0 is not 100")
    rule(row("nacl", "no dispersion", (1, 1, 1))[0]["i"] < 15, "NaCl 1 1 1 is not weak")
    rule(len(nacl) > 5, "NaCl's table is short")
    # Silicon: 2 2 2 allowed by F d -3 m and 0 by the atoms.
    si222, _ = row("silicon", "no dispersion", (2, 2, 2))
    si111, _ = row("silicon", "no dispersion", (1, 1, 1))
    rule(not si222["extinct"] and si222["f2"] < 1e-6 * si111["f2"], "Si 2 2 2 is not 0")
    # Spinel: 3 1 1 the strongest line.
    rule(row("spinel", "no dispersion", (3, 1, 1))[0]["i"] == 100, "spinel 3 1 1 is not 100")
    # GaAs with f'': the Friedel mates differ, and the line is their mean.
    r, (plus, minus) = row("gaas", "CuKa1", (1, 1, 1))
    rule(abs(plus - minus) > 0.01 * plus, "GaAs 1 1 1: the Friedel mates do not differ")
    rule(abs(r["f2"] - (plus + minus) / 2) < 1e-3 * plus, "GaAs 1 1 1 is not the Friedel mean")
    return faults


def main():
    peakhkl, helper, source = sys.argv[1:4]
    cases = int(os.environ.get("PEAKHKL_F2_CASES", "12"))
    rng = random.Random(int(os.environ.get("PEAKHKL_F2_SEED", "11")))
    with tempfile.TemporaryDirectory() as work:
        faults = random_cases(peakhkl, helper, work, rng, cases)
        faults += split_site_case(peakhkl, helper, work)
        found, tables = fixture_cases(peakhkl, helper, work, source)
        faults += found
        if not found:
            faults += classic_mistakes(tables)
    for fault in faults:
        print("FAIL:", fault)
    for kind, worst in sorted(WORST.items()):
        print("largest |F2 - cctbx| / strongest, %s: %.2g" % (kind, worst))
    print("%d random structures, %d fixtures with atoms, %d faults" %
          (cases, len(tables) // 2, len(faults)))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
