// SPDX-License-Identifier: MIT
// Which of the program's two windows show, worked out from what the server's events said about
// them and about the windows that hold them. Pure bookkeeping, free of X calls.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "display/geometry.hpp"

namespace glyphrain {

/// Notes per window: mapped, fully covered, its parent (whether that is mapped and its size) and
/// its own place and size in it. A window shows when it is mapped, not fully covered and its
/// parent is mapped; the main window also counts as hidden while a dock holds the icon window,
/// since docks park it somewhere nobody looks. Notes about windows it does not track are ignored.
class Viewability {
  public:
    /// Both windows start unmapped at (0, 0) in root, size x size without a border.
    Viewability(std::uint32_t main_window, std::uint32_t icon_window, std::uint32_t root,
                std::uint16_t size) noexcept;

    /// MapNotify or UnmapNotify of one of the two windows or of a parent of theirs.
    void note_mapped(std::uint32_t window, bool mapped) noexcept;
    /// VisibilityNotify: sent only to a viewable window, so the ancestors above its parent are
    /// mapped too. (Not the parent itself: the event may predate the look at a new parent.)
    void note_fully_obscured(std::uint32_t window, bool fully_obscured) noexcept;
    /// ReparentNotify of one of the two windows: its new parent and place there. A new parent
    /// other than the root counts as mapped, of unknown size, until note_parent says more.
    void note_reparented(std::uint32_t window, std::uint32_t parent, std::int16_t x,
                         std::int16_t y) noexcept;
    /// A parent's map state as the server reports it: unviewable is mapped inside an unmapped
    /// ancestor, which no event of the parent's own will tell when it changes.
    enum class MapState { unmapped, unviewable, viewable };
    /// What one look at a parent found: its map state and its size.
    void note_parent(std::uint32_t parent, MapState state, Extent size) noexcept;
    /// ConfigureNotify (not a synthetic one) of one of the two windows or of a parent of theirs.
    void note_configured(std::uint32_t window, std::int16_t x, std::int16_t y, Extent size,
                         std::uint16_t border) noexcept;

    /// The windows to draw into: none, either or both.
    std::span<const std::uint32_t> viewable() const noexcept {
        return {m_viewable.data(), m_viewable_count};
    }
    /// True from the moment a dock shows the icon window until it hands it back to the root.
    bool icon_docked() const noexcept { return m_icon_docked; }
    /// The parents to watch: each window's parent, or 0 while that is the root.
    std::uint32_t parent_of(std::uint32_t window) const noexcept;

    /// How much of the drawn size x size picture the best-shown viewable window shows, clipped by
    /// its own size and by its parent (a parent's size not yet known does not clip); nothing
    /// while no window is viewable.
    std::optional<Extent> shown() const noexcept;
    /// True while shown() is smaller than the picture and differs from the last one told. A
    /// picture shown whole, as any note reveals it, makes the next smaller one count as new.
    bool shown_smaller_untold() const noexcept;
    /// shown() once it has been smaller than the picture, the same and not yet told, for
    /// k_settle_ms: a holder settling its tile passes through smaller sizes for a moment. now_ms
    /// is any monotonic clock in milliseconds.
    std::optional<Extent> take_shown_smaller(std::int64_t now_ms) noexcept;
    static constexpr std::int64_t k_settle_ms = 1000;

  private:
    struct Notes {
        std::uint32_t window = 0;
        bool mapped = false;
        bool fully_obscured = false;
        std::uint32_t parent = 0;
        bool parent_mapped = true;
        bool ancestor_unmapped = false;    // until the window is seen viewable again
        std::optional<Extent> parent_size; // unknown for the root and until looked at
        std::int16_t x = 0, y = 0;
        Extent size;
        std::uint16_t border = 0;
    };
    Notes* notes_of(std::uint32_t window) noexcept;
    bool shows(const Notes& n) const noexcept;
    Extent shown_of(const Notes& n) const noexcept;
    void update() noexcept;

    std::array<Notes, 2> m_notes; // the main window, then the icon window
    std::uint32_t m_root;
    std::uint16_t m_size;
    bool m_icon_docked = false;
    std::array<std::uint32_t, 2> m_viewable{};
    std::size_t m_viewable_count = 0;
    std::optional<Extent> m_told;
    std::optional<Extent> m_settling;
    std::int64_t m_settling_since_ms = 0;
};

} // namespace glyphrain
