#!/usr/bin/env python3
"""kelmotra.yaml, the flags manifest for OpenUtau, read with a real YAML
parser and checked against README's flag table and the command-line parser:
one well-formed entry per flag kelmotra acts on, ranges inside what the parser
honours, and defaults that mean what kelmotra does when the flag is absent
(otherwise skipping a default would change the note).

    python3 tests/packaging/manifest_test.py SOURCE_DIR
"""
import math
import re
import sys

import yaml

root = sys.argv[1] if len(sys.argv) > 1 else "."
manifest = yaml.safe_load(open(f"{root}/kelmotra.yaml", encoding="utf-8"))
readme = open(f"{root}/README.md", encoding="utf-8").read()
args_h = open(f"{root}/src/driver/args.h", encoding="utf-8").read()
errors = []


def check(ok, message):
    if not ok:
        errors.append(message)


def constant(name):
    return float(re.search(rf"\b{name}\s*=\s*(-?[\d.]+)", args_h).group(1))


check(manifest.get("expression_filter") is True, "expression_filter must be true")
entries = manifest.get("expressions") or {}
keys = {"name", "abbr", "type", "min", "max", "default_value", "is_flag", "flag", "options",
        "skip_output_if_default"}
for abbr, e in entries.items():
    check(re.fullmatch(r"[a-z]{1,4}", abbr) and e.get("abbr") == abbr, f"{abbr}: bad abbreviation")
    check(set(e) == keys, f"{abbr}: keys {sorted(set(e) ^ keys)} missing or unknown")
    check(e.get("is_flag") is True and isinstance(e.get("skip_output_if_default"), bool), f"{abbr}: flags")
    lo, hi, default = e.get("min"), e.get("max"), e.get("default_value")
    check(lo <= default <= hi, f"{abbr}: default {default} outside {lo}..{hi}")
    if e.get("type") == "Options":
        # The chosen option's text is sent as it is: anything but the flag's
        # own letter would switch other flags on.
        opts = e.get("options")
        check(opts == ["", e.get("flag")] and (lo, hi, default) == (0, 1, 0), f"{abbr}: options {opts}")
    else:
        check(e.get("type") == "Numerical" and e.get("options") == [], f"{abbr}: type or options")

# README's flag table: the letters of every row that is not "accepted and ignored".
table = re.search(r"\| Flag \| Effect \|\n\|[-|]+\|\n((?:\|.*\n)+)", readme).group(1)
acted = set()
for row in table.splitlines():
    if "ignored" not in row:
        acted.update(token[0] for token in re.findall(r"`([A-Za-z]N?)`", row.split("|")[1]))
flags = [e.get("flag") for e in entries.values()]
check(len(flags) == len(set(flags)), f"a flag has two entries: {flags}")
check(set(flags) == acted, f"manifest flags {sorted(flags)} differ from README's {sorted(acted)}")

# Defaults against the parser's defaults for an absent flag, and ranges
# against its limits.
absent = {
    "g": (lambda v: 10 ** (v * 0.005), 1.0),
    "P": (lambda v: v * 0.01, constant("peak_exp")),
    "i": (lambda v: v * 0.01, constant("fix2_ms")),
    "v": (lambda v: 2 ** (v * 0.01 - 1), constant("vel2")),
    "t": (lambda v: v, 0.0),
}
by_flag = {e.get("flag"): e for e in entries.values()}
for flag, (value_of, parser_default) in absent.items():
    e = by_flag.get(flag, {})
    check(e and math.isclose(value_of(e["default_value"]), parser_default),
          f"{flag}: default does not match the parser's {parser_default}")
t = by_flag.get("t", {})
check((t.get("min"), t.get("max")) == (constant("kMinTransposeCents"), constant("kEndTransposeCents") - 1),
      "t: range differs from the parser's transpose limits")

for message in errors:
    print("kelmotra.yaml:", message)
print(f"kelmotra.yaml: {len(entries)} entries, {len(errors)} problems")
sys.exit(1 if errors else 0)
