// Placeholder until font discovery and the atlas land.
#include "glyphs/glyphs.hpp"

#include "system/error.hpp"

namespace glyphrain {

AtlasBuild load_glyphs(const Settings&) { throw AppError("Fonts are not available yet"); }

} // namespace glyphrain
