// SPDX-License-Identifier: MIT
// Installed fonts the glyph tests draw with, and small builders of odd font files.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "support/temp_dir.hpp"

namespace glyphrain::test {

inline const std::string k_dejavu_mono = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf";
inline const std::string k_vl_gothic = "/usr/share/fonts/truetype/vlgothic/VL-Gothic-Regular.ttf";
inline const std::string k_noto_cjk = "/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc";

/// A file of size bytes that occupies no disk space.
inline void write_sparse_file(const std::string& path, std::uint64_t size) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) throw std::runtime_error("cannot create " + path);
    int rc = ::ftruncate(fd, static_cast<off_t>(size));
    ::close(fd);
    if (rc != 0) throw std::runtime_error("cannot size " + path);
}

inline std::uint32_t read_be32(const std::string& data, std::size_t at) {
    auto b = [&](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(data[at + i]));
    };
    return b(0) << 24 | b(1) << 16 | b(2) << 8 | b(3);
}

inline void write_be32(std::string& data, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        data[at + static_cast<std::size_t>(i)] = static_cast<char>(value >> (24 - 8 * i));
}

inline std::uint16_t read_be16(const std::string& data, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(data[at]) << 8 |
                                      static_cast<unsigned char>(data[at + 1]));
}

inline void write_be16(std::string& data, std::size_t at, std::uint16_t value) {
    data[at] = static_cast<char>(value >> 8);
    data[at + 1] = static_cast<char>(value & 0xFF);
}

/// Offset of the table tag in a single-face sfnt file, or npos.
inline std::size_t find_table(const std::string& font, std::string_view tag) {
    const std::size_t tables =
        static_cast<unsigned char>(font[4]) << 8 | static_cast<unsigned char>(font[5]);
    for (std::size_t i = 0; i < tables; ++i) {
        const std::size_t record = 12 + 16 * i;
        if (font.compare(record, 4, tag) == 0) return read_be32(font, record + 8);
    }
    return std::string::npos;
}

/// The font with every source of ascender and descender (hhea, OS/2 typographic and Windows
/// metrics) set to zero, so that it has no horizontal line metrics at all.
inline std::string without_line_metrics(std::string font) {
    const std::size_t hhea = find_table(font, "hhea");
    const std::size_t os2 = find_table(font, "OS/2");
    if (hhea == std::string::npos || os2 == std::string::npos)
        throw std::runtime_error("no tables");
    std::memset(font.data() + hhea + 4, 0, 4); // ascender, descender
    std::memset(font.data() + os2 + 68, 0, 4); // sTypoAscender, sTypoDescender
    std::memset(font.data() + os2 + 74, 0, 4); // usWinAscent, usWinDescent
    return font;
}

/// The font with its hhea ascender replaced, in font units.
inline std::string with_ascender(std::string font, std::uint16_t ascender) {
    const std::size_t hhea = find_table(font, "hhea");
    if (hhea == std::string::npos) throw std::runtime_error("no hhea table");
    font[hhea + 4] = static_cast<char>(ascender >> 8);
    font[hhea + 5] = static_cast<char>(ascender & 0xFF);
    return font;
}

/// The font with its first count kana (from U+3041 on) cut from every format 4 and format 12
/// character map, so that they map to glyph 0 as in a font that lacks them. The run of kana must
/// start a segment mapped by a delta, as it does in VL Gothic.
inline std::string without_first_kana(std::string font, std::uint16_t count) {
    const std::size_t cmap = find_table(font, "cmap");
    if (cmap == std::string::npos) throw std::runtime_error("no cmap table");
    std::vector<std::size_t> done; // subtables may be shared by several encodings
    for (std::size_t i = 0; i < read_be16(font, cmap + 2); ++i) {
        const std::size_t sub = cmap + read_be32(font, cmap + 4 + 8 * i + 4);
        if (std::find(done.begin(), done.end(), sub) != done.end()) continue;
        done.push_back(sub);
        if (read_be16(font, sub) == 4) {
            const std::size_t segments = read_be16(font, sub + 6) / 2;
            const std::size_t starts = sub + 16 + 2 * segments;
            const std::size_t range_offsets = starts + 4 * segments;
            for (std::size_t s = 0; s < segments; ++s) {
                if (read_be16(font, starts + 2 * s) != 0x3041) continue;
                if (read_be16(font, range_offsets + 2 * s) != 0)
                    throw std::runtime_error("kana mapped through the glyph array");
                write_be16(font, starts + 2 * s, static_cast<std::uint16_t>(0x3041 + count));
            }
        } else if (read_be16(font, sub) == 12) {
            for (std::size_t g = 0; g < read_be32(font, sub + 12); ++g) {
                const std::size_t group = sub + 16 + 12 * g;
                if (read_be32(font, group) != 0x3041) continue;
                write_be32(font, group, 0x3041 + count);
                write_be32(font, group + 8, read_be32(font, group + 8) + count);
            }
        }
    }
    return font;
}

/// A TrueType collection of the given single-face fonts, in order, with their table offsets
/// moved to where each face lands in the collection.
inline std::string make_collection(const std::vector<std::string>& fonts) {
    std::string out = "ttcf";
    out.append("\0\1\0\0", 4);
    out.append(4, '\0');
    write_be32(out, 8, static_cast<std::uint32_t>(fonts.size()));
    out.append(4 * fonts.size(), '\0');
    for (std::size_t f = 0; f < fonts.size(); ++f) {
        out.append((4 - out.size() % 4) % 4, '\0');
        const std::size_t base = out.size();
        write_be32(out, 12 + 4 * f, static_cast<std::uint32_t>(base));
        std::string face = fonts[f];
        const std::size_t tables =
            static_cast<unsigned char>(face[4]) << 8 | static_cast<unsigned char>(face[5]);
        for (std::size_t i = 0; i < tables; ++i) {
            const std::size_t at = 12 + 16 * i + 8;
            write_be32(face, at, read_be32(face, at) + static_cast<std::uint32_t>(base));
        }
        out += face;
    }
    return out;
}

/// Puts dir first and alone on PATH for the life of the guard.
class ScopedPath {
  public:
    explicit ScopedPath(const std::string& dir) {
        if (const char* old = std::getenv("PATH")) m_old = old;
        ::setenv("PATH", dir.c_str(), 1);
    }
    ~ScopedPath() {
        if (m_old)
            ::setenv("PATH", m_old->c_str(), 1);
        else
            ::unsetenv("PATH");
    }
    ScopedPath(const ScopedPath&) = delete;
    ScopedPath& operator=(const ScopedPath&) = delete;

  private:
    std::optional<std::string> m_old;
};

/// A stand-in fc-match that logs its arguments and answers each query with prepared output and
/// exit status; a query without an answer fails.
class FakeFcMatch {
  public:
    FakeFcMatch() {
        ::mkdir(m_dir.file("bin").c_str(), 0700);
        const std::string script = "#!/bin/sh\n"
                                   "d='" +
                                   m_dir.path() +
                                   "'\n"
                                   "for a in \"$@\"; do printf '[%s]' \"$a\" >> \"$d/log\"; done\n"
                                   "printf '\\n' >> \"$d/log\"\n"
                                   "case \"$3\" in 'monospace:lang=ja') q=ja ;; *) q=mono ;; esac\n"
                                   "[ -f \"$d/$q.out\" ] || exit 1\n"
                                   "/bin/cat \"$d/$q.out\"\n"
                                   "[ -f \"$d/$q.kill\" ] && kill -9 $$\n"
                                   "exit $(/bin/cat \"$d/$q.status\")\n";
        test::write_file(m_dir.file("bin/fc-match"), script);
        ::chmod(m_dir.file("bin/fc-match").c_str(), 0755);
    }
    void answer_ja(const std::string& output, int status = 0) { answer("ja", output, status); }
    void answer_mono(const std::string& output, int status = 0) { answer("mono", output, status); }
    void kill_ja() { test::write_file(m_dir.file("ja.kill"), ""); }
    std::string bin() const { return m_dir.file("bin"); }
    std::string log() const { return test::read_file(m_dir.file("log")); }

  private:
    void answer(const std::string& query, const std::string& output, int status) {
        test::write_file(m_dir.file(query + ".out"), output);
        test::write_file(m_dir.file(query + ".status"), std::to_string(status));
    }
    TempDir m_dir;
};

} // namespace glyphrain::test
