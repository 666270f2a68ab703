// SPDX-License-Identifier: MIT
// The rain simulation: generator, seeds, column restarts, the density target and draw order.
#include "rain/rain_state.hpp"

#include <algorithm>
#include <vector>

#include <gtest/gtest.h>

#include "rain/rain_state_access.hpp"
#include "system/error.hpp"

namespace glyphrain {
namespace {

// An independent xorshift so expected draws do not come from the code under test.
std::vector<std::uint64_t> reference_draws(std::uint64_t seed, std::size_t count) {
    std::vector<std::uint64_t> draws;
    std::uint64_t s = seed;
    for (std::size_t i = 0; i < count; ++i) {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        draws.push_back(s);
    }
    return draws;
}

std::size_t count_active(const RainState& rain) {
    return static_cast<std::size_t>(std::count_if(rain.columns().begin(), rain.columns().end(),
                                                  [](const RainColumn& c) { return c.active; }));
}

TEST(Xorshift64, KnownDraws) {
    Xorshift64 rng{12345};
    EXPECT_EQ(rng.next_u64(), 13289605635609u);
    EXPECT_EQ(rng.state, 13289605635609u);
    Xorshift64 other{2};
    EXPECT_EQ(other.next_u64(), 2164539522u);
}

struct SeedCase {
    std::int64_t seconds;
    std::int64_t nanos;
    std::uint64_t seed;
};

class SeedFromTime : public ::testing::TestWithParam<SeedCase> {};

TEST_P(SeedFromTime, NanosecondsSinceEpochWithSpecialCases) {
    EXPECT_EQ(seed_from_time(GetParam().seconds, GetParam().nanos), GetParam().seed);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SeedFromTime,
    ::testing::Values(SeedCase{0, 0, 0xDEADBEEF}, SeedCase{-1, 999'999'999, 12345},
                      SeedCase{-1'000'000, 0, 12345}, SeedCase{0, 1, 1},
                      SeedCase{1, 5, 1'000'000'005},
                      // 2^64 ns after the epoch wraps to 0, which must not become a zero state.
                      SeedCase{18'446'744'073, 709'551'616, 0xDEADBEEF},
                      SeedCase{18'446'744'074, 0, 290'448'384}));

TEST(SeedFromClock, IsNanosecondsOfTheCurrentTime) {
    const std::uint64_t seed = seed_from_clock();
    EXPECT_NE(seed, 0u);
    // Any machine running this is past 2020-01-01 (1577836800 s).
    EXPECT_GT(seed, 1'577'836'800ull * 1'000'000'000ull);
}

struct ResetCase {
    std::size_t rows;
    std::int32_t head_min, head_max, length_min, length_max;
};

class ResetColumn : public ::testing::TestWithParam<ResetCase> {};

TEST_P(ResetColumn, CoversTheWholeRangeWithTwoDraws) {
    const ResetCase& c = GetParam();
    std::int32_t head_lo = 0, head_hi = -1000, length_lo = 100000, length_hi = 0;
    Xorshift64 rng{99};
    for (int i = 0; i < 2000; ++i) {
        const std::uint64_t before = rng.state;
        RainColumn column{7, 7, 3, false};
        reset_column(column, rng, c.rows);
        EXPECT_EQ(rng.state, reference_draws(before, 2)[1]);
        EXPECT_TRUE(column.active);
        EXPECT_EQ(column.delay, 0u);
        head_lo = std::min(head_lo, column.head);
        head_hi = std::max(head_hi, column.head);
        length_lo = std::min(length_lo, column.length);
        length_hi = std::max(length_hi, column.length);
    }
    EXPECT_EQ(head_lo, c.head_min);
    EXPECT_EQ(head_hi, c.head_max);
    EXPECT_EQ(length_lo, c.length_min);
    EXPECT_EQ(length_hi, c.length_max);
}

INSTANTIATE_TEST_SUITE_P(Cases, ResetColumn,
                         ::testing::Values(ResetCase{8, -4, -1, 6, 9}, ResetCase{2, -1, -1, 1, 1},
                                           ResetCase{4, -2, -1, 3, 4}, ResetCase{5, -2, -1, 4, 6},
                                           ResetCase{100, -50, -1, 80, 120}));

TEST(ActiveTarget, RoundsAndNeverFallsBelowOne) {
    struct Case {
        std::uint32_t density;
        std::size_t cols;
        std::uint32_t target;
    };
    for (const Case& c : {Case{75, 14, 11}, Case{100, 14, 14}, Case{100, 113, 113}, Case{1, 49, 1},
                          Case{1, 10, 1}, Case{1, 149, 1}, Case{1, 150, 2}, Case{50, 1, 1},
                          Case{49, 1, 1}, Case{75, 0, 1}, Case{100, 0, 1}, Case{75, 9, 7}})
        EXPECT_EQ(active_target(c.density, c.cols), c.target) << c.density << " " << c.cols;
}

class Construction : public ::testing::TestWithParam<std::pair<std::size_t, std::size_t>> {};

TEST_P(Construction, FillsTheGridThenPlacesEveryColumn) {
    const auto [cols, rows] = GetParam();
    const std::uint64_t seed = 0x1234'5678'9ABCull;
    RainState rain(cols, rows, 172, seed);
    const auto draws = reference_draws(seed, cols * rows + 3 * cols);
    for (std::size_t i = 0; i < cols * rows; ++i)
        ASSERT_EQ(rain.grid()[i], draws[i] % 172) << i;
    const auto rows_i32 = static_cast<std::int32_t>(rows);
    for (const RainColumn& column : rain.columns()) {
        EXPECT_TRUE(column.active);
        EXPECT_EQ(column.delay, 0u);
        EXPECT_GE(column.head, -column.length);
        EXPECT_LT(column.head, rows_i32);
    }
    // Exactly three draws per column after the fill.
    EXPECT_EQ(RainStateAccess::rng(rain).state, draws.empty() ? seed : draws.back());
}

INSTANTIATE_TEST_SUITE_P(Sizes, Construction,
                         ::testing::Values(std::pair<std::size_t, std::size_t>{9, 7},
                                           std::pair<std::size_t, std::size_t>{1, 2},
                                           std::pair<std::size_t, std::size_t>{113, 84},
                                           std::pair<std::size_t, std::size_t>{0, 5}));

TEST(Construction, RejectsGridsTheStepCannotHandle) {
    EXPECT_THROW(RainState(4, 1, 172, 1), AppError);
    EXPECT_THROW(RainState(4, 0, 172, 1), AppError);
    EXPECT_THROW(RainState(4, 4, 0, 1), AppError);
}

TEST(Construction, ZeroSeedDoesNotFreezeTheGenerator) {
    RainState rain(2, 4, 10, 0);
    EXPECT_NE(RainStateAccess::rng(rain).next_u64(), 0u);
}

// Seed 2, 2 columns, 4 rows, 10 glyphs, worked out by hand from these draws (n: value):
//  0-7 grid fill, last digits 2 9 6 8 8 9 7 4.
//  8: ...812 even -> head -1;  9: odd -> length 3 + 1 = 4;  10: mod 8 = 5 -> head 5 - 4 = 1.
//  11: even -> head -1;  12: even -> length 3;  13: mod 7 = 1 -> head 1 - 3 = -2.
// Frame 1: col 0 head 2, 14 -> grid[4] = 6; 15 ends ...5693, no re-roll.
//          col 1 head -1 (no glyph); 16 ends ...0303, re-roll: 17 mod 4 = 1, 18 -> grid[3] = 6.
// Frame 2: col 0 head 3, 19 -> grid[6] = 8; 20 ends ...8394, no re-roll.
//          col 1 head 0, 21 -> grid[1] = 9; 22 ends ...0256, re-roll: 23 mod 4 = 0, 24 -> 0.
TEST(StepRain, MatchesAHandWorkedRun) {
    RainState rain(2, 4, 10, 2);
    const auto draws = reference_draws(2, 25);
    EXPECT_EQ(rain.grid(), (std::vector<std::size_t>{2, 9, 6, 8, 8, 9, 7, 4}));
    EXPECT_EQ(rain.columns()[0].head, 1);
    EXPECT_EQ(rain.columns()[0].length, 4);
    EXPECT_EQ(rain.columns()[1].head, -2);
    EXPECT_EQ(rain.columns()[1].length, 3);

    rain.step_rain(100);
    EXPECT_EQ(rain.grid(), (std::vector<std::size_t>{2, 9, 6, 6, 6, 9, 7, 4}));
    EXPECT_EQ(rain.columns()[0].head, 2);
    EXPECT_EQ(rain.columns()[1].head, -1);
    EXPECT_EQ(RainStateAccess::rng(rain).state, draws[18]);

    rain.step_rain(100);
    EXPECT_EQ(rain.grid(), (std::vector<std::size_t>{2, 0, 6, 6, 6, 9, 8, 4}));
    EXPECT_EQ(rain.columns()[0].head, 3);
    EXPECT_EQ(rain.columns()[1].head, 0);
    EXPECT_EQ(RainStateAccess::rng(rain).state, draws[24]);
    EXPECT_EQ(count_active(rain), 2u);
}

// The state whose next draw is value: undoes the three xorshift steps in reverse order.
std::uint64_t state_before(std::uint64_t value) {
    const auto undo_left = [](std::uint64_t y, int k) {
        std::uint64_t x = y;
        for (int shift = k; shift < 64; shift += k)
            x ^= y << shift;
        return x;
    };
    const auto undo_right = [](std::uint64_t y, int k) {
        std::uint64_t x = y;
        for (int shift = k; shift < 64; shift += k)
            x ^= y >> shift;
        return x;
    };
    return undo_left(undo_right(undo_left(value, 17), 7), 13);
}

// A drop above the top draws only the chance (and the re-roll pair when it hits).
TEST(StepRain, RerollsExactlyWhenTheChanceDrawEndsBelow1000) {
    using Case = std::pair<std::uint64_t, bool>;
    for (const auto& [chance, rerolls] : {Case{999, true}, Case{1000, false}, Case{0, true},
                                          Case{9999, false}, Case{1001, false}}) {
        RainState rain(1, 4, 172, 1);
        RainStateAccess::columns(rain)[0] = RainColumn{-5, 3, 0, true};
        const std::uint64_t draw = 0x0123'4567'0000'0000ull / 10000 * 10000 + chance;
        RainStateAccess::rng(rain).state = state_before(draw);
        ASSERT_EQ(reference_draws(RainStateAccess::rng(rain).state, 1)[0], draw);
        const auto grid_before = rain.grid();
        rain.step_rain(100);
        const std::uint64_t expected_state = rerolls ? reference_draws(draw, 2)[1] : draw;
        EXPECT_EQ(RainStateAccess::rng(rain).state, expected_state) << chance;
        if (!rerolls) {
            EXPECT_EQ(rain.grid(), grid_before) << chance;
        }
    }
}

TEST(StepRain, ZeroColumnsDoNothing) {
    RainState rain(0, 8, 172, 77);
    const std::uint64_t before = RainStateAccess::rng(rain).state;
    for (int i = 0; i < 10; ++i)
        rain.step_rain(75);
    EXPECT_EQ(RainStateAccess::rng(rain).state, before);
    EXPECT_TRUE(rain.grid().empty());
}

struct RestartCase {
    std::size_t active, ready;
    std::size_t expected_active;
};

class RestartRule : public ::testing::TestWithParam<RestartCase> {};

// 14 columns at density 75 (target 11); the rest of the columns are waiting with delay 2.
TEST_P(RestartRule, CountsActiveColumnsOnceBeforeThePass) {
    const RestartCase& c = GetParam();
    RainState rain(14, 8, 172, 5);
    auto& columns = RainStateAccess::columns(rain);
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (i < c.active)
            columns[i] = RainColumn{0, 6, 0, true}; // far from the bottom: keeps falling
        else if (i < c.active + c.ready)
            columns[i] = RainColumn{9, 6, 0, false};
        else
            columns[i] = RainColumn{9, 6, 2, false};
    }
    rain.step_rain(75);
    EXPECT_EQ(count_active(rain), c.expected_active);
    for (std::size_t i = c.active; i < columns.size(); ++i) {
        if (i < c.active + c.ready && c.expected_active > c.active) {
            EXPECT_TRUE(columns[i].active) << i;
            EXPECT_GE(columns[i].head, -4);
            EXPECT_LE(columns[i].head, -1);
        } else if (i >= c.active + c.ready) {
            EXPECT_FALSE(columns[i].active) << i;
            EXPECT_EQ(columns[i].delay, 1u) << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, RestartRule,
                         ::testing::Values(RestartCase{10, 3, 13}, RestartCase{11, 3, 11},
                                           RestartCase{0, 14, 14}, RestartCase{12, 2, 12},
                                           RestartCase{10, 0, 10}));

// Stops a one-column drop and returns the delay it drew; the drop restarts after that many
// waiting frames plus one.
TEST(StepRain, StoppedDropRestartsAfterItsDelay) {
    bool seen[5] = {};
    for (std::uint64_t seed = 1; seed < 200; ++seed) {
        RainState rain(1, 4, 172, seed);
        RainColumn& column = RainStateAccess::columns(rain)[0];
        column = RainColumn{6, 3, 0, true}; // head - length reaches 4 rows after one step
        rain.step_rain(100);
        ASSERT_FALSE(column.active);
        const std::uint32_t delay = column.delay;
        ASSERT_LE(delay, 4u);
        seen[delay] = true;
        for (std::uint32_t frame = 0; frame < delay; ++frame) {
            rain.step_rain(100);
            EXPECT_FALSE(column.active);
            EXPECT_EQ(column.delay, delay - frame - 1);
        }
        rain.step_rain(100);
        EXPECT_TRUE(column.active) << "seed " << seed;
        EXPECT_LE(column.head, -1);
    }
    for (bool s : seen)
        EXPECT_TRUE(s);
}

TEST(StepRain, LongRunKeepsInvariantsWithoutReallocating) {
    using Size = std::pair<std::size_t, std::size_t>;
    for (const auto& [cols, rows] : {Size{9, 7}, Size{2, 2}, Size{40, 33}}) {
        RainState rain(cols, rows, 172, cols * 1000 + rows);
        const auto* grid_data = rain.grid().data();
        const auto* column_data = rain.columns().data();
        std::size_t restarts_seen = 0;
        for (int frame = 0; frame < 3000; ++frame) {
            const std::size_t before = count_active(rain);
            rain.step_rain(frame < 1500 ? 75 : 10);
            restarts_seen += count_active(rain) > before ? 1 : 0;
            for (const RainColumn& column : rain.columns()) {
                ASSERT_LE(column.delay, 4u);
                ASSERT_LE(column.head - column.length, static_cast<std::int32_t>(rows));
            }
        }
        for (std::size_t glyph : rain.grid())
            ASSERT_LT(glyph, 172u);
        EXPECT_EQ(rain.grid().data(), grid_data);
        EXPECT_EQ(rain.columns().data(), column_data);
        EXPECT_GT(restarts_seen, 0u);
    }
}

} // namespace
} // namespace glyphrain
