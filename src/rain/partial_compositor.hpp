// SPDX-License-Identifier: MIT
// Frames composed by changes: each buffer reused in turn is brought up to date by redrawing only
// the cells whose look changed since it was last drawn, and the rectangles to send are listed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "config/settings.hpp"
#include "display/geometry.hpp"
#include "glyphs/glyph_atlas.hpp"
#include "rain/compositor.hpp"
#include "rain/glyph_ink.hpp"
#include "rain/placement.hpp"
#include "rain/rain_state.hpp"
#include "rain/shading.hpp"

namespace glyphrain {

/// Composes into frame buffers that are reused in turn (a client buffer, segments shared with the
/// server), each known by its index. It remembers, cell by cell, what each buffer holds and what
/// the window shows (the last frame composed, which the caller sends), so a frame touches only
/// the pixels of cells whose glyph, fade or colour changed, and reports the rectangles that differ
/// from what the window shows. Everything is allocated here; composing allocates nothing.
class PartialCompositor {
  public:
    /// For a cols x rows rain drawn with atlas, which must outlive this object and stay unchanged,
    /// into `buffers` buffers (indices 0 to buffers - 1).
    PartialCompositor(const GlyphAtlas& atlas, std::size_t cols, std::size_t rows,
                      std::size_t buffers);

    /// Makes the buffer numbered index, which holds what this object last composed into it, equal
    /// byte for byte to compose_frame of the current state, and returns the rectangles whose
    /// pixels may differ from the previously composed frame: sending exactly these brings a window
    /// that shows that frame up to date. The span is valid until the next call.
    ///
    /// A buffer composed for the first time, or after mark_all_changed, a change of size, byte
    /// order or bevel colours, or an index out of range, is drawn whole by compose_frame; the
    /// rectangles are the whole window whenever the window's content is not known (the first
    /// frame, after mark_all_changed or mark_window_changed, or such a change).
    std::span<const PixelRect> compose_changed(FrameBuffer& buffer, std::size_t index,
                                               const RainState& rain, const Settings& settings,
                                               bool lsb_first) noexcept;

    /// Nothing is known any more: the next compose into every buffer draws the whole frame and
    /// returns the whole window. For new buffer memory, or a frame composed but never sent.
    void mark_all_changed() noexcept;
    /// The buffers are right but the window's content is lost (Expose, mapped or shown again, a
    /// send that failed): the next compose returns the whole window.
    void mark_window_changed() noexcept;

    /// What one more request costs, as a number of pixels sent: a rectangle is merged into the one
    /// before it when their bounding box holds at most this many pixels more than the two. 0 (the
    /// default) merges only where nothing is added.
    void set_request_cost(std::size_t pixels) noexcept { m_request_cost = pixels; }

  private:
    // What one buffer or the window holds: every cell's look and what the whole frame depends on.
    struct Shown {
        bool known = false;
        bool lsb_first = false;
        std::size_t width = 0, height = 0;
        BevelColors bevel{};
        std::vector<shading::CellLook> cells; // row-major, glyph k_no_glyph where nothing is drawn
    };
    // One cell drawn into a rectangle being recomposed, clipped to it.
    struct Source {
        std::size_t glyph;
        PixelPoint origin; // where the bitmap's top-left pixel lands
        PixelBox box;      // the bitmap's ink inside the rectangle
    };
    // What a cache slot's table was filled for; the tables themselves live apart, so that the
    // memory of slots never used is never touched.
    struct CachedKey {
        bool filled = false;
        bool lsb_first = false;
        float fade = 0;
        Rgb color{};
    };

    bool matches(const Shown& shown, const FrameBuffer& buffer, const BevelColors& bevel,
                 bool lsb_first) const noexcept;
    void look_at(const RainState& rain, const Settings& settings) noexcept;
    PixelBox ink_at(const shading::CellLook& look, std::size_t col, std::size_t row,
                    GridOffsets offsets) const noexcept;
    std::size_t collect_changes(const Shown& shown, GridOffsets offsets, PixelBox inside,
                                std::vector<PixelRect>& rects) const noexcept;
    std::size_t merge_sends(std::size_t count) noexcept;
    const shading::ShadeTable& table_for(const shading::CellLook& look, bool lsb_first) noexcept;
    void redraw_cells(FrameBuffer& buffer, const Shown& shown, GridOffsets offsets,
                      bool lsb_first) noexcept;
    void recompose(FrameBuffer& buffer, const PixelRect& rect, GridOffsets offsets,
                   bool lsb_first) noexcept;
    void remember(Shown& shown, const FrameBuffer& buffer, const BevelColors& bevel,
                  bool lsb_first) const noexcept;

    const GlyphAtlas& m_atlas;
    std::size_t m_cols;
    std::size_t m_rows;
    GlyphInk m_ink;
    std::vector<Shown> m_buffers;
    Shown m_window;
    std::vector<shading::CellLook> m_now; // the current frame's looks
    std::vector<PixelRect> m_draw;        // what the buffer needs redrawn
    std::vector<PixelRect> m_send;        // what the window needs
    std::size_t m_send_count = 0;
    std::size_t m_request_cost = 0;
    std::vector<Source> m_sources;
    // The sources' tables while a rectangle is drawn; left uninitialised, so a run whose glyphs
    // stay inside their cells (the usual case) never makes these pages resident.
    std::unique_ptr<shading::ShadeTable[]> m_tables;
    // Fades repeat from frame to frame (one per trail position and drop length), so their tables
    // are kept, found by a hash of fade and colour.
    std::vector<CachedKey> m_cache_keys;
    std::unique_ptr<shading::ShadeTable[]> m_cache_tables;
};

} // namespace glyphrain
