#!/usr/bin/env python3
"""Build steps around the message table source (messages.mc, UTF-8).

  mc_table.py crlf SRC OUT         copy SRC with CR LF line ends, for windmc: the
                                   message compiler keeps the source's line ends
                                   in the texts, and Win32 texts end in CR LF.
  mc_table.py cpp SRC OUT          write the C++ table that the POSIX library
                                   compiles in: English in code page 1252,
                                   Japanese in Shift-JIS (code page 932), every
                                   text ending in LF.
  mc_table.py ids SRC OUT          write the header of the messages' symbolic
                                   names (message_ids.h): one constant per
                                   SymbolicName, with its English text above it.
                                   OUT is left alone when it already says so.
  mc_table.py check SRC EN JA      compare the message compiler's binary tables
                                   (English, Japanese) with this script's reading
                                   of SRC, byte for byte, so that both targets
                                   carry the same texts.

The reader understands the subset of the message-compiler syntax that the
table uses: the header's name tables, and per message MessageId, Severity,
Facility, SymbolicName and Language blocks ended by a line holding a lone ".".
Every message must have a SymbolicName of its own, in the one style
MSG_UPPER_CASE; any mode refuses a source where one lacks it or two share one.
"""
import re
import struct
import sys

LANGUAGES = {"English": ("cp1252", 0x409), "Japanese": ("cp932", 0x411)}
SYMBOL_STYLE = re.compile(r"MSG(_[A-Z0-9]+)+$")


class McError(Exception):
    pass


def parse_names(text):
    """Name=value[:symbol] pairs of a header name table."""
    names = {}
    for name, value in re.findall(r"(\w+)\s*=\s*(0x[0-9A-Fa-f]+|\d+)", text):
        names[name] = int(value, 0)
    return names


class Message:
    """One entry of the source: where it starts, its code, name and id."""

    def __init__(self, line, code):
        self.line, self.code = line, code
        self.name = None
        self.msg_id = None


def check_symbols(messages):
    """Every message named, in the one style, and no name twice."""
    seen = {}
    for m in messages:
        if m.name is None:
            raise McError("line %d: message 0x%04X has no SymbolicName= line (add one after "
                          "its MessageId=, e.g. SymbolicName=MSG_WHAT_IT_SAYS)" % (m.line, m.code))
        if not SYMBOL_STYLE.match(m.name):
            raise McError("line %d: SymbolicName %r of message 0x%04X is not in the style "
                          "MSG_UPPER_CASE (capitals, digits and '_')" % (m.line, m.name, m.code))
        if m.name in seen:
            first = seen[m.name]
            raise McError("line %d: SymbolicName %s of message 0x%04X is taken already by "
                          "message 0x%04X (line %d)" % (m.line, m.name, m.code, first.code, first.line))
        seen[m.name] = m


def read_mc(path):
    """Returns ({language name: {message id: text with LF line ends}}, [Message])."""
    with open(path, encoding="utf-8") as f:
        lines = f.read().replace("\r\n", "\n").split("\n")
    severities, facilities = {}, {}
    tables = {name: {} for name in LANGUAGES}
    sev = fac = 0
    code = -1
    messages = []
    i = 0
    while i < len(lines):
        line = lines[i]
        stripped = line.strip()
        i += 1
        if not stripped or stripped.startswith(";"):
            continue
        key, _, value = stripped.partition("=")
        key, value = key.strip(), value.strip()
        if key in ("SeverityNames", "FacilityNames", "LanguageNames"):
            block = value
            while block.count("(") > block.count(")"):
                if i >= len(lines):
                    raise McError("unclosed %s" % key)
                block += " " + lines[i].strip()
                i += 1
            if key == "SeverityNames":
                severities.update(parse_names(block))
            elif key == "FacilityNames":
                facilities.update(parse_names(block))
            continue
        if key == "MessageId":
            code = int(value, 0) if value else code + 1
            messages.append(Message(i, code))
        elif key == "SymbolicName":
            if not messages:
                raise McError("line %d: SymbolicName before the first MessageId" % i)
            if messages[-1].name is not None:
                raise McError("line %d: message 0x%04X has a second SymbolicName" % (i, code))
            messages[-1].name = value
        elif key == "Severity":
            if value not in severities:
                raise McError("unknown severity %r" % value)
            sev = severities[value]
        elif key == "Facility":
            if value not in facilities:
                raise McError("unknown facility %r" % value)
            fac = facilities[value]
        elif key == "Language":
            if value not in LANGUAGES:
                raise McError("unknown language %r" % value)
            text = []
            while True:
                if i >= len(lines):
                    raise McError("text of 0x%04X not ended by '.'" % code)
                if lines[i] == ".":
                    i += 1
                    break
                text.append(lines[i] + "\n")
                i += 1
            if not messages:
                raise McError("line %d: text before the first MessageId" % i)
            msg_id = (sev << 30) | (fac << 16) | code
            messages[-1].msg_id = msg_id
            if msg_id in tables[value]:
                raise McError("id 0x%08X twice in %s" % (msg_id, value))
            tables[value][msg_id] = "".join(text)
        elif key in ("MessageIdTypedef", "OutputBase"):
            pass
        else:
            raise McError("line %d: unexpected %r" % (i, stripped))
    if set(tables["English"]) != set(tables["Japanese"]):
        raise McError("the languages hold different ids")
    # A translation that lost or added an insert would print the wrong
    # value, or none, in one language only.
    for msg_id, english in tables["English"].items():
        if inserts(english) != inserts(tables["Japanese"][msg_id]):
            raise McError("0x%08X: the languages use different inserts" % msg_id)
    check_symbols(messages)
    return tables, messages


def inserts(text):
    """The sorted "%1".."%99" of a text ("%%" is not one)."""
    return sorted(re.findall(r"(?<!%)(?:%%)*(%[1-9][0-9]?)", text))


def encoded(tables, language, line_end):
    codec = LANGUAGES[language][0]
    rows = {}
    for msg_id, text in tables[language].items():
        try:
            rows[msg_id] = text.replace("\n", line_end).encode(codec)
        except UnicodeEncodeError as e:
            raise McError("0x%08X (%s) cannot be written in %s: %s" % (msg_id, language, codec, e))
    return rows


def c_literal(data):
    out = []
    for b in data:
        if 0x20 <= b < 0x7F and b not in (0x22, 0x5C, 0x3F):
            out.append(chr(b))
        else:
            out.append("\\%03o" % b)
    return '"' + "".join(out) + '"'


def write_cpp(tables, path):
    en = encoded(tables, "English", "\n")
    ja = encoded(tables, "Japanese", "\n")
    lines = [
        "// Generated from messages.mc by mc_table.py; do not edit.",
        '#include "common/resources/message_table.h"',
        "",
        "#include <algorithm>",
        "",
        "namespace {",
        "",
        "const MessageRow kRows[] = {",
    ]
    for msg_id in sorted(en):
        lines.append("    {0x%08Xu, %s," % (msg_id, c_literal(en[msg_id])))
        lines.append("     %s}," % c_literal(ja[msg_id]))
    lines += [
        "};",
        "",
        "}  // namespace",
        "",
        "const MessageRow* MessageRows(size_t* count) {",
        "    *count = sizeof kRows / sizeof kRows[0];",
        "    return kRows;",
        "}",
        "",
        "const MessageRow* FindMessageRow(uint32_t id) {",
        "    const MessageRow* end = kRows + sizeof kRows / sizeof kRows[0];",
        "    const MessageRow* row = std::lower_bound(",
        "        kRows, end, id, [](const MessageRow& r, uint32_t v) { return r.id < v; });",
        "    return row != end && row->id == id ? row : nullptr;",
        "}",
        "",
    ]
    with open(path, "w", encoding="ascii", newline="\n") as f:
        f.write("\n".join(lines))


def comment_lines(text):
    """The English text as // lines (none may end in a backslash, which would
    join the next line of the header to the comment)."""
    lines = text.rstrip("\n").split("\n")
    return ["// " + line + (" " if line.endswith("\\") else "") for line in lines]


def write_ids(tables, messages, path):
    lines = [
        "// Generated from messages.mc by mc_table.py; do not edit. Each name is the",
        "// SymbolicName of a message: severity, facility and code, as the message",
        "// compiler makes its id. Above each name, the message's English text.",
        "#pragma once",
        "#include <cstdint>",
        "",
    ]
    for m in sorted(messages, key=lambda m: (m.code, m.msg_id)):
        lines += comment_lines(tables["English"][m.msg_id])
        lines.append("constexpr uint32_t %s = 0x%08Xu;" % (m.name, m.msg_id))
    text = "\n".join(lines) + "\n"
    try:
        with open(path, encoding="utf-8", newline="") as f:
            if f.read() == text:
                return
    except (OSError, UnicodeDecodeError):
        pass
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write(text)


def read_bin(path):
    """Entries of a binary message table: {id: text bytes without padding}."""
    with open(path, "rb") as f:
        data = f.read()
    (blocks,) = struct.unpack_from("<I", data, 0)
    rows = {}
    for b in range(blocks):
        low, high, offset = struct.unpack_from("<III", data, 4 + 12 * b)
        for msg_id in range(low, high + 1):
            length, flags = struct.unpack_from("<HH", data, offset)
            if flags != 0:
                raise McError("0x%08X: entry is not 8-bit text" % msg_id)
            rows[msg_id] = data[offset + 4:offset + length].rstrip(b"\0")
            offset += length
    return rows


def check(tables, en_bin, ja_bin):
    for language, path in (("English", en_bin), ("Japanese", ja_bin)):
        want = encoded(tables, language, "\r\n")
        got = read_bin(path)
        if set(want) != set(got):
            raise McError("%s: ids differ from the source" % path)
        for msg_id in sorted(want):
            if want[msg_id] != got[msg_id]:
                raise McError("%s: 0x%08X is %r, the source says %r"
                              % (path, msg_id, got[msg_id], want[msg_id]))


def main(argv):
    if len(argv) < 4:
        sys.stderr.write(__doc__)
        return 2
    mode, src = argv[1], argv[2]
    try:
        tables, messages = read_mc(src)
        if mode == "crlf":
            with open(src, encoding="utf-8") as f:
                text = f.read().replace("\r\n", "\n")
            with open(argv[3], "w", encoding="utf-8", newline="\r\n") as f:
                f.write(text)
        elif mode == "cpp":
            write_cpp(tables, argv[3])
        elif mode == "ids":
            write_ids(tables, messages, argv[3])
        elif mode == "check" and len(argv) == 5:
            check(tables, argv[3], argv[4])
        else:
            sys.stderr.write(__doc__)
            return 2
    except (McError, OSError, ValueError, struct.error) as e:
        sys.stderr.write("mc_table.py: %s\n" % e)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
