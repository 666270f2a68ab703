// SPDX-License-Identifier: MIT
// The rain simulation: seeding, grid fill, column placement and the per-frame step.
#include "rain/rain_state.hpp"

#include <ctime>

#include "system/error.hpp"

namespace glyphrain {

namespace {

// One in ten frames, an active column gets one of its cells re-rolled.
constexpr std::uint64_t k_chance_range = 10000;
constexpr float k_reroll_chance = 0.1f;
// A stopped column waits 0 to 4 frames before it may restart.
constexpr std::uint64_t k_delay_range = 5;

} // namespace

std::uint64_t Xorshift64::next_u64() noexcept {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
}

std::uint64_t seed_from_time(std::int64_t seconds, std::int64_t nanos) noexcept {
    if (seconds < 0) return k_pre_epoch_seed;
    const std::uint64_t since_epoch =
        static_cast<std::uint64_t>(seconds) * 1'000'000'000u + static_cast<std::uint64_t>(nanos);
    return since_epoch == 0 ? k_epoch_seed : since_epoch;
}

std::uint64_t seed_from_clock() noexcept {
    timespec now{};
    // CLOCK_REALTIME always exists; a failed read leaves the epoch, which still gives a seed.
    clock_gettime(CLOCK_REALTIME, &now);
    return seed_from_time(now.tv_sec, now.tv_nsec);
}

void reset_column(RainColumn& column, Xorshift64& rng, std::size_t rows) noexcept {
    // A one-row grid would divide by zero; the constructor refuses it, this keeps the helper safe.
    const std::size_t half = rows / 2 == 0 ? 1 : rows / 2;
    column.head = -1 - static_cast<std::int32_t>(rng.next_u64() % half);
    const std::uint64_t b = rng.next_u64();
    column.length = static_cast<std::int32_t>(rows * 4 / 5 + b % (rows * 2 / 5 + 1));
    column.delay = 0;
    column.active = true;
}

std::uint32_t active_target(std::uint32_t density, std::size_t cols) noexcept {
    const std::uint32_t target = (density * static_cast<std::uint32_t>(cols) + 50) / 100;
    return target == 0 ? 1 : target;
}

RainState::RainState(std::size_t cols, std::size_t rows, std::size_t glyph_count,
                     std::uint64_t seed)
    : m_cols(cols), m_rows(rows),
      m_glyph_count(glyph_count), m_rng{seed == 0 ? k_epoch_seed : seed} {
    if (rows < 2) throw AppError("The glyph grid needs at least two rows");
    if (glyph_count == 0) throw AppError("The glyph set is empty");
    m_columns.resize(cols);
    m_grid.resize(cols * rows);

    for (std::size_t& cell : m_grid)
        cell = m_rng.next_u64() % m_glyph_count;

    // Spread the first drops over the whole height so the window does not start empty.
    const auto rows_i32 = static_cast<std::int32_t>(m_rows);
    for (RainColumn& column : m_columns) {
        reset_column(column, m_rng, m_rows);
        const auto span = static_cast<std::uint64_t>(rows_i32 + column.length);
        column.head = static_cast<std::int32_t>(m_rng.next_u64() % span) - column.length;
    }
}

void RainState::step_rain(std::uint32_t density) noexcept {
    const std::uint32_t target = active_target(density, m_cols);
    // Counted once: columns that start or stop in this pass do not change the restart rule.
    std::size_t active_now = 0;
    for (const RainColumn& column : m_columns)
        active_now += column.active ? 1 : 0;

    const auto rows_i32 = static_cast<std::int32_t>(m_rows);
    for (std::size_t col = 0; col < m_cols; ++col) {
        RainColumn& column = m_columns[col];
        if (!column.active) {
            if (column.delay > 0)
                --column.delay;
            else if (active_now < target)
                reset_column(column, m_rng, m_rows);
            continue;
        }

        ++column.head;
        if (column.head >= 0 && column.head < rows_i32)
            m_grid[static_cast<std::size_t>(column.head) * m_cols + col] =
                m_rng.next_u64() % m_glyph_count;

        const std::uint64_t chance = m_rng.next_u64() % k_chance_range;
        if (static_cast<float>(chance) / static_cast<float>(k_chance_range) < k_reroll_chance) {
            const std::uint64_t row = m_rng.next_u64() % m_rows;
            m_grid[row * m_cols + col] = m_rng.next_u64() % m_glyph_count;
        }

        if (column.head - column.length >= rows_i32) {
            column.active = false;
            column.delay = static_cast<std::uint32_t>(m_rng.next_u64() % k_delay_range);
        }
    }
}

} // namespace glyphrain
