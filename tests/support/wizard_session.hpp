// SPDX-License-Identifier: MIT
// The wizard session that both its own tests and save mode's tests script: the suggested font,
// the empty answers and what the wizard prints for them.
#pragma once

#include <string>

namespace glyphrain::test {

/// The font the tests' fc-match suggests.
inline const std::string k_suggested_font = "/x/font.ttf";

/// An empty answer to each of the wizard's ten questions.
inline const std::string k_empty_answers(10, '\n');

/// Everything the wizard prints for the default settings with k_suggested_font suggested.
inline const std::string k_default_transcript = "glyphRain: interactive configuration\n\n"
                                                "Window size (96-1024) [96]: "
                                                "Frame interval in ms (10-1000) [80]: "
                                                "Column density %% (1-100) [75]: "
                                                "Font path (Enter for auto-detect) [auto: " +
                                                k_suggested_font +
                                                "]: "
                                                "Head color R,G,B [180, 255, 180]: "
                                                "Trail color R,G,B [0, 200, 0]: "
                                                "Left click command: "
                                                "Middle click command: "
                                                "Right click command: "
                                                "Run in the background? [y/N]: ";

} // namespace glyphrain::test
