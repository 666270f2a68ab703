// SPDX-License-Identifier: MIT
// Start-up font work as one step: find, load and rasterize, then let the font go.
#pragma once

#include <cstdint>

#include "config/settings.hpp"
#include "glyphs/glyph_atlas.hpp"

namespace glyphrain {

/// Finds and loads the font, builds the atlas and grid for settings.size (printing the font and
/// grid lines unless quiet) and releases the font. Throws AppError with the program's messages.
AtlasBuild load_glyphs(const Settings& settings);

/// Throws AppError naming the cell and window sizes when the grid has no column or fewer than
/// two rows: the rain needs both to place a drop.
void check_grid(const AtlasBuild& build, std::uint64_t size);

} // namespace glyphrain
