#!/usr/bin/env python3
"""The catalogue generator refuses tables it cannot trust. Each case breaks one fact of a small
table that generates cleanly, and names the words the refusal must hold.

Usage: generate_test.py GENERATE.PY
"""
import os
import subprocess
import sys
import tempfile

TYPES_HEAD = ("type\tindex\tkind\tbytes\tfield\tcount\tbase\tscale\toffset\tmin\tmax\tinvalid\t"
              "enum\tbyte_offset\tunion\n")
TYPES = [
    "SNVT_temp\t39\tscalar\t2\t\t1\tsigned16\t0.1\t-274\t-274\t3000\t\t\t0\t",
    "SNVT_mode\t8\tstruct\t3\tmode\t1\tenum8\t1\t0\t-1\t1\t\tmode_t\t0\t",
    "SNVT_mode\t8\tstruct\t3\t___bf00\t1\tunsigned8\t1\t0\t0\t255\t\t\t1\t",
    "SNVT_mode\t8\tstruct\t3\tu.a.x\t1\tunsigned8\t1\t0\t0\t255\t\t\t2\tu|a",
    "SNVT_mode\t8\tstruct\t3\tu.b.y\t1\tsigned8\t1\t0\t-128\t127\t\t\t2\tu|b",
]
BITS = ["type\tbyte_field\tname\tmsb_offset\tbits\tsigned",
        "SNVT_mode\t___bf00\tlow\t0\t4\tfalse",
        "SNVT_mode\t___bf00\thigh\t4\t4\ttrue"]
ENUMS = ["enum\tname\tvalue", "mode_t\tMODE_OFF\t0", "mode_t\tMODE_ON\t1", "mode_t\tMODE_NUL\t-1"]
PROFILES = ["profile\tkey\tmember\tnumber\ttype\tdirection\tpresence",
            "SFPTsensor\t1\tnvoTemp\t1\tSNVT_temp\tout\tmandatory",
            "SFPTsensor\t1\tnviMode\t2\tSNVT_mode\tin\toptional"]


def replaced(rows, index, old, new):
    rows = list(rows)
    assert old in rows[index], (rows[index], old)
    rows[index] = rows[index].replace(old, new)
    return rows


# (what is broken, table, rows, words of the refusal)
CASES = [
    ("a bit field past its byte", "bits", replaced(BITS, 2, "\t4\t4\t", "\t6\t4\t"),
     "do not fit in a byte"),
    ("overlapping bit fields", "bits", replaced(BITS, 2, "\t4\t4\t", "\t2\t4\t"), "inside low"),
    ("bits for a byte the type lacks", "bits", BITS + ["SNVT_mode\t___bf07\tz\t0\t1\tfalse"],
     "a byte the type does not have"),
    ("a signed column that is no boolean", "bits", replaced(BITS, 2, "true", "yes"),
     "not true or false"),
    ("an enumeration constant over 255", "enums", ENUMS + ["mode_t\tMODE_BIG\t256"],
     "does not fit the byte"),
    ("two constants of one name", "enums", ENUMS + ["mode_t\tMODE_ON\t2"],
     "two constants named MODE_ON"),
    ("a limit outside the base type", "types", replaced(TYPES, 0, "3000", "6600"),
     "outside signed16"),
    ("min above max", "types", replaced(TYPES, 4, "-128\t127", "100\t-100"), "above max"),
    ("two types of one index", "types", replaced(TYPES, 0, "\t39\t", "\t8\t"), "both have index 8"),
    ("two members of one number", "profiles", replaced(PROFILES, 2, "\t2\t", "\t1\t"),
     "two members numbered 1"),
    ("a field outside its type", "types", replaced(TYPES, 4, "\t2\tu|b", "\t3\tu|b"),
     "outside the type"),
    ("fields that overlap outside a union", "types", replaced(TYPES, 4, "\tu|b", "\t"),
     "byte 2 is also"),
    ("a byte no field holds", "types", [r.replace("\t3\t", "\t4\t", 1) for r in TYPES],
     "no field holds byte 3"),
]


def write(directory, tables):
    for name, rows in tables.items():
        with open(os.path.join(directory, name + ".tsv"), "w", newline="\n") as f:
            f.write((TYPES_HEAD if name == "types" else "") + "\n".join(rows) + "\n")


def run(generator, tables):
    with tempfile.TemporaryDirectory() as d:
        write(d, tables)
        return subprocess.run([sys.executable, generator, d, os.path.join(d, "out.cpp")],
                              capture_output=True, text=True)


def main():
    generator = sys.argv[1]
    good = {"types": TYPES, "bits": BITS, "enums": ENUMS, "profiles": PROFILES}
    # The bit table's file name is bitfields.tsv.
    def files(t):
        return {("bitfields" if k == "bits" else k): v for k, v in t.items()}

    failures = []
    result = run(generator, files(good))
    if result.returncode != 0:
        failures.append("the sound table is refused: " + result.stderr.strip())
    for what, table, rows, words in CASES:
        tables = dict(good)
        tables[table] = rows
        result = run(generator, files(tables))
        if result.returncode == 0:
            failures.append("%s: accepted" % what)
        elif words not in result.stderr:
            failures.append("%s: refused with %r, not naming %r" % (what, result.stderr.strip(),
                                                                   words))
    for f in failures:
        print("FAIL " + f)
    print("%d cases, %d failures" % (len(CASES) + 1, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
