// SPDX-License-Identifier: MIT
// The start-up sequence of the glyph room: font bytes, parsed face, atlas, grid check.
#include "glyphs/load_glyphs.hpp"

#include <string>
#include <utility>

#include <fmt/core.h>

#include "glyphs/atlas_builder.hpp"
#include "glyphs/font.hpp"
#include "system/error.hpp"
#include "system/print.hpp"

namespace glyphrain {

AtlasBuild load_glyphs(const Settings& settings) {
    AtlasBuild build;
    std::string path;
    std::size_t missing = 0;
    {
        // Nothing later reads the font: the face and its bytes go at the end of this block.
        FoundFont found = find_font(settings);
        path = std::move(found.path);
        LoadedFont font = load_font(std::move(found.bytes));
        build = build_atlas(font, settings.size, settings.quiet);
        missing = count_missing_kana(font);
    }
    check_grid(build, settings.size);
    // The usual reason for a rain of empty boxes is a font without Japanese; say so once.
    if (missing > 0 && !settings.quiet)
        print_stderr("glyphRain: warning: {} lacks {} of the {} kana, which show as empty boxes; "
                     "install fonts-noto-cjk or fonts-vlgothic, or choose a font with --font\n",
                     path, missing, k_glyph_count);
    return build;
}

void check_grid(const AtlasBuild& build, std::uint64_t size) {
    if (build.cols >= 1 && build.rows >= 2) return;
    throw AppError(fmt::format("Font cell {}x{} is too large for a {} px window (needs at least 1 "
                               "column and 2 rows)",
                               build.atlas.cell_width, build.atlas.cell_height, size));
}

} // namespace glyphrain
