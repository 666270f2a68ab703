// SPDX-License-Identifier: MIT
// --write-config and --configure through the built binary: targets, the overwrite question, the
// wizard on a pipe, and what is left on disk after success, refusal and failure.
#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "config/config_writer.hpp"
#include "support/process_runner.hpp"
#include "support/temp_dir.hpp"
#include "support/wizard_session.hpp"
#include "system/error.hpp"

namespace glyphrain {
namespace {

namespace fs = std::filesystem;

using test::k_default_transcript;
using test::k_empty_answers;

/// Each test gets a fresh HOME (also the working directory), no XDG_CONFIG_HOME, and a PATH whose
/// fc-match answers test::k_suggested_font for any monospace font.
class SaveModeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string script = m_bin.file("fc-match");
        const std::string answer = "printf '  " + test::k_suggested_font + "\\n'";
        test::write_file(script,
                         "#!/bin/sh\n[ \"$3\" = monospace ] && " + answer + " && exit 0\nexit 1\n");
        ::chmod(script.c_str(), 0755);
    }

    test::ProcessOptions options(std::vector<std::string> args,
                                 std::optional<std::string> input = std::nullopt) const {
        return {.args = std::move(args),
                .env = {{"HOME", m_home.path()},
                        {"XDG_CONFIG_HOME", std::nullopt},
                        {"PATH", m_bin.path() + ":/usr/bin:/bin"}},
                .input = std::move(input),
                .cwd = m_home.path(),
                .timeout_ms = 20000};
    }

    test::ProcessResult run(std::vector<std::string> args,
                            std::optional<std::string> input = std::nullopt) const {
        test::ProcessResult r =
            test::run_process(test::glyphrain_binary(), options(std::move(args), std::move(input)));
        EXPECT_FALSE(r.timed_out);
        EXPECT_EQ(r.out, "");
        return r;
    }

    std::string config_dir() const { return m_home.file(".config/glyphRain"); }
    std::string config_file() const { return m_home.file(".config/glyphRain/config"); }
    void make_config(const std::string& content) const {
        fs::create_directories(config_dir());
        test::write_file(config_file(), content);
    }

    test::TempDir m_home;
    test::TempDir m_bin;
};

TEST_F(SaveModeTest, WriteConfigAloneWritesTheDefaultFileCreatingDirectories) {
    auto r = run({"--write-config"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Config written to " + config_file() + "\n");
    EXPECT_EQ(test::read_file(config_file()), render_config(Settings{}));
    EXPECT_EQ(test::read_file(config_file()).size(), 1275u);
}

struct TargetCase {
    std::string name;
    std::vector<std::string> args;
    std::string target; // relative to HOME
    std::string err;    // {} stands for the target as given
    std::string line;   // an active line the written file must contain, or ""
    friend void PrintTo(const TargetCase& c, std::ostream* os) { *os << c.name; }
};

class SaveTargetTest : public SaveModeTest, public ::testing::WithParamInterface<TargetCase> {};

TEST_P(SaveTargetTest, WritesToTheChosenTarget) {
    const TargetCase& c = GetParam();
    auto r = run(c.args);
    std::string expected_err = c.err;
    if (auto at = expected_err.find("{}"); at != std::string::npos)
        expected_err.replace(at, 2, c.target.starts_with(".config") ? config_file() : c.target);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, expected_err);
    std::string written = test::read_file(m_home.file(c.target));
    EXPECT_TRUE(written.starts_with("# glyphRain configuration\n")) << written;
    if (!c.line.empty()) {
        EXPECT_NE(written.find("\n" + c.line + "\n"), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, SaveTargetTest,
    ::testing::Values(
        TargetCase{
            "path", {"--write-config", "out.conf"}, "out.conf", "Config written to {}\n", ""},
        TargetCase{"single_character",
                   {"--write-config", "x", "--size", "128"},
                   "x",
                   "Config written to {}\n",
                   "size = 128"},
        TargetCase{"option_after",
                   {"--write-config", "--size", "200"},
                   ".config/glyphRain/config",
                   "Config written to {}\n",
                   "size = 200"},
        TargetCase{"first_occurrence",
                   {"--write-config", "a", "--write-config", "b"},
                   "a",
                   "Config written to {}\n",
                   ""}),
    [](const ::testing::TestParamInfo<TargetCase>& param) { return param.param.name; });

TEST_F(SaveModeTest, ConfigOptionTargetKeepsFileValuesAndAddsTheTheme) {
    test::write_file(m_home.file("a.conf"), "speed = 20\n");
    auto r = run({"--config", "a.conf", "--write-config", "--theme", "zenburn"}, "y\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err,
              "Config already exists at a.conf. Overwrite? [y/N] Config written to a.conf\n");
    Settings expected;
    expected.speed = 20;
    expected.theme = "zenburn";
    expected.color = k_zenburn_color;
    expected.trail_color = k_zenburn_trail_color;
    EXPECT_EQ(test::read_file(m_home.file("a.conf")), render_config(expected));
}

TEST_F(SaveModeTest, EmptyArgumentIsTakenAsThePathAndFails) {
    auto r = run({"--write-config", ""});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error: " + os_error_text(ENOENT) + "\n");
    EXPECT_FALSE(test::file_exists(m_home.file(".config")));
}

TEST_F(SaveModeTest, PathsThatAreNotUtf8AreShownWithReplacementCharacters) {
    auto r = run({"--write-config", "\xff.conf"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Config written to \xEF\xBF\xBD.conf\n");
    EXPECT_TRUE(test::file_exists(m_home.file("\xff.conf")));
}

struct OverwriteCase {
    std::string name;
    std::optional<std::string> input;
    bool overwrites;
    friend void PrintTo(const OverwriteCase& c, std::ostream* os) { *os << c.name; }
};

class OverwriteTest : public SaveModeTest, public ::testing::WithParamInterface<OverwriteCase> {};

TEST_P(OverwriteTest, ReplacesOnlyAfterAYes) {
    make_config("size = 512\n");
    auto r = run({"--write-config", "--quiet"}, GetParam().input);
    const std::string question =
        "Config already exists at " + config_file() + ". Overwrite? [y/N] ";
    EXPECT_EQ(r.status, 0);
    Settings quiet;
    quiet.size = 512;
    quiet.quiet = true;
    if (GetParam().overwrites) {
        EXPECT_EQ(r.err, question + "Config written to " + config_file() + "\n");
        EXPECT_EQ(test::read_file(config_file()), render_config(quiet));
    } else {
        EXPECT_EQ(r.err, question + "Aborted.\n");
        EXPECT_EQ(test::read_file(config_file()), "size = 512\n");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, OverwriteTest,
    ::testing::Values(OverwriteCase{"y", "y\n", true}, OverwriteCase{"Y", "Y\n", true},
                      OverwriteCase{"yes", "yes\n", true}, OverwriteCase{"YES", "YES\n", true},
                      OverwriteCase{"padded", "  y\t\r\n", true},
                      OverwriteCase{"no_line_feed", "yes", true},
                      OverwriteCase{"Yes", "Yes\n", false}, OverwriteCase{"no", "no\n", false},
                      OverwriteCase{"empty", "\n", false},
                      OverwriteCase{"closed", std::nullopt, false},
                      OverwriteCase{"second_line", "\ny\n", false}),
    [](const ::testing::TestParamInfo<OverwriteCase>& param) { return param.param.name; });

TEST_F(SaveModeTest, FailedWriteKeepsTheOldFileWholeAndLeavesNoTemporaryFile) {
    make_config("size = 512\n");
    // With a zero file size limit (its signal ignored) every write fails with EFBIG.
    auto opts = options({"-c", "trap '' XFSZ; ulimit -f 0; exec \"$0\" \"$@\"",
                         test::glyphrain_binary(), "--write-config"},
                        "y\n");
    auto r = test::run_process("sh", opts);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Config already exists at " + config_file() +
                         ". Overwrite? [y/N] Error: " + os_error_text(EFBIG) + "\n");
    EXPECT_EQ(test::read_file(config_file()), "size = 512\n");
    EXPECT_EQ(test::directory_entries(config_dir()), std::vector<std::string>{"config"});
}

TEST_F(SaveModeTest, RefusesAValueWithALineBreakAndWritesNothing) {
    auto r = run({"--theme", "x\nleft_click = rm -rf ~", "--write-config"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error: \"Refusing to write theme: the value contains a line break\"\n");
    EXPECT_FALSE(test::file_exists(m_home.file(".config")));
}

TEST_F(SaveModeTest, NoConfigPathStopsWithTheMessage) {
    auto opts = options({"--write-config"});
    opts.env["HOME"] = std::nullopt;
    auto r = test::run_process(test::glyphrain_binary(), opts);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Cannot determine config path (HOME not set)\n");

    // The wizard asks everything first; the target is chosen only afterwards.
    opts.args = {"--configure"};
    opts.input = k_empty_answers;
    r = test::run_process(test::glyphrain_binary(), opts);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, k_default_transcript + "Cannot determine config path (HOME not set)\n");

    // An explicit target needs no configuration path.
    opts.args = {"--write-config", "x.conf"};
    r = test::run_process(test::glyphrain_binary(), opts);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Config written to x.conf\n");
    EXPECT_EQ(test::directory_entries(m_home.path()), std::vector<std::string>{"x.conf"});
}

TEST_F(SaveModeTest, WizardWithEmptyAnswersWritesTheDefaultFile) {
    auto r = run({"--configure"}, k_empty_answers);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, k_default_transcript + "Config written to " + config_file() + "\n");
    EXPECT_EQ(test::read_file(config_file()), render_config(Settings{}));
}

TEST_F(SaveModeTest, WizardRunsBeforeSavingToTheWriteConfigTarget) {
    auto r =
        run({"--configure", "--write-config", "x.conf"}, "128\n\n\n/f.ttf\n\n\nxterm\n\n\ny\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.err.ends_with("Config written to x.conf\n")) << r.err;
    Settings expected;
    expected.size = 128;
    expected.font = "/f.ttf";
    expected.left_click = "xterm";
    expected.background = true;
    EXPECT_EQ(test::read_file(m_home.file("x.conf")), render_config(expected));
    EXPECT_FALSE(test::file_exists(m_home.file(".config")));
}

TEST_F(SaveModeTest, WizardKeepsZenburnColoursFromTheCommandLine) {
    auto r = run({"--configure", "--theme", "zenburn"}, k_empty_answers);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("Head color R,G,B [220, 193, 153]: Trail color R,G,B [180, 158, 125]: "),
              std::string::npos);
    std::string written = test::read_file(config_file());
    for (const char* line :
         {"\ntheme = zenburn\n", "\ncolor = 220, 193, 153\n", "\ntrail_color = 180, 158, 125\n"})
        EXPECT_NE(written.find(line), std::string::npos) << line;
}

TEST_F(SaveModeTest, WizardWithInputClosedEarlyAbortsOverAnExistingFile) {
    make_config("size = 512\n");
    auto r = run({"--configure"}, "200\n");
    EXPECT_EQ(r.status, 0);
    std::string transcript = k_default_transcript;
    transcript.replace(transcript.find("[96]"), 4, "[512]");
    EXPECT_EQ(r.err, transcript + "Config already exists at " + config_file() +
                         ". Overwrite? [y/N] Aborted.\n");
    EXPECT_EQ(test::read_file(config_file()), "size = 512\n");
}

} // namespace
} // namespace glyphrain
