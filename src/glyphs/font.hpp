// SPDX-License-Identifier: MIT
// Font discovery (the font setting, fc-match, well-known paths), reading by read-only mapping,
// and parsing face 0 with FreeType. FreeType's headers stay inside the .cpp files.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "config/settings.hpp"
#include "system/fc_match.hpp"
#include "system/file.hpp"

struct FT_LibraryRec_;
struct FT_FaceRec_;

namespace glyphrain {

/// Largest font file accepted. CJK collections run to about 20 MB, so the cap leaves room for
/// them while still refusing absurd files; the bytes are mapped, never copied.
inline constexpr std::uint64_t k_max_font_bytes = 67108864;

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

/// Maps the file at path read-only after checking its size against k_max_font_bytes. Throws
/// SystemError when it cannot be read, AppError "Font file too large (N bytes, max M bytes)".
/// An empty file gives an empty mapping, which fails later at parsing.
MappedFile read_font_file(const std::string& path);

/// A font file chosen by find_font: its bytes and the path they came from.
struct FoundFont {
    MappedFile bytes;
    std::string path;
};

/// The first readable candidate: the font setting (set but empty counts as set), else each
/// fc-match query, else each of fallback_paths. Prints the "using font" line unless quiet.
/// Throws AppError when the configured font cannot be read or nothing is found.
FoundFont find_font(const Settings& settings,
                    std::span<const std::string_view> fallback_paths = k_fallback_font_paths);

/// Face 0 of a font file or collection parsed from memory, owning the bytes it was parsed from.
class LoadedFont {
  public:
    /// Throws AppError "Failed to parse font: {}" when the bytes are no scalable font.
    explicit LoadedFont(MappedFile bytes);

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
    MappedFile m_bytes;
    std::unique_ptr<FT_LibraryRec_, LibraryFree> m_library;
    std::unique_ptr<FT_FaceRec_, FaceFree> m_face;
};

/// Parses bytes as a font; see LoadedFont.
LoadedFont load_font(MappedFile bytes);

/// FreeType's description of an error code, e.g. "unknown file format".
std::string freetype_error_text(int error);

} // namespace glyphrain
