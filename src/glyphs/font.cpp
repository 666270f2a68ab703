// SPDX-License-Identifier: MIT
// Finding the font file, reading it and handing it to FreeType.
#include "glyphs/font.hpp"

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include <fmt/core.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include "system/error.hpp"
#include "system/fc_match.hpp"
#include "system/print.hpp"
#include "system/unique_fd.hpp"

namespace glyphrain {
namespace {

struct FreeTypeErrorText {
    int code;
    const char* text;
};

// FreeType's own error list, expanded from its header: Debian builds the library without
// FT_Error_String, so the readable texts come from here.
// clang-format off
#undef FTERRORS_H_
#define FT_ERRORDEF(e, v, s) {v, s},
#define FT_ERROR_START_LIST {
#define FT_ERROR_END_LIST {0, nullptr}}
constexpr FreeTypeErrorText k_freetype_errors[] =
#include FT_ERRORS_H
;
// clang-format on

std::string size_message(std::uint64_t size) {
    return fmt::format("Font file too large ({} bytes, max {} bytes)", size, k_max_font_bytes);
}

/// A discovered candidate that cannot be read is expected: the search goes on to the next one.
std::optional<FontBytes> read_candidate(const std::string& path) {
    try {
        return read_font_file(path);
    } catch (const std::runtime_error&) {
        return std::nullopt;
    }
}

} // namespace

std::string freetype_error_text(int error) {
    if (const char* text = FT_Error_String(error)) return text;
    for (const FreeTypeErrorText& entry : k_freetype_errors) {
        if (entry.text && entry.code == FT_ERROR_BASE(error)) return entry.text;
    }
    return fmt::format("FreeType error {:#x}", error);
}

bool same_version(const struct stat& a, const struct stat& b) noexcept {
    return a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
           a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

FontBytes read_font_file(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) throw SystemError(errno);
    if (auto size = static_cast<std::uint64_t>(st.st_size); size > k_max_font_bytes)
        throw AppError(size_message(size));
    // O_NONBLOCK keeps a FIFO from blocking the open; only regular files are read.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) throw SystemError(errno);
    struct stat before {};
    if (::fstat(fd.get(), &before) != 0) throw SystemError(errno);
    if (S_ISDIR(before.st_mode)) throw SystemError(EISDIR);
    if (!S_ISREG(before.st_mode)) throw SystemError(EINVAL);
    const auto size = static_cast<std::uint64_t>(before.st_size);
    if (size > k_max_font_bytes) throw AppError(size_message(size));

    // One byte more than the size tells a file that grew meanwhile.
    FontBytes bytes(static_cast<std::size_t>(size) + 1);
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        ssize_t n = ::read(fd.get(), bytes.data() + filled, bytes.size() - filled);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw SystemError(errno);
        }
        if (n == 0) break;
        filled += static_cast<std::size_t>(n);
    }
    // A copy written over the file while it was read gives a mix of two fonts, or part of one.
    struct stat after {};
    if (::fstat(fd.get(), &after) != 0) throw SystemError(errno);
    if (filled != size || !same_version(before, after))
        throw AppError("Font file changed while it was read");
    bytes.resize(filled);
    return bytes;
}

std::optional<std::string> suggest_font() {
    for (std::string_view pattern : k_font_queries) {
        if (std::optional<std::string> path = fc_match_file(pattern)) return path;
    }
    return std::nullopt;
}

FoundFont find_font(const Settings& settings, std::span<const std::string_view> fallback_paths) {
    if (settings.font) {
        FontBytes bytes;
        try {
            bytes = read_font_file(*settings.font);
        } catch (const std::runtime_error& e) {
            // The configured font is fatal; the reason gets the path for context.
            throw AppError(fmt::format("Cannot read font '{}': {}", *settings.font, e.what()));
        }
        if (!settings.quiet) print_stderr("glyphRain: using font {}\n", *settings.font);
        return {std::move(bytes), *settings.font};
    }
    for (std::string_view pattern : k_font_queries) {
        std::optional<std::string> path = fc_match_file(pattern);
        if (!path) continue;
        if (std::optional<FontBytes> bytes = read_candidate(*path)) {
            if (!settings.quiet)
                print_stderr("glyphRain: using font {} (query: {})\n", *path, pattern);
            return {std::move(*bytes), std::move(*path)};
        }
    }
    for (std::string_view fallback : fallback_paths) {
        std::string path(fallback);
        if (std::optional<FontBytes> bytes = read_candidate(path)) {
            if (!settings.quiet) print_stderr("glyphRain: using font {}\n", path);
            return {std::move(*bytes), std::move(path)};
        }
    }
    throw AppError("No font found. Install a monospace font or use --font <path>");
}

void LoadedFont::LibraryFree::operator()(FT_LibraryRec_* library) const noexcept {
    FT_Done_FreeType(library);
}

void LoadedFont::FaceFree::operator()(FT_FaceRec_* face) const noexcept {
    FT_Done_Face(face);
}

LoadedFont::LoadedFont(FontBytes bytes) : m_bytes(std::move(bytes)) {
    FT_Library library = nullptr;
    if (FT_Error error = FT_Init_FreeType(&library))
        throw AppError(fmt::format("Failed to parse font: {}", freetype_error_text(error)));
    m_library.reset(library);

    // An empty buffer may have no address at all; FreeType takes a null base for a bad argument,
    // so it gets a valid address of zero length and reports what is wrong with the content.
    static constexpr std::uint8_t k_nothing = 0;
    const std::uint8_t* base = m_bytes.empty() ? &k_nothing : m_bytes.data();
    FT_Face face = nullptr;
    if (FT_Error error =
            FT_New_Memory_Face(library, base, static_cast<FT_Long>(m_bytes.size()), 0, &face))
        throw AppError(fmt::format("Failed to parse font: {}", freetype_error_text(error)));
    m_face.reset(face);

    // Bitmap-only formats (PCF, BDF, bitmap strikes) parse but have no outlines to scale, and a
    // zero em square would make every scale infinite.
    if (!FT_IS_SCALABLE(face)) throw AppError("Failed to parse font: no scalable outlines");
    if (face->units_per_EM == 0) throw AppError("Failed to parse font: units per em is zero");
}

LoadedFont load_font(FontBytes bytes) {
    return LoadedFont(std::move(bytes));
}

} // namespace glyphrain
