// SPDX-License-Identifier: MIT
// Font discovery (the font setting, fc-match queries, well-known paths), reading whole files into
// memory, and parsing face 0 with FreeType. FreeType's headers stay inside the .cpp files.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

#include "config/settings.hpp"

struct FT_LibraryRec_;
struct FT_FaceRec_;

namespace glyphrain {

/// Largest font file accepted. CJK collections run to about 20 MB, so the cap leaves room for
/// them while still refusing absurd files, and bounds the memory the bytes take while parsed.
inline constexpr std::uint64_t k_max_font_bytes = 67108864;

/// The whole content of a font file. It is read, not mapped: a mapped file cut short by someone
/// rewriting it would end the program with SIGBUS at the first page past its new end.
using FontBytes = std::vector<std::uint8_t>;

/// fontconfig patterns asked in this order when no font is configured: Japanese monospace text
/// first, then any monospace text.
inline constexpr std::array<std::string_view, 2> k_font_queries = {"monospace:lang=ja",
                                                                   "monospace"};

/// Well-known font files tried in this order when no query gives a readable file.
inline constexpr std::array<std::string_view, 12> k_fallback_font_paths = {
    "/usr/share/fonts/noto-cjk/NotoSansCJK-Regular.ttc",
    "/usr/share/fonts/google-noto-cjk/NotoSansCJK-Regular.ttc",
    "/usr/share/fonts/noto/NotoSansCJK-Regular.ttc",
    "/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc",
    "/usr/share/fonts/OTF/NotoSansCJK-Regular.ttc",
    "/usr/share/fonts/noto-cjk/NotoSansMonoCJK-Regular.ttc",
    "/usr/share/fonts/google-noto-cjk/NotoSansMonoCJK-Regular.ttc",
    "/usr/share/fonts/dejavu/DejaVuSansMono.ttf",
    "/usr/share/fonts/TTF/DejaVuSansMono.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf",
    "/usr/share/fonts/noto/NotoSansMono-Regular.ttf",
    "/usr/share/fonts/google-noto/NotoSansMono-Regular.ttf",
};

/// Reads the file at path after checking its size against k_max_font_bytes. Throws SystemError
/// when it cannot be read, AppError "Font file too large (N bytes, max M bytes)", or AppError
/// "Font file changed while it was read" when what was read does not match the file's size and
/// time of change before and after the read (a file being rewritten). An empty file gives no
/// bytes, which fail later at parsing.
FontBytes read_font_file(const std::string& path);

/// True when two looks at a file see the same size and time of change: a copy written over it
/// meanwhile, even one of the same size, changes the time.
bool same_version(const struct stat& a, const struct stat& b) noexcept;

/// A font file chosen by find_font: its bytes and the path they came from.
struct FoundFont {
    FontBytes bytes;
    std::string path;
};

/// The font file fontconfig picks for the first of k_font_queries that names one; nothing when
/// fc-match is missing, fails or answers with white space only. The file is not read.
std::optional<std::string> suggest_font();

/// The first readable candidate: the font setting (set but empty counts as set), else each
/// fc-match query, else each of fallback_paths. Prints the "using font" line unless quiet.
/// Throws AppError when the configured font cannot be read or nothing is found.
FoundFont find_font(const Settings& settings,
                    std::span<const std::string_view> fallback_paths = k_fallback_font_paths);

/// Face 0 of a font file or collection parsed from memory, owning the bytes it was parsed from.
class LoadedFont {
  public:
    /// Throws AppError "Failed to parse font: {}" when the bytes are no scalable font.
    explicit LoadedFont(FontBytes bytes);

    FT_LibraryRec_* library() const noexcept { return m_library.get(); }
    FT_FaceRec_* face() const noexcept { return m_face.get(); }

  private:
    struct LibraryFree {
        void operator()(FT_LibraryRec_* library) const noexcept;
    };
    struct FaceFree {
        void operator()(FT_FaceRec_* face) const noexcept;
    };

    // Declaration order makes the face go first, then the library, then the bytes under them.
    FontBytes m_bytes;
    std::unique_ptr<FT_LibraryRec_, LibraryFree> m_library;
    std::unique_ptr<FT_FaceRec_, FaceFree> m_face;
};

/// Parses bytes as a font; see LoadedFont.
LoadedFont load_font(FontBytes bytes);

/// FreeType's description of an error code, e.g. "unknown file format".
std::string freetype_error_text(int error);

} // namespace glyphrain
