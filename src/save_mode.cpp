// Save mode: derive the settings, run the wizard when asked, and write the annotated file.
#include "save_mode.hpp"

#include "system/error.hpp"

namespace glyphrain {

int run_save_mode(const ArgList&) {
    throw AppError("Save mode is not available yet");
}

} // namespace glyphrain
