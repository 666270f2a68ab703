// SPDX-License-Identifier: MIT
// The viewability notes and what follows from them: the windows to draw into, whether a dock
// holds the icon window, and how much of the picture the shown window shows.
#include "display/x11/viewability.hpp"

#include <algorithm>

namespace glyphrain {

Viewability::Viewability(std::uint32_t main_window, std::uint32_t icon_window, std::uint32_t root,
                         std::uint16_t size) noexcept
    : m_root(root), m_size(size) {
    m_notes[0].window = main_window;
    m_notes[1].window = icon_window;
    for (Notes& n : m_notes) {
        n.parent = root;
        n.size = {size, size};
    }
}

Viewability::Notes* Viewability::notes_of(std::uint32_t window) noexcept {
    for (Notes& n : m_notes)
        if (n.window == window) return &n;
    return nullptr;
}

std::uint32_t Viewability::parent_of(std::uint32_t window) const noexcept {
    for (const Notes& n : m_notes)
        if (n.window == window) return n.parent == m_root ? 0 : n.parent;
    return 0;
}

void Viewability::note_mapped(std::uint32_t window, bool mapped) noexcept {
    if (Notes* n = notes_of(window)) {
        n->mapped = mapped;
        // A window mapped again gets a fresh visibility event.
        if (!mapped) n->fully_obscured = false;
    }
    for (Notes& n : m_notes)
        if (n.parent == window && window != m_root) n.parent_mapped = mapped;
    update();
}

void Viewability::note_fully_obscured(std::uint32_t window, bool fully_obscured) noexcept {
    Notes* n = notes_of(window);
    if (n == nullptr) return;
    n->mapped = true;
    n->ancestor_unmapped = false;
    n->fully_obscured = fully_obscured;
    update();
}

void Viewability::note_reparented(std::uint32_t window, std::uint32_t parent, std::int16_t x,
                                  std::int16_t y) noexcept {
    Notes* n = notes_of(window);
    if (n == nullptr) return;
    n->parent = parent;
    n->parent_mapped = true;
    n->ancestor_unmapped = false;
    n->parent_size.reset();
    n->x = x;
    n->y = y;
    // Handed back to the root, the icon window is no longer held by a dock.
    if (n == &m_notes[1] && parent == m_root) m_icon_docked = false;
    update();
}

void Viewability::note_parent(std::uint32_t parent, MapState state, Extent size) noexcept {
    if (parent == m_root) return;
    for (Notes& n : m_notes) {
        if (n.parent != parent) continue;
        n.parent_mapped = state != MapState::unmapped;
        n.ancestor_unmapped = state == MapState::unviewable;
        n.parent_size = size;
    }
    update();
}

void Viewability::note_configured(std::uint32_t window, std::int16_t x, std::int16_t y, Extent size,
                                  std::uint16_t border) noexcept {
    if (Notes* n = notes_of(window)) {
        n->x = x;
        n->y = y;
        n->size = size;
        n->border = border;
    }
    for (Notes& n : m_notes)
        if (n.parent == window && window != m_root) n.parent_size = size;
    update();
}

bool Viewability::shows(const Notes& n) const noexcept {
    if (&n == &m_notes[0] && m_icon_docked) return false;
    return n.mapped && !n.fully_obscured && n.parent_mapped && !n.ancestor_unmapped;
}

Extent Viewability::shown_of(const Notes& n) const noexcept {
    // The picture covers size x size from the window's corner; the window may be smaller, and a
    // parent other than the root clips whatever lies outside it.
    const auto along = [&](int offset, int window_length, std::optional<int> parent_length) {
        int begin = offset;
        int end = offset + std::min<int>(window_length, m_size);
        if (parent_length) {
            begin = std::max(begin, 0);
            end = std::min(end, *parent_length);
        }
        return static_cast<std::uint16_t>(std::max(end - begin, 0));
    };
    const int inside_x = n.x + n.border, inside_y = n.y + n.border;
    return {along(inside_x, n.size.width,
                  n.parent_size ? std::optional<int>(n.parent_size->width) : std::nullopt),
            along(inside_y, n.size.height,
                  n.parent_size ? std::optional<int>(n.parent_size->height) : std::nullopt)};
}

std::optional<Extent> Viewability::shown() const noexcept {
    std::optional<Extent> best;
    for (const Notes& n : m_notes) {
        if (!shows(n)) continue;
        const Extent e = shown_of(n);
        if (!best || e.width * e.height > best->width * best->height) best = e;
    }
    return best;
}

bool Viewability::shown_smaller_untold() const noexcept {
    const std::optional<Extent> now = shown();
    return now && (now->width < m_size || now->height < m_size) && now != m_told;
}

std::optional<Extent> Viewability::take_shown_smaller(std::int64_t now_ms) noexcept {
    const std::optional<Extent> now = shown();
    if (!shown_smaller_untold()) {
        m_settling.reset();
        return std::nullopt;
    }
    if (now != m_settling) {
        m_settling = now;
        m_settling_since_ms = now_ms;
    }
    if (now_ms - m_settling_since_ms < k_settle_ms) return std::nullopt;
    m_told = now;
    m_settling.reset();
    return now;
}

void Viewability::update() noexcept {
    // A dock shows the icon window once it maps it inside a window of its own; from then on the
    // main window stays out of sight.
    const Notes& icon = m_notes[1];
    if (icon.mapped && icon.parent != m_root) m_icon_docked = true;
    m_viewable_count = 0;
    for (const Notes& n : m_notes)
        if (shows(n)) m_viewable[m_viewable_count++] = n.window;
    // Forgotten here rather than when asked: a caller that asks only while something smaller
    // waits to be told would never see the whole picture between two smaller ones.
    const std::optional<Extent> now = shown();
    if (now && now->width >= m_size && now->height >= m_size) {
        m_told.reset();
        m_settling.reset();
    }
}

} // namespace glyphrain
