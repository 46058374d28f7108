#!/usr/bin/env python3
"""Writes the manual page qln.ini(5) from docs/configuration.md, so that the
page and the configuration reference never disagree: a key added to its table
is on the page at the next package build.

    scripts/man_ini.py docs/configuration.md VERSION > qln.ini.5

The section's table becomes one entry per key, grouped by INI section; its
paragraphs (up to the report table) become the page's other sections."""
import re
import sys

HEADING = "# Configuration: qln.ini"


def roff_text(text):
    """Markdown inline text to roff: code in bold, escapes for roff."""
    text = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", text)  # a link reads as its text
    text = text.replace("\\", "\\e").replace("-", "\\-")
    text = re.sub(r"`([^`]*)`", lambda m: "\\fB" + m.group(1) + "\\fR", text)
    text = re.sub(r"\*\*([^*]*)\*\*", r"\\fB\1\\fR", text)
    return text


def line(text):
    """One roff text line; a leading dot or quote would be a request."""
    return "\\&" + text if text[:1] in (".", "'") else text


def cells(row):
    return [c.strip() for c in row.strip().strip("|").split("|")]


def section_lines(readme):
    lines = open(readme, encoding="utf-8").read().splitlines()
    try:
        start = lines.index(HEADING) + 1
    except ValueError:
        sys.exit("man_ini: no section '%s' in %s" % (HEADING, readme))
    end = next((i for i in range(start, len(lines)) if lines[i].startswith(("# ", "## "))), len(lines))
    return lines[start:end]


def main():
    readme, version = sys.argv[1], sys.argv[2]
    body = section_lines(readme)
    out = ['.TH QLN.INI 5 "" "qln %s" "File Formats"' % version,
           ".SH NAME",
           "qln.ini \\- settings of the qln UPS network relay",
           ".SH DESCRIPTION"]
    keys = []
    para = []
    last_pp = len(out)
    in_keys = done_keys = False
    for raw in body:
        if raw.startswith("|"):
            row = cells(raw)
            if not done_keys and row[:2] == ["section", "key"]:
                in_keys = True
                continue
            if in_keys:
                if set("".join(row)) <= set("-: "):
                    continue
                keys.append(row)
                continue
            # The next table (what qln reports at start) is the reference's
            # alone, and so is the paragraph that leads into it.
            del out[last_pp:]
            para = []
            break
        if in_keys:
            in_keys, done_keys = False, True
            out.append(".SH KEYS")
            section = None
            for sec, key, default, allowed in keys:
                if sec and sec != section:
                    section = sec
                    out += [".SS " + roff_text(sec.strip("`"))]
                out += [".TP", roff_text(key),
                        line(roff_text(allowed)) + "; default: " + roff_text(default) + "."]
            out.append(".SH VALUES")
            continue
        if not raw.strip():
            if para:
                last_pp = len(out)
                out += [".PP"] + [line(roff_text(p)) for p in para]
                para = []
            continue
        para.append(raw.strip())
    if para:
        out += [".PP"] + [line(roff_text(p)) for p in para]
    if not keys:
        sys.exit("man_ini: no table of keys in the configuration reference")
    out += [".SH FILES",
            ".TP", "\\fI/etc/qln/qln.ini\\fR",
            "The packaged service's file (Debian); \\fBqln.ini\\fR beside \\fBqln.exe\\fR on Windows.",
            ".SH SEE ALSO", "\\fBqln\\fR(8)"]
    print("\n".join(out).replace(".PP\n.SH", ".SH"))


main()
