// SPDX-License-Identifier: MIT
// Line prompts shared by the overwrite question of save mode and the --configure dialogue.
#include "config/prompt.hpp"

#include <iostream>

#include "system/print.hpp"
#include "system/text.hpp"

namespace glyphrain {

std::string prompt_line(std::string_view prompt) {
    return prompt_line(prompt, std::cin);
}

std::string prompt_line(std::string_view prompt, std::istream& in) {
    print_stderr("{}", prompt);
    std::string line;
    bool too_long = false;
    char c = 0;
    // The stream keeps its end-of-input state, so once input is exhausted every later question
    // is answered empty at once. An over-long line is still consumed to its end.
    while (in.get(c) && c != '\n') {
        if (line.size() < k_max_answer_bytes)
            line += c;
        else
            too_long = true;
    }
    if (in.bad() || too_long || !is_valid_utf8(line)) return {};
    return std::string(trim_white_space(line));
}

bool ask_yes(std::string_view answer) noexcept {
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "YES";
}

} // namespace glyphrain
