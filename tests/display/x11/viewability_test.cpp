// SPDX-License-Identifier: MIT
// The viewability notes, fed event by event as window managers and other clients send them.
#include "display/x11/viewability.hpp"

#include <functional>
#include <optional>
#include <ostream>
#include <vector>

#include <gtest/gtest.h>

namespace glyphrain {
namespace {

constexpr std::uint32_t k_root = 1, k_main = 10, k_icon = 20, k_holder = 30;
constexpr std::uint16_t k_size = 96;

/// One event's note, or time passing on the clock in milliseconds.
using Step = std::function<void(Viewability&, std::int64_t& now_ms)>;

Step mapped(std::uint32_t w, bool on = true) {
    return [=](Viewability& v, std::int64_t&) { v.note_mapped(w, on); };
}
Step obscured(std::uint32_t w, bool fully) {
    return [=](Viewability& v, std::int64_t&) { v.note_fully_obscured(w, fully); };
}
Step reparented(std::uint32_t w, std::uint32_t parent, std::int16_t x = 0, std::int16_t y = 0) {
    return [=](Viewability& v, std::int64_t&) { v.note_reparented(w, parent, x, y); };
}
using MapState = Viewability::MapState;
Step looked_at(std::uint32_t parent, MapState state, std::uint16_t width, std::uint16_t height) {
    return [=](Viewability& v, std::int64_t&) { v.note_parent(parent, state, {width, height}); };
}
Step configured(std::uint32_t w, std::int16_t x, std::int16_t y, std::uint16_t width,
                std::uint16_t height, std::uint16_t border = 0) {
    return [=](Viewability& v, std::int64_t&) {
        v.note_configured(w, x, y, {width, height}, border);
    };
}
Step later(std::int64_t ms = Viewability::k_settle_ms) {
    return [=](Viewability&, std::int64_t& now_ms) { now_ms += ms; };
}

// The stock fluxbox slit: the icon window at (0, 1) in a frame that fits it.
const std::vector<Step> k_slit = {mapped(k_main), reparented(k_icon, k_holder, 0, 1),
                                  looked_at(k_holder, MapState::viewable, 97, 98), mapped(k_icon)};

std::vector<Step> operator+(std::vector<Step> a, const std::vector<Step>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct Case {
    const char* name;
    std::vector<Step> steps;
    std::vector<std::uint32_t> viewable;
    bool docked;
    std::optional<Extent> shown;
    std::vector<Extent> told; // what take_shown_smaller returned after the steps, in order
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class ViewabilityNotes : public ::testing::TestWithParam<Case> {};

TEST_P(ViewabilityNotes, WindowsToDrawAndWhatTheDockShows) {
    const Case& c = GetParam();
    Viewability v(k_main, k_icon, k_root, k_size);
    std::vector<Extent> told;
    std::int64_t now_ms = 5000;
    for (const Step& step : c.steps) {
        step(v, now_ms);
        if (auto smaller = v.take_shown_smaller(now_ms)) told.push_back(*smaller);
    }
    EXPECT_EQ(std::vector<std::uint32_t>(v.viewable().begin(), v.viewable().end()), c.viewable);
    EXPECT_EQ(v.icon_docked(), c.docked);
    EXPECT_EQ(v.shown(), c.shown);
    EXPECT_EQ(told, c.told);
}

const Extent k_whole{k_size, k_size};

INSTANTIATE_TEST_SUITE_P(
    Events, ViewabilityNotes,
    ::testing::Values(
        Case{"nothingYet", {}, {}, false, std::nullopt, {}},
        Case{"bareServer", {mapped(k_main)}, {k_main}, false, k_whole, {}},
        Case{"unmapped", {mapped(k_main), mapped(k_main, false)}, {}, false, std::nullopt, {}},
        Case{"fullyCovered", {mapped(k_main), obscured(k_main, true)}, {}, false, std::nullopt, {}},
        // A window mapped again is no longer taken as covered until told so.
        Case{"coveredThenRemapped",
             {obscured(k_main, true), mapped(k_main, false), mapped(k_main)},
             {k_main},
             false,
             k_whole,
             {}},
        Case{"visibilityMeansMapped", {obscured(k_main, false)}, {k_main}, false, k_whole, {}},
        Case{"bothAtTheRoot",
             {mapped(k_main), mapped(k_icon)},
             {k_main, k_icon},
             false,
             k_whole,
             {}},
        Case{"otherWindowsIgnored",
             {mapped(k_main), mapped(99, false), configured(99, 0, 0, 8, 8), reparented(99, 98),
              looked_at(k_root, MapState::unmapped, 1, 1)},
             {k_main},
             false,
             k_whole,
             {}},
        // Held by a dock, the icon window alone is drawn, whatever the dock does with the main
        // window; it stays held while the dock hides it, until handed back to the root.
        Case{"slitHoldsIcon", k_slit, {k_icon}, true, k_whole, {}},
        Case{"slitHidesIcon",
             k_slit + std::vector{mapped(k_icon, false)},
             {},
             true,
             std::nullopt,
             {}},
        Case{"iconReparentedUnmapped",
             {mapped(k_main), reparented(k_icon, k_holder)},
             {k_main},
             false,
             k_whole,
             {}},
        Case{"iconHandedBack",
             k_slit + std::vector{mapped(k_icon, false), reparented(k_icon, k_root, 0, 1),
                                  mapped(k_icon)},
             {k_main, k_icon},
             false,
             k_whole,
             {}},
        // A holder's unmapping reaches only its own watchers.
        Case{"holderUnmapped",
             {mapped(k_main), reparented(k_main, k_holder),
              looked_at(k_holder, MapState::viewable, 96, 96), mapped(k_holder, false)},
             {},
             false,
             std::nullopt,
             {}},
        Case{"holderMappedAgain",
             {mapped(k_main), reparented(k_main, k_holder),
              looked_at(k_holder, MapState::viewable, 96, 96), mapped(k_holder, false),
              mapped(k_holder)},
             {k_main},
             false,
             k_whole,
             {}},
        // Found unmapped by the look at it: a visibility event from before does not count.
        Case{"holderFoundUnmapped",
             {mapped(k_main), reparented(k_main, k_holder),
              looked_at(k_holder, MapState::unmapped, 96, 96), obscured(k_main, false)},
             {},
             false,
             std::nullopt,
             {}},
        // Inside an unmapped ancestor, whose mapping only the window's visibility tells.
        Case{"ancestorFoundUnmapped",
             {mapped(k_main), reparented(k_main, k_holder),
              looked_at(k_holder, MapState::unviewable, 96, 96)},
             {},
             false,
             std::nullopt,
             {}},
        Case{"ancestorMappedAgain",
             {mapped(k_main), reparented(k_main, k_holder),
              looked_at(k_holder, MapState::unviewable, 96, 96), obscured(k_main, false)},
             {k_main},
             false,
             k_whole,
             {}},
        // Shown smaller for a second: resized by its holder, or clipped by a tile smaller than
        // the window. A holder that settles sooner is not told about.
        Case{"resizedTo64",
             {mapped(k_main), configured(k_main, 0, 0, 64, 64), later()},
             {k_main},
             false,
             Extent{64, 64},
             {{64, 64}}},
        Case{"centredInSmallTile",
             {reparented(k_icon, k_holder, -16, -16),
              looked_at(k_holder, MapState::viewable, 64, 64), mapped(k_icon), later()},
             {k_icon},
             true,
             Extent{64, 64},
             {{64, 64}}},
        Case{"tileGrowsToFit",
             {reparented(k_icon, k_holder, -16, -16),
              looked_at(k_holder, MapState::viewable, 64, 64), mapped(k_icon), later(80),
              configured(k_icon, 0, 0, 96, 96), configured(k_holder, 0, 0, 96, 96), later()},
             {k_icon},
             true,
             k_whole,
             {}},
        Case{"settlingStartsAgainOnChange",
             {mapped(k_main), configured(k_main, 0, 0, 64, 64), later(600),
              configured(k_main, 0, 0, 64, 48), later(600), later(400)},
             {k_main},
             false,
             Extent{64, 48},
             {{64, 48}}},
        Case{"toldOncePerChange",
             {mapped(k_main), configured(k_main, 0, 0, 64, 64), later(), obscured(k_main, true),
              later(), obscured(k_main, false), later(), configured(k_main, 0, 0, 64, 48), later(),
              configured(k_main, 0, 0, 96, 96), later(), configured(k_main, 0, 0, 64, 48), later()},
             {k_main},
             false,
             Extent{64, 48},
             {{64, 64}, {64, 48}, {64, 48}}},
        Case{"hiddenSmallWindowNotTold",
             {configured(k_main, 0, 0, 64, 64), later()},
             {},
             false,
             std::nullopt,
             {}},
        Case{"largerWindowShowsWhole",
             {mapped(k_main), configured(k_main, 0, 0, 100, 100), later()},
             {k_main},
             false,
             k_whole,
             {}},
        Case{"borderInsideHolder",
             {mapped(k_main), reparented(k_main, k_holder),
              looked_at(k_holder, MapState::viewable, 100, 100),
              configured(k_main, 0, 0, 96, 96, 6), later()},
             {k_main},
             false,
             Extent{94, 94},
             {{94, 94}}},
        Case{"rootDoesNotClip",
             {mapped(k_main), configured(k_main, -50, -50, 96, 96), later()},
             {k_main},
             false,
             k_whole,
             {}},
        Case{"bestOfBothCounts",
             {mapped(k_main), configured(k_main, 0, 0, 64, 64), later(), mapped(k_icon), later()},
             {k_main, k_icon},
             false,
             k_whole,
             {{64, 64}}}),
    [](const ::testing::TestParamInfo<Case>& p) { return std::string(p.param.name); });

} // namespace
} // namespace glyphrain
