// The start-up sequence of the glyph room: font bytes, parsed face, atlas, grid check.
#include "glyphs/glyphs.hpp"

#include <fmt/core.h>

#include "glyphs/atlas.hpp"
#include "glyphs/font.hpp"
#include "system/error.hpp"

namespace glyphrain {

AtlasBuild load_glyphs(const Settings& settings) {
    AtlasBuild build;
    {
        // Nothing later reads the font: the face and the file mapping go at the end of this block.
        LoadedFont font = load_font(find_font(settings));
        build = build_atlas(font, settings.size, settings.quiet);
    }
    check_grid(build, settings.size);
    return build;
}

void check_grid(const AtlasBuild& build, std::uint64_t size) {
    if (build.cols >= 1 && build.rows >= 2) return;
    throw AppError(fmt::format("Font cell {}x{} is too large for a {} px window (needs at least 1 "
                               "column and 2 rows)",
                               build.atlas.cell_width, build.atlas.cell_height, size));
}

} // namespace glyphrain
