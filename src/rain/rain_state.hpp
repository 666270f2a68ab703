// SPDX-License-Identifier: MIT
// The falling-glyph simulation: one generator, one drop per column, a grid of glyph indices.
// Every random draw happens in a fixed order, so a seed and a grid size determine every frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace glyphrain {

struct Xorshift64 {
    std::uint64_t state;
    /// Advances the state (13, 7, 17 shifts) and returns the new state.
    std::uint64_t next_u64() noexcept;
    friend bool operator==(const Xorshift64&, const Xorshift64&) = default;
};

/// Seed used when the clock reads exactly the epoch, since a zero state would never change.
inline constexpr std::uint64_t k_epoch_seed = 0xDEADBEEF;
/// Seed used when the clock reads a time before the epoch.
inline constexpr std::uint64_t k_pre_epoch_seed = 12345;

/// The seed for a real-time clock reading in timespec form (nanos in 0..999999999, seconds
/// negative before the epoch): nanoseconds since the epoch, wrapping, with the two special seeds.
std::uint64_t seed_from_time(std::int64_t seconds, std::int64_t nanos) noexcept;

/// Nanoseconds since the epoch (wrapping), 0xDEADBEEF for exactly the epoch, 12345 before it.
std::uint64_t seed_from_clock() noexcept;

struct RainColumn {
    std::int32_t head = 0;
    std::int32_t length = 0;
    std::uint32_t delay = 0;
    bool active = false;
    friend bool operator==(const RainColumn&, const RainColumn&) = default;
};

/// Restarts one column above the top: two draws from rng. rows must be at least 2.
void reset_column(RainColumn& column, Xorshift64& rng, std::size_t rows) noexcept;

/// Restart threshold: (density * cols + 50) / 100 in 32 bits, at least 1.
std::uint32_t active_target(std::uint32_t density, std::size_t cols) noexcept;

class RainState {
  public:
    /// Fills the grid and places every column. Throws AppError for fewer than two rows or no
    /// glyphs, where the column arithmetic would divide by zero. A zero seed counts as 0xDEADBEEF.
    RainState(std::size_t cols, std::size_t rows, std::size_t glyph_count, std::uint64_t seed);

    /// One frame; density is the current setting, 1 to 100. Allocates nothing.
    void step_rain(std::uint32_t density) noexcept;

    std::size_t cols() const noexcept { return m_cols; }
    std::size_t rows() const noexcept { return m_rows; }
    const std::vector<RainColumn>& columns() const noexcept { return m_columns; }
    /// cols * rows glyph indices, row-major.
    const std::vector<std::size_t>& grid() const noexcept { return m_grid; }

    /// The same grid, drops and generator: equal steps keep the two equal, frame for frame.
    friend bool operator==(const RainState&, const RainState&) = default;

  private:
    // Lets a test start from a chosen drop or draw; defined beside the tests only.
    friend struct RainStateAccess;

    std::size_t m_cols;
    std::size_t m_rows;
    std::size_t m_glyph_count;
    Xorshift64 m_rng;
    std::vector<RainColumn> m_columns;
    std::vector<std::size_t> m_grid;
};

} // namespace glyphrain
