// The INI format's find and write steps, shared by CINIFile and CINIProfile.
#include "common/config/ini_format.h"

#include <cctype>
#include <cstring>

#include "platform/errors.h"
#include "platform/file_guard.h"
#include "platform/file_replace.h"

namespace ini {

namespace {

bool SameLetter(int a, int b) {
    return std::toupper(static_cast<unsigned char>(a)) ==
           std::toupper(static_cast<unsigned char>(b));
}

// True when the line piece is the header of `section`: "[" (in the first
// column, or after blanks when the style allows them), the name in any letter
// case, then "]".
bool IsHeaderOf(const char* line, const char* section, HeaderStyle style) {
    const char* p = line;
    if (style == HeaderStyle::LeadingBlanks) {
        while (*p != '\0' && std::isspace(static_cast<unsigned char>(*p))) ++p;
    }
    if (*p != '[') return false;
    ++p;
    for (const char* s = section; *s != '\0'; ++s, ++p) {
        if (*p == '\0' || !SameLetter(*p, *s)) return false;
    }
    return *p == ']';
}

// True when the line piece starts with `key` (any letter case) directly
// followed by "=": the only entry lines the writer replaces.
bool IsEntryLineOf(const char* line, const char* key) {
    const char* p = line;
    for (const char* k = key; *k != '\0'; ++k, ++p) {
        if (*p == '\0' || !SameLetter(*p, *k)) return false;
    }
    return *p == '=';
}

// A piece of a line as fgets reads it (up to kLineBuffer - 1 characters,
// line end included), with its true length: the writer copies pieces by that
// length, so that a NUL byte inside a line cannot cut off the rest of the
// line and its line end, which would glue the next line (a header, perhaps)
// onto it.
struct Piece {
    char text[kLineBuffer];
    size_t n = 0;
};

bool ReadPiece(FILE* in, Piece& piece) {
    piece.n = 0;
    int c = EOF;
    while (piece.n + 1 < sizeof piece.text && (c = std::getc(in)) != EOF) {
        piece.text[piece.n++] = static_cast<char>(c);
        if (c == '\n') break;
    }
    piece.text[piece.n] = '\0';
    return piece.n > 0;
}

// Output of the write rule. It remembers whether the last piece it copied
// ended its line, for two cases in which copying pieces verbatim would damage
// the file: a line of exactly 255 characters arrives as the piece and then a
// bare line end, which must not be dropped as an empty line; and a last line
// without a line end must not have the next written line glued onto it.
class RuleOutput {
public:
    explicit RuleOutput(FILE* out) : m_pOut(out) {}

    // An empty line, dropped from the file, unlike the end of a long line.
    bool IsDroppable(const Piece& piece) const {
        return !m_bMidLine && (piece.n == 0 || (piece.n == 1 && piece.text[0] == '\n'));
    }
    void Copy(const Piece& piece) {
        std::fwrite(piece.text, 1, piece.n, m_pOut);
        if (piece.n > 0) m_bMidLine = piece.text[piece.n - 1] != '\n';
    }
    void Entry(const char* key, const char* value) {
        EndLine();
        std::fprintf(m_pOut, "%s=%s\n", key, value);
    }
    void SectionAndEntry(const char* section, const char* key, const char* value) {
        EndLine();
        std::fprintf(m_pOut, "[%s]\n%s=%s\n", section, key, value);
    }

private:
    void EndLine() {
        if (m_bMidLine) std::fputc('\n', m_pOut);
        m_bMidLine = false;
    }

    FILE* m_pOut;
    bool m_bMidLine = false;
};

// Copies `in` to `out` by the write rule.
void CopyByRule(FILE* in, RuleOutput& out, const char* section, const char* key, const char* value,
                HeaderStyle style) {
    Piece line;
    bool found = false;
    while (ReadPiece(in, line)) {
        if (out.IsDroppable(line)) continue;
        bool target = IsHeaderOf(line.text, section, style);
        out.Copy(line);
        if (!target) continue;
        // Inside an occurrence of the section.
        bool closed = false;
        while (ReadPiece(in, line)) {
            if (out.IsDroppable(line)) continue;
            if (IsEntryLineOf(line.text, key)) {
                out.Entry(key, value);
                found = closed = true;
                break;
            }
            if (line.text[0] == '[') {
                out.Entry(key, value);
                out.Copy(line);
                found = closed = true;
                break;
            }
            out.Copy(line);
        }
        if (!closed && !found) {
            out.Entry(key, value);
            found = true;
        }
    }
    if (!found) out.SectionAndEntry(section, key, value);
}

}  // namespace

FilePtr FindSection(const char* path, const char* section, HeaderStyle style, OpenFor mode) {
    if (path == nullptr || section == nullptr) return FilePtr();
    plat::FileRefusal why;
    FilePtr file(plat::OpenBoundedFile(path, kMaxFileBytes, mode == OpenFor::Update, why));
    if (!file) return FilePtr();
    char line[kLineBuffer];
    while (std::fgets(line, sizeof line, file.Get()) != nullptr) {
        if (IsHeaderOf(line, section, style)) return file;
    }
    return FilePtr();
}

FilePtr FindEntry(const char* path, const char* section, const char* key, HeaderStyle style,
                  OpenFor mode) {
    if (key == nullptr) return FilePtr();
    FilePtr file = FindSection(path, section, style, mode);
    if (!file) return FilePtr();
    FILE* in = file.Get();
    int c = std::fgetc(in);
    for (;;) {
        while (c == '\n' || c == '\r') c = std::fgetc(in);
        if (c == EOF) return FilePtr();
        const char* k = key;
        while (*k != '\0' && c != EOF && SameLetter(c, *k)) {
            ++k;
            c = std::fgetc(in);
        }
        // Blanks before the "=" may even be line ends.
        bool crossedLine = false;
        bool indented = false;  // blanks after the last line end crossed
        while (c != EOF && std::isspace(c)) {
            if (c == '\n') {
                crossedLine = true;
                indented = false;
            } else if (crossedLine && c != '\r') {
                indented = true;
            }
            c = std::fgetc(in);
        }
        if (c == '=' && *k == '\0') return file;
        if (c == EOF) return FilePtr();
        // When the blanks ran over a line end, the character at hand already
        // starts a new line: it is looked at as such rather than discarded with
        // the rest of its line, or a line holding a mere prefix of the key
        // would hide the entry below it. A line that begins with a blank holds
        // no entry, though, so it goes as any other.
        if (crossedLine && !indented) continue;
        char rest[kLineBuffer];
        if (std::fgets(rest, sizeof rest, in) == nullptr) return FilePtr();
        c = std::fgetc(in);
    }
}

bool ReadRestOfLine(FILE* stream, std::string& out) {
    char line[kLineBuffer];
    if (std::fgets(line, sizeof line, stream) == nullptr) return false;
    out = line;
    return true;
}

bool WriteWithCommit(const char* path, const char* section, const char* key, const char* value,
                     HeaderStyle style, CommitFn commit) {
    if (path == nullptr || section == nullptr || key == nullptr || value == nullptr) return false;
    // Opened for update, which fails for a file we may not change; "a+"
    // creates a missing one.
    plat::FileRefusal why;
    FilePtr in(plat::OpenBoundedFile(path, kMaxFileBytes, true, why));
    if (!in && why == plat::FileRefusal::kSystem && plat::LastError() == plat::kErrFileNotFound) {
        in.Reset(std::fopen(path, "a+"));
    }
    if (!in) return false;
    std::rewind(in.Get());
    std::string tempPath;
    FilePtr out(plat::CreateTempFileBeside(path, tempPath));
    if (!out) return false;

    RuleOutput output(out.Get());
    CopyByRule(in.Get(), output, section, key, value, style);

    // The new content is on the disk before it takes the file's place: a
    // power cut after the rename must not find an empty file there.
    bool ok = !std::ferror(in.Get()) && plat::FlushToDisk(out.Get()) && !std::ferror(out.Get());
    ok = plat::CloseChecked(out) && ok;
    in.Reset();
    ok = ok && commit(tempPath, path);
    if (!ok) plat::DeleteFileAt(tempPath);
    return ok;
}

bool Write(const char* path, const char* section, const char* key, const char* value,
           HeaderStyle style) {
    // The INI file's own writes go to the file behind a link, as always.
    return WriteWithCommit(path, section, key, value, style,
                           [](const std::string& from, const std::string& to) {
                               return plat::ReplaceFileWith(from, to, plat::AtLink::kFollow);
                           });
}

}  // namespace ini
