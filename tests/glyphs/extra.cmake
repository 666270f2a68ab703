# SPDX-License-Identifier: MIT
# The atlas tests compare against FreeType's own unmirrored rendering.
target_link_libraries(glyphs_tests PRIVATE PkgConfig::FREETYPE)
