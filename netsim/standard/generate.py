#!/usr/bin/env python3
"""Generates the C++ tables of the standard types and profiles (netsim/standard_catalogue.h)
from the tables in this folder.

Usage: generate.py TABLE_DIR OUTPUT.cpp

Every field comes out at its byte offset under the name an NV-field address uses:
  - nested structures join their names with "_" (control_device_addr_domain_id), since the
    path delimiter separates an NV from its field;
  - an element of an array is name[i] (location[0] .. location[5]);
  - a byte of bit fields gives one field per bit field, named after it, signed where the bit
    table says so;
  - an array of characters (limits 32..126, or the only field of its type) is one text field;
  - the branches of a union overlap: each starts at the union's offset, and writing a field of
    one branch changes the bytes it shares with the others.
The generator stops with an error on a table it cannot trust: a duplicate field name, type index,
member number or enumeration constant; a field outside its type, fields that overlap outside a
union, bytes no field covers; a bit field past its byte or over another, bits for a byte the type
does not have; an enumeration constant that does not fit a byte; limits outside the base type or
a minimum above the maximum; an unknown enumeration or member type.
"""
import csv
import os
import sys
from collections import OrderedDict, defaultdict

BASES = {
    # name: (C++ enumerator, bytes, signed)
    "unsigned8": ("kUnsigned8", 1, False),
    "signed8": ("kSigned8", 1, True),
    "unsigned16": ("kUnsigned16", 2, False),
    "signed16": ("kSigned16", 2, True),
    "unsigned32": ("kUnsigned32", 4, False),
    "signed32": ("kSigned32", 4, True),
    "float32": ("kFloat32", 4, True),
    "enum8": ("kEnum8", 1, True),
}


def fail(message):
    sys.stderr.write("generate.py: " + message + "\n")
    sys.exit(1)


def read(directory, name):
    with open(os.path.join(directory, name), newline="", encoding="utf-8") as f:
        return list(csv.DictReader(f, delimiter="\t"))


def cstr(s):
    return '"' + s.replace("\\", "\\\\").replace('"', '\\"') + '"'


def num(v):
    r = repr(float(v))
    return r if ("e" in r or "." in r or "inf" in r) else r + ".0"


def limit(text, base, scale, offset, where):
    """A limit in engineering units, checked to be a raw value the base type can hold; an
    unsigned field's negative limit is the raw value read as two's complement (the tables write
    0xFFFFFFFF as -1)."""
    value = float(text)
    if base == "float32":
        return value
    _, size, signed = BASES[base]
    raw = round((value - offset) / scale)
    if not signed and raw < 0:
        raw += 1 << (8 * size)
        value = raw * scale + offset
    lo, hi = (-(1 << (8 * size - 1)), (1 << (8 * size - 1)) - 1) if signed else (0, (1 << (8 * size)) - 1)
    if raw < lo or raw > hi:
        fail("%s: %s is raw %d, outside %s (%d..%d)" % (where, num(value), raw, base, lo, hi))
    return value


def bit_groups(bitfields):
    """(type, byte field) -> list of groups of (name, msb_offset, bits, signed). The table merges
    the bit fields of every nested structure that has a byte of that name: a new group starts
    where the offsets start again."""
    groups = defaultdict(list)
    for b in bitfields:
        where = "%s.%s.%s" % (b["type"], b["byte_field"], b["name"])
        try:
            offset, bits = int(b["msb_offset"]), int(b["bits"])
        except ValueError:
            fail("%s: offset and width must be numbers" % where)
        if offset < 0 or bits < 1 or offset + bits > 8:
            fail("%s: %d bits at bit %d do not fit in a byte" % (where, bits, offset))
        if b["signed"] not in ("true", "false"):
            fail("%s: signed is %r, not true or false" % (where, b["signed"]))
        g = groups[(b["type"], b["byte_field"])]
        if not g or offset <= g[-1][-1][1]:
            g.append([])
        elif offset < g[-1][-1][1] + g[-1][-1][2]:
            fail("%s: starts at bit %d, inside %s" % (where, offset, g[-1][-1][0]))
        g[-1].append((b["name"], offset, bits, b["signed"] == "true"))
    return groups


def main():
    if len(sys.argv) != 3:
        fail("usage: generate.py TABLE_DIR OUTPUT.cpp")
    directory, output = sys.argv[1], sys.argv[2]
    type_rows = read(directory, "types.tsv")
    enum_rows = read(directory, "enums.tsv")
    bitfields = read(directory, "bitfields.tsv")
    profile_rows = read(directory, "profiles.tsv")

    enums = OrderedDict()
    for e in enum_rows:
        consts = enums.setdefault(e["enum"], [])
        value = int(e["value"])
        if value < -128 or value > 255:
            fail("%s.%s: %d does not fit the byte of an enumeration" % (e["enum"], e["name"], value))
        if any(c[0] == e["name"] for c in consts):
            fail("%s: two constants named %s" % (e["enum"], e["name"]))
        consts.append((e["name"], value))
    enum_index = {name: i for i, name in enumerate(enums)}

    types = OrderedDict()
    for r in type_rows:
        rows = types.setdefault(r["type"], [])
        if rows and (r["index"], r["kind"], r["bytes"]) != (rows[0]["index"], rows[0]["kind"],
                                                          rows[0]["bytes"]):
            fail("%s: rows disagree on index, kind or size" % r["type"])
        rows.append(r)
    by_index = {}
    for name, rows in types.items():
        if rows[0]["index"] in by_index:
            fail("%s and %s: both have index %s" % (by_index[rows[0]["index"]], name,
                                                   rows[0]["index"]))
        by_index[rows[0]["index"]] = name
    groups = bit_groups(bitfields)
    byte_fields = {(name, r["field"].rpartition(".")[2]) for name, rows in types.items()
                   for r in rows}
    for key in groups:
        if key not in byte_fields:
            fail("%s: bit fields for %s, a byte the type does not have" % key)

    # Which nested structures hold a byte of bit fields of each name, in wire order, and which
    # bytes each of them has (to tell copies of one structure type from different ones).
    prefixes = defaultdict(list)
    bytes_of = defaultdict(set)
    for name, rows in types.items():
        for r in rows:
            prefix, _, leaf = r["field"].rpartition(".")
            if leaf.startswith("___bf"):
                prefixes[(name, leaf)].append(prefix)
                bytes_of[(name, prefix)].add(leaf)
    # The table lists the bits of nested structures first, in wire order, and those of the
    # type's own bytes last.
    for p in prefixes.values():
        p.sort(key=lambda prefix: prefix == "")

    def bits_for(type_name, leaf, prefix):
        g = groups.get((type_name, leaf), [])
        p = prefixes[(type_name, leaf)]
        if len(g) == len(p):
            return g[p.index(prefix)]
        if len(g) == 1 and len({frozenset(bytes_of[(type_name, q)]) for q in p}) == 1:
            return g[0]  # copies of one structure type: the same bits in each
        # The tables kept the bits of one structure only (the last one): the others keep the
        # whole byte.
        return g[-1] if g and prefix == p[-1] else None

    fields = []  # rows of kFields
    type_table = []
    for name in sorted(types):
        rows = types[name]
        first = rows[0]
        length = int(first["bytes"])
        structured = first["kind"] == "struct"
        leaves = rows
        text_type = (structured and len(leaves) == 1 and leaves[0]["base"] == "unsigned8"
                     and int(leaves[0]["count"]) > 1)
        start = len(fields)
        names = set()
        # Who holds each byte: (union path, branch) of every field on it, None outside a union.
        owners = [[] for _ in range(length)]

        def occupy(where, pos, size, union):
            if pos < 0 or pos + size > length:
                fail("%s.%s: bytes %d..%d lie outside the type's %d bytes" %
                     (name, where, pos, pos + size - 1, length))
            for b in range(pos, pos + size):
                for other, other_where in owners[b]:
                    if union is None or other is None or union[0] != other[0] or \
                            union[1] == other[1]:
                        fail("%s.%s: byte %d is also %s's" % (name, where, b, other_where))
            for b in range(pos, pos + size):
                owners[b].append((union, where))

        unions = {}  # union path -> (number, {branch: number}), numbered from 1 in this type

        def add(field_name, base, pos, size, bit_offset=0, bits=0, limits=None, enum=-1,
                scale=1.0, offset=0.0, union=None):
            if field_name in names:
                fail("%s: two fields named %s" % (name, field_name))
            names.add(field_name)
            flags, lo, hi, invalid = 0, 0.0, 0.0, 0.0
            if limits:
                lo_text, hi_text, inv_text, leaf_base = limits
                where = "%s.%s" % (name, field_name or "value")
                if lo_text != "":
                    flags |= 1
                    lo = limit(lo_text, leaf_base, scale, offset, where + " min")
                if hi_text != "":
                    flags |= 2
                    hi = limit(hi_text, leaf_base, scale, offset, where + " max")
                if inv_text != "":
                    flags |= 4
                    invalid = limit(inv_text, leaf_base, scale, offset, where + " invalid")
                if flags & 3 == 3 and lo > hi:
                    fail("%s: min %s above max %s" % (where, num(lo), num(hi)))
            union_number, branch_number = 0, 0
            if union:
                number, branches = unions.setdefault(union[0], (len(unions) + 1, {}))
                union_number = number
                branch_number = branches.setdefault(union[1], len(branches) + 1)
            fields.append((field_name, base, pos, size, bit_offset, bits, flags, enum, scale,
                           offset, lo, hi, invalid, union_number, branch_number))

        for r in leaves:
            base = r["base"]
            if base not in BASES:
                fail("%s: unknown base %s" % (name, base))
            enumerator, size, _ = BASES[base]
            count = int(r["count"])
            scale, offset = float(r["scale"]), float(r["offset"])
            path = r["field"]
            prefix, _, leaf = path.rpartition(".")
            flat = path.replace(".", "_")
            try:
                pos = int(r["byte_offset"])
            except ValueError:
                fail("%s.%s: byte offset %r is not a number" % (name, path, r["byte_offset"]))
            union = None
            if r["union"]:
                union_path, bar, branch = r["union"].partition("|")
                if not bar or not union_path or not branch or \
                        not path.startswith(union_path + "." + branch):
                    fail("%s.%s: union %r is not PATH|BRANCH of this field" %
                         (name, path, r["union"]))
                union = (union_path, branch)
            enum = -1
            if base == "enum8":
                if r["enum"] not in enum_index:
                    fail("%s.%s: unknown enumeration %s" % (name, path, r["enum"]))
                enum = enum_index[r["enum"]]
            limits = (r["min"], r["max"], r["invalid"], base)
            if leaf.startswith("___bf"):
                occupy(path, pos, 1, union)
                group = bits_for(name, leaf, prefix)
                if group is None:
                    add(prefix.replace(".", "_") or flat, "kUnsigned8", pos, 1, union=union)
                else:
                    for bit_name, bit_offset, bits, signed in group:
                        full = (prefix + "." + bit_name) if prefix else bit_name
                        add(full.replace(".", "_"), "kSigned8" if signed else "kUnsigned8", pos,
                            1, bit_offset, bits, union=union)
                continue
            is_text = base == "unsigned8" and count > 1 and (
                text_type or (r["min"] == "32" and r["max"] == "126"))
            occupy(path or "value", pos, size * count, union)
            if is_text:
                add("" if text_type else flat, "kText", pos, count, union=union)
                continue
            for i in range(count):
                element = flat + ("[%d]" % i if count > 1 else "")
                add(element if structured else "", enumerator, pos + i * size, size,
                    limits=limits, enum=enum, scale=scale, offset=offset, union=union)
        for b, held in enumerate(owners):
            if not held:
                fail("%s: no field holds byte %d of its %d" % (name, b, length))
        count = len(fields) - start
        if count > 255:
            fail("%s: %d fields, an address reaches 256 at most" % (name, count))
        type_table.append((name, int(first["index"]), length, structured and not text_type,
                           start, count))
    type_index = {t[0]: i for i, t in enumerate(type_table)}

    profiles = OrderedDict()
    for p in profile_rows:
        profiles.setdefault(p["profile"], []).append(p)
    members = []
    profile_table = []
    for name in sorted(profiles):
        rows = profiles[name]
        start = len(members)
        seen = set()
        numbers = set()
        for m in rows:
            if m["member"] in seen:
                fail("%s: two members named %s" % (name, m["member"]))
            seen.add(m["member"])
            if m["number"] in numbers:
                fail("%s: two members numbered %s" % (name, m["number"]))
            numbers.add(m["number"])
            if m["type"] == "SNVT_xxx":
                t = -1
            elif m["type"] in type_index:
                t = type_index[m["type"]]
            else:
                fail("%s.%s: unknown type %s" % (name, m["member"], m["type"]))
            if m["direction"] not in ("in", "out") or m["presence"] not in ("mandatory",
                                                                             "optional"):
                fail("%s.%s: bad direction or presence" % (name, m["member"]))
            members.append((m["member"], int(m["number"]), t, m["direction"] == "out",
                            m["presence"] == "mandatory"))
        profile_table.append((name, int(rows[0]["key"]), start, len(members) - start))

    out = []
    w = out.append
    w("// Generated by netsim/standard/generate.py from netsim/standard/*.tsv. Do not edit.")
    w('#include "netsim/standard_catalogue.h"')
    w("")
    w("namespace lonsim::standard {")
    w("")
    w("const EnumConstRow kEnumConsts[] = {")
    enum_table = []
    n = 0
    for enum_name, consts in enums.items():
        enum_table.append((enum_name, n, len(consts)))
        for c, v in consts:
            w("    {%s, %d}," % (cstr(c), v))
            n += 1
    w("};")
    w("const EnumRow kEnums[] = {")
    for e in enum_table:
        w("    {%s, %d, %d}," % (cstr(e[0]), e[1], e[2]))
    w("};")
    w("const FieldRow kFields[] = {")
    for f in fields:
        w("    {%s, Base::%s, %d, %d, %d, %d, %d, %d, %s, %s, %s, %s, %s, %d, %d}," %
          (cstr(f[0]), f[1], f[2], f[3], f[4], f[5], f[6], f[7], num(f[8]), num(f[9]),
           num(f[10]), num(f[11]), num(f[12]), f[13], f[14]))
    w("};")
    w("const TypeRow kTypes[] = {")
    for t in type_table:
        w("    {%s, %d, %d, %s, %d, %d}," % (cstr(t[0]), t[1], t[2], "true" if t[3] else "false",
                                            t[4], t[5]))
    w("};")
    w("const MemberRow kMembers[] = {")
    for m in members:
        w("    {%s, %d, %d, %s, %s}," % (cstr(m[0]), m[1], m[2], "true" if m[3] else "false",
                                        "true" if m[4] else "false"))
    w("};")
    w("const ProfileRow kProfiles[] = {")
    for p in profile_table:
        w("    {%s, %d, %d, %d}," % (cstr(p[0]), p[1], p[2], p[3]))
    w("};")
    w("const size_t kEnumCount = %d;" % len(enum_table))
    w("const size_t kTypeCount = %d;" % len(type_table))
    w("const size_t kProfileCount = %d;" % len(profile_table))
    w("")
    w("}  // namespace lonsim::standard")
    text = "\n".join(out) + "\n"
    # Rewrite only on a change, so that an unchanged table compiles nothing again.
    try:
        with open(output, encoding="utf-8") as f:
            if f.read() == text:
                return
    except OSError:
        pass
    with open(output, "w", encoding="utf-8") as f:
        f.write(text)


if __name__ == "__main__":
    main()
