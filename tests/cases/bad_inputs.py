#!/usr/bin/env python3
"""Writes the bad-input end-to-end cases tests/cases/bad_*.

Every case starts from the same clean two-family sample and spoils one input
file in one way.  Every case folder also holds stale max.dat and sigma.dat
files, expected back unchanged: an input error, a size stop or an early stop
must never touch a result file.

For each case this writes input/ and, in expected/, the status, the stale
result files and the list of files that must not appear; the diagnostics
(stderr.txt), the console and par.err are written as empty placeholders the
first time only and are then filled from a reviewed run:

    tests/cases/bad_inputs.py
    cd <build> && UPDATE_GOLDEN=1 ctest -R 'case\\.bad_'

Cases whose spoiling is accepted (CRLF line ends, a byte-order mark, tabs,
very long lines) run normally; their results must equal those of the clean
sample, which `tests/cases/bad_inputs.py --check <pedseg>` verifies.
"""

import os
import random
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))

PAR_INP = (
    "trait.dat\n"
    "1 1 0.1 0.02 0.0 1.0\n"
    "2 0 0.0 0.0 0.0 1.0\n"
    "3 0 0.0 0.0 0.0 1.0\n"
    "4 0 0.0 0.0 0.0 1.0\n"
    "5 1 10.0 0.5 -50.0 50.0\n"
    "6 1 8.0 0.5 -50.0 50.0\n"
    "6 0 8.0 0.5 -50.0 50.0     mean of genotype 3 follows genotype 2\n"
    "8 0 1.0 0.0 0.0 1.0\n"
    "9 0 0.5 0.0 0.0 1.0\n"
    "10 0 0.0 0.0 0.0 1.0\n"
    "11 1 0.5 0.1 -5.0 5.0\n"
    "12 1 4.0 0.5 0.01 100.0\n"
)

IWAY_DAT = (
    "2 2 0 5 11\n"
    "0 0 1 3\n"
    "5 0 0 4 7 11\n"
    "11 1 2 3 4 3 5 6 1 2 3 4\n"
    "0 3 0\n"
    "11 0 0 0 0 0 0 0 0 0 0 0\n"
)

TRAIT_DAT = "9.5 -999 8.1 7.7 10.2\n11.0 9.3 12.4 8.8 -999 6.5\n"

STALE_MAX = " progress of an earlier run\n"
STALE_SIGMA = " results of an earlier run\n"

CLEAN = {"par.inp": PAR_INP, "iway.dat": IWAY_DAT, "trait.dat": TRAIT_DAT}


def line_replaced(text, n, new):
    """text with its line n (from 1) replaced by new."""
    lines = text.split("\n")
    lines[n - 1] = new
    return "\n".join(lines)


def garbage(seed, size):
    """Reproducible binary garbage that starts with a non-blank byte."""
    rng = random.Random(seed)
    data = bytes(rng.randrange(256) for _ in range(size))
    return b"\x9c" + data


def crlf(text):
    return text.replace("\n", "\r\n")


def bom(text):
    return "\ufeff" + text


def tabs(text):
    return "\n".join("\t".join(line.split(" ")) for line in text.split("\n"))


LONG = 100000

# name: (file, spoiled content or None for a missing file, exit status)
CASES = {
    # par.inp
    "bad_par_missing": ("par.inp", None, 2),
    "bad_par_empty": ("par.inp", "", 2),
    "bad_par_truncated": ("par.inp", "".join(PAR_INP.splitlines(True)[:7]) + "6 0 8.0", 2),
    "bad_par_not_a_number": ("par.inp", line_replaced(PAR_INP, 6, "5 1 ten 0.5 -50.0 50.0"), 2),
    "bad_par_decimal_point_in_integer": ("par.inp", line_replaced(PAR_INP, 3, "2 0.0 0.0 0.0 0.0 1.0"), 2),
    "bad_par_huge_link": ("par.inp", line_replaced(PAR_INP, 4, "99999 0 0.0 0.0 0.0 1.0"), 2),
    "bad_par_huge_repeat_count": ("par.inp", line_replaced(PAR_INP, 4, "3 0 99999999999*0.0"), 2),
    "bad_par_negative_link": ("par.inp", line_replaced(PAR_INP, 4, "-3 0 0.0 0.0 0.0 1.0"), 2),
    "bad_par_real_overflow": ("par.inp", line_replaced(PAR_INP, 2, "1 1 1E400 0.02 0.0 1.0"), 2),
    "bad_par_integer_overflow": ("par.inp", line_replaced(PAR_INP, 2, "99999999999 1 0.1 0.02 0.0 1.0"), 2),
    "bad_par_binary": ("par.inp", garbage(1, 300), 2),
    "bad_par_long_item": ("par.inp", line_replaced(PAR_INP, 2, "1 1 " + "1" * LONG + " 0.02 0.0 1.0"), 2),
    "bad_par_empty_trait_name": ("par.inp", line_replaced(PAR_INP, 1, "''"), 2),
    "bad_par_long_line": ("par.inp", line_replaced(PAR_INP, 2, "1 1 0.1 0.02 0.0 1.0 " + "c" * (LONG - 21)), 0),
    "bad_par_crlf": ("par.inp", crlf(PAR_INP), 0),
    "bad_par_bom": ("par.inp", bom(PAR_INP), 0),
    "bad_par_tabs": ("par.inp", tabs(PAR_INP), 0),
    # iway.dat
    "bad_iway_missing": ("iway.dat", None, 2),
    "bad_iway_empty": ("iway.dat", "", 2),
    "bad_iway_truncated": ("iway.dat", "".join(IWAY_DAT.splitlines(True)[:3]) + "11 1 2 3 4 3\n", 2),
    "bad_iway_not_a_number": ("iway.dat", line_replaced(IWAY_DAT, 3, "5 0 0 four 7 11"), 2),
    "bad_iway_decimal_point_in_integer": ("iway.dat", line_replaced(IWAY_DAT, 3, "5.0 0 0 4 7 11"), 2),
    "bad_iway_huge_nfam": ("iway.dat", line_replaced(IWAY_DAT, 1, "605 2 0 5 11"), 3),
    "bad_iway_huge_nstart": ("iway.dat", line_replaced(IWAY_DAT, 3, "2000001 0 0 4 7 11"), 3),
    "bad_iway_huge_nmember": ("iway.dat", line_replaced(IWAY_DAT, 4, "99999999 1 2 3 4 3 5 6 1 2 3 4"), 3),
    "bad_iway_huge_nind": ("iway.dat", line_replaced(IWAY_DAT, 6, "25001 0 0 0 0 0 0 0 0 0 0 0"), 3),
    "bad_iway_negative_nind": ("iway.dat", line_replaced(IWAY_DAT, 6, "-11"), 2),
    "bad_iway_integer_overflow": ("iway.dat", line_replaced(IWAY_DAT, 1, "99999999999 2 0 5 11"), 2),
    "bad_iway_real_overflow": ("iway.dat", line_replaced(IWAY_DAT, 1, "1E400 2 0 5 11"), 2),
    "bad_iway_member_outside_family": ("iway.dat", line_replaced(IWAY_DAT, 4, "11 1 2 3 9 3 5 6 1 2 3 4"), 2),
    "bad_iway_binary": ("iway.dat", garbage(2, 300), 2),
    "bad_iway_long_line": ("iway.dat", line_replaced(IWAY_DAT, 1, "2 2 0 5 11 " + "c" * (LONG - 11)), 0),
    "bad_iway_crlf": ("iway.dat", crlf(IWAY_DAT), 0),
    "bad_iway_bom": ("iway.dat", bom(IWAY_DAT), 0),
    "bad_iway_tabs": ("iway.dat", tabs(IWAY_DAT), 0),
    # trait.dat
    "bad_trait_missing": ("trait.dat", None, 2),
    "bad_trait_empty": ("trait.dat", "", 2),
    "bad_trait_truncated": ("trait.dat", "9.5 -999 8.1 7.7 10.2\n11.0 9.3 12.4 8.8 -999\n", 2),
    "bad_trait_not_a_number": ("trait.dat", "9.5 -999 8.1 7.7 10.2\n11.0 9.3 abc 8.8 -999 6.5\n", 2),
    "bad_trait_two_decimal_points": ("trait.dat", "9.5 -999 8.1 7.7 10.2\n11.0 9.3 12.4.1 8.8 -999 6.5\n", 2),
    "bad_trait_nan": ("trait.dat", "9.5 -999 8.1 7.7 nan\n11.0 9.3 12.4 8.8 -999 6.5\n", 2),
    "bad_trait_real_overflow": ("trait.dat", "9.5 -999 8.1 7.7 10.2\n11.0 9.3 1E400 8.8 -999 6.5\n", 2),
    "bad_trait_single_overflow": ("trait.dat", "9.5 -999 8.1 7.7 10.2\n11.0 9.3 1E39 8.8 -999 6.5\n", 2),
    "bad_trait_big_integer": ("trait.dat", "9.5 -999 8.1 7.7 10.2\n11.0 9.3 99999999999 8.8 -999 6.5\n", 0),
    "bad_trait_binary": ("trait.dat", garbage(3, 300), 2),
    "bad_trait_long_line": ("trait.dat", "9.5" + " " * (LONG - 20) + "-999 8.1 7.7 10.2\n11.0 9.3 12.4 8.8 -999 6.5\n", 0),
    "bad_trait_crlf": ("trait.dat", crlf(TRAIT_DAT), 0),
    "bad_trait_bom": ("trait.dat", bom(TRAIT_DAT), 0),
    "bad_trait_tabs": ("trait.dat", tabs(TRAIT_DAT), 0),
}

# Accepted spoilings give exactly the clean sample's results.
SAME_AS_CLEAN = [n for n, (_, _, s) in CASES.items() if s == 0 and n != "bad_trait_big_integer"]


def write(path, content):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    data = content.encode("utf-8") if isinstance(content, str) else content
    with open(path, "wb") as f:
        f.write(data)


def placeholder(path):
    if not os.path.exists(path):
        write(path, "")


def generate():
    for name, (spoiled, content, status) in CASES.items():
        case = os.path.join(HERE, name)
        shutil.rmtree(os.path.join(case, "input"), ignore_errors=True)
        for fname, text in CLEAN.items():
            if fname != spoiled:
                write(os.path.join(case, "input", fname), text)
        if content is not None:
            write(os.path.join(case, "input", spoiled), content)
        write(os.path.join(case, "input", "max.dat"), STALE_MAX)
        write(os.path.join(case, "input", "sigma.dat"), STALE_SIGMA)

        exp = os.path.join(case, "expected")
        write(os.path.join(exp, "status"), "%d\n" % status)
        placeholder(os.path.join(exp, "stderr.txt"))
        placeholder(os.path.join(exp, "console.txt"))
        absent = []
        if content is None:
            absent.append(spoiled)  # a missing input is never created
        if name == "bad_par_missing":
            absent.append("par.err")  # nothing is written before par.inp opens
        else:
            placeholder(os.path.join(exp, "par.err"))
        if absent:
            write(os.path.join(exp, "absent"), "".join(a + "\n" for a in absent))
        if status != 0:
            write(os.path.join(exp, "max.dat"), STALE_MAX)
            write(os.path.join(exp, "sigma.dat"), STALE_SIGMA)
        else:
            placeholder(os.path.join(exp, "max.dat"))
            placeholder(os.path.join(exp, "sigma.dat"))


def check(pedseg):
    """Compares the golden results of the accepted cases with a run of the
    clean sample, and the stale results of the failing ones with the stale
    text.  Returns the number of differences."""
    bad = 0
    with tempfile.TemporaryDirectory() as work:
        for fname, text in CLEAN.items():
            write(os.path.join(work, fname), text)
        run = subprocess.run([os.path.abspath(pedseg)], cwd=work, capture_output=True)
        clean = {"console.txt": run.stdout, "stderr.txt": run.stderr}
        for fname in ("par.err", "max.dat", "sigma.dat"):
            with open(os.path.join(work, fname), "rb") as f:
                clean[fname] = f.read()
    for name, (_, _, status) in CASES.items():
        exp = os.path.join(HERE, name, "expected")
        for fname in ("console.txt", "stderr.txt", "par.err", "max.dat", "sigma.dat"):
            path = os.path.join(exp, fname)
            if not os.path.exists(path):
                continue
            with open(path, "rb") as f:
                got = f.read()
            if name in SAME_AS_CLEAN:
                want = clean[fname]
            elif status != 0 and fname in ("max.dat", "sigma.dat"):
                want = (STALE_MAX if fname == "max.dat" else STALE_SIGMA).encode()
            else:
                continue
            if got != want:
                print("%s: expected/%s differs" % (name, fname))
                bad += 1
    return bad


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "--check":
        sys.exit(1 if check(sys.argv[2]) else 0)
    generate()
