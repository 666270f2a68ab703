// SPDX-License-Identifier: MIT
// The --configure dialogue: one question per setting on standard error, answers read line by line;
// an unusable answer keeps the value and the dialogue moves on.
#include "config/wizard.hpp"

#include <iostream>
#include <utility>

#include <fmt/core.h>

#include "config/prompt.hpp"
#include "system/print.hpp"
#include "system/text.hpp"

namespace glyphrain {
namespace {

/// An empty or non-numeric answer keeps value silently; a number out of range keeps it with
/// complaint followed by the kept value.
template <typename Number, typename Parse>
void ask_number(std::istream& in, const std::string& prompt, Parse parse, Number min, Number max,
                std::string_view complaint, Number& value) {
    std::string answer = prompt_line(prompt, in);
    if (answer.empty()) return;
    std::optional<Number> number = parse(answer);
    if (!number) return;
    if (*number >= min && *number <= max)
        value = *number;
    else
        print_stderr("{}{}\n", complaint, value);
}

void ask_rgb(std::istream& in, std::string_view label, Rgb& value) {
    std::string answer =
        prompt_line(fmt::format("{} R,G,B [{}, {}, {}]: ", label, value.r, value.g, value.b), in);
    if (answer.empty()) return;
    if (std::optional<Rgb> rgb = parse_rgb(answer))
        value = *rgb;
    else
        print_stderr("  Invalid color, keeping current\n");
}

/// " [value]" for a value that is set, nothing otherwise; the value is only shown, so bytes that
/// are not UTF-8 may be replaced.
std::string current_hint(const std::optional<std::string>& value) {
    return value ? fmt::format(" [{}]", decode_utf8_lossy(*value)) : std::string();
}

/// A non-empty answer replaces the text as typed; there is no way to clear it here.
void ask_text(std::istream& in, std::string_view label, std::string_view hint,
              std::optional<std::string>& value) {
    std::string answer = prompt_line(fmt::format("{}{}: ", label, hint), in);
    if (!answer.empty()) value = std::move(answer);
}

} // namespace

Settings run_wizard(Settings settings, const std::optional<std::string>& font_suggestion) {
    return run_wizard(std::move(settings), font_suggestion, std::cin);
}

Settings run_wizard(Settings s, const std::optional<std::string>& font_suggestion,
                    std::istream& in) {
    print_stderr("glyphRain: interactive configuration\n\n");
    ask_number(in, fmt::format("Window size (96-1024) [{}]: ", s.size), parse_u64, k_min_size,
               k_max_size, "  Invalid size, keeping ", s.size);
    ask_number(in, fmt::format("Frame interval in ms (10-1000) [{}]: ", s.speed), parse_u64,
               k_min_speed, k_max_speed, "  Out of range, keeping ", s.speed);
    ask_number(in, fmt::format("Column density %% (1-100) [{}]: ", s.density), parse_u32,
               k_min_density, k_max_density, "  Out of range, keeping ", s.density);

    // The suggestion is only shown: an unset font stays unset so discovery runs at every start.
    std::string font_hint = current_hint(s.font);
    if (!s.font && font_suggestion) font_hint = fmt::format(" [auto: {}]", *font_suggestion);
    ask_text(in, "Font path (Enter for auto-detect)", font_hint, s.font);

    ask_rgb(in, "Head color", s.color);
    ask_rgb(in, "Trail color", s.trail_color);
    ask_text(in, "Left click command", current_hint(s.left_click), s.left_click);
    ask_text(in, "Middle click command", current_hint(s.middle_click), s.middle_click);
    ask_text(in, "Right click command", current_hint(s.right_click), s.right_click);

    std::string answer =
        prompt_line(fmt::format("Run in the background? [{}]: ", s.background ? "Y/n" : "y/N"), in);
    if (!answer.empty()) s.background = ask_yes(answer);
    return s;
}

} // namespace glyphrain
