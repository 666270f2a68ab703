// SPDX-License-Identifier: MIT
// Finding the font file, mapping it and handing it to FreeType.
#include "glyphs/font.hpp"

#include <cerrno>
#include <optional>
#include <sys/stat.h>
#include <utility>
#include <vector>

#include <fmt/core.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include "system/error.hpp"
#include "system/print.hpp"

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
std::optional<MappedFile> read_candidate(const std::string& path) {
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

MappedFile read_font_file(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) throw SystemError(errno);
    auto size = static_cast<std::uint64_t>(st.st_size);
    if (size > k_max_font_bytes) throw AppError(size_message(size));
    MappedFile mapped(path);
    // The file may have grown between the two looks; the cap holds for what was mapped.
    if (mapped.bytes().size() > k_max_font_bytes)
        throw AppError(size_message(mapped.bytes().size()));
    return mapped;
}

FoundFont find_font(const Settings& settings, std::span<const std::string_view> fallback_paths) {
    if (settings.font) {
        MappedFile bytes;
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
        if (std::optional<MappedFile> mapped = read_candidate(*path)) {
            if (!settings.quiet)
                print_stderr("glyphRain: using font {} (query: {})\n", *path, pattern);
            return {std::move(*mapped), std::move(*path)};
        }
    }
    for (std::string_view fallback : fallback_paths) {
        std::string path(fallback);
        if (std::optional<MappedFile> mapped = read_candidate(path)) {
            if (!settings.quiet) print_stderr("glyphRain: using font {}\n", path);
            return {std::move(*mapped), std::move(path)};
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

LoadedFont::LoadedFont(MappedFile bytes) : m_bytes(std::move(bytes)) {
    FT_Library library = nullptr;
    if (FT_Error error = FT_Init_FreeType(&library))
        throw AppError(fmt::format("Failed to parse font: {}", freetype_error_text(error)));
    m_library.reset(library);

    // An empty file maps to no memory at all; FreeType takes a null base for a bad argument, so
    // it gets a valid address of zero length and reports what is wrong with the content instead.
    static constexpr std::uint8_t k_nothing = 0;
    std::span<const std::uint8_t> data = m_bytes.bytes();
    const std::uint8_t* base = data.empty() ? &k_nothing : data.data();
    FT_Face face = nullptr;
    if (FT_Error error =
            FT_New_Memory_Face(library, base, static_cast<FT_Long>(data.size()), 0, &face))
        throw AppError(fmt::format("Failed to parse font: {}", freetype_error_text(error)));
    m_face.reset(face);

    // Bitmap-only formats (PCF, BDF, bitmap strikes) parse but have no outlines to scale, and a
    // zero em square would make every scale infinite.
    if (!FT_IS_SCALABLE(face)) throw AppError("Failed to parse font: no scalable outlines");
    if (face->units_per_EM == 0) throw AppError("Failed to parse font: units per em is zero");
}

LoadedFont load_font(MappedFile bytes) {
    return LoadedFont(std::move(bytes));
}

} // namespace glyphrain
