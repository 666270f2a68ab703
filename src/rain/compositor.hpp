// Composition of one frame into a client-side pixel buffer in the X server's byte order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "config/settings.hpp"
#include "glyphs/glyph_atlas.hpp"
#include "rain/rain_state.hpp"

namespace glyphrain {

/// width * height pixels of 4 bytes (0x00RRGGBB in the server's byte order), allocated once.
class FrameBuffer {
  public:
    FrameBuffer(std::size_t width, std::size_t height);
    std::size_t width() const noexcept { return m_width; }
    std::size_t height() const noexcept { return m_height; }
    std::span<std::uint8_t> bytes() noexcept { return m_bytes; }
    std::span<const std::uint8_t> bytes() const noexcept { return m_bytes; }

  private:
    std::size_t m_width;
    std::size_t m_height;
    std::vector<std::uint8_t> m_bytes;
};

struct BevelColors {
    Rgb shadow_outer, shadow_inner, light_inner, light_outer;
};

/// The bevel colours for a theme name (zenburn or the default grey).
BevelColors bevel_colors_for(const std::optional<std::string>& theme) noexcept;

/// Clears the buffer, draws every active column's drop, then the bevel. Allocates nothing.
void compose_frame(FrameBuffer& buffer, const RainState& rain, const GlyphAtlas& atlas,
                   const Settings& settings, bool lsb_first) noexcept;

void draw_bevel(FrameBuffer& buffer, bool lsb_first, const BevelColors& colors) noexcept;

} // namespace glyphrain
