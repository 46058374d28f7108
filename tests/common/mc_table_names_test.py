#!/usr/bin/env python3
"""The message table's symbolic names: mc_table.py writes one constant per
SymbolicName of messages.mc, and refuses a source whose names are missing,
given twice, or not in the MSG_UPPER_CASE style.

  mc_table_names_test.py MC_TABLE_PY MESSAGES_MC SCRATCH_DIR
"""
import os
import subprocess
import sys

tool, source, scratch = sys.argv[1:4]
os.makedirs(scratch, exist_ok=True)
with open(source, encoding="utf-8") as f:
    text = f.read()
found = "SymbolicName=MSG_UPS_FOUND\n"

# (what is done to the source, what the refusal must say)
cases = [
    ("no name", text.replace(found, ""), "0x0170 has no SymbolicName"),
    ("a name twice", text.replace(found, "SymbolicName=MSG_RELAY_STARTED\n"),
     "MSG_RELAY_STARTED of message 0x0171 is taken already by message 0x0170"),
    ("another style", text.replace(found, "SymbolicName=UpsFound\n"), "not in the style"),
    ("two names", text.replace(found, found + "SymbolicName=MSG_UPS_FOUND_TOO\n"),
     "0x0170 has a second SymbolicName"),
]
failures = 0
header = os.path.join(scratch, "message_ids.h")
for what, mc, said in cases:
    path = os.path.join(scratch, "case.mc")
    with open(path, "w", encoding="utf-8") as f:
        f.write(mc)
    for mode in ("ids", "cpp"):
        r = subprocess.run([sys.executable, tool, mode, path, header], capture_output=True, text=True)
        if r.returncode != 1 or said not in r.stderr:
            print("%s (%s): exit %d, %r; wanted exit 1 saying %r" % (what, mode, r.returncode, r.stderr, said))
            failures += 1

r = subprocess.run([sys.executable, tool, "ids", source, header], capture_output=True, text=True)
with open(header, encoding="utf-8") as f:
    ids = f.read()
for line in ("// UPS found: %1 %2, versions %3, at %4 baud.\n"
             "constexpr uint32_t MSG_UPS_FOUND = 0x40020170u;\n",
             "constexpr uint32_t MSG_UPS_TIMEOUT = 0x80020028u;\n"):
    if r.returncode != 0 or line not in ids:
        print("the header of the real table lacks %r (exit %d, %s)" % (line, r.returncode, r.stderr))
        failures += 1
sys.exit(1 if failures else 0)
