// SPDX-License-Identifier: MIT
#include "config/config_path.hpp"

#include <cstdlib>

#include <gtest/gtest.h>

namespace glyphrain {
namespace {

struct PathCase {
    std::string name;
    std::optional<std::string> named;
    std::optional<std::string> xdg;
    std::optional<std::string> home;
    std::optional<std::string> expected;
};

class ConfigPathTest : public ::testing::TestWithParam<PathCase> {
  protected:
    void SetUp() override {
        save("XDG_CONFIG_HOME", m_xdg);
        save("HOME", m_home);
    }
    void TearDown() override {
        restore("XDG_CONFIG_HOME", m_xdg);
        restore("HOME", m_home);
    }
    static void set(const char* name, const std::optional<std::string>& value) {
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }

  private:
    static void save(const char* name, std::optional<std::string>& slot) {
        if (const char* v = std::getenv(name)) slot = v;
    }
    static void restore(const char* name, const std::optional<std::string>& slot) {
        set(name, slot);
    }
    std::optional<std::string> m_xdg, m_home;
};

TEST_P(ConfigPathTest, ResolvesFromArgumentsThenEnvironment) {
    const auto& c = GetParam();
    set("XDG_CONFIG_HOME", c.xdg);
    set("HOME", c.home);
    EXPECT_EQ(config_path(c.named), c.expected);
}

const std::optional<std::string> k_none;

INSTANTIATE_TEST_SUITE_P(
    Cases, ConfigPathTest,
    ::testing::Values(
        PathCase{"xdg", k_none, "/x", "/h", "/x/glyphRain/config"},
        PathCase{"xdg_trailing_slash", k_none, "/x/", "/h", "/x/glyphRain/config"},
        PathCase{"xdg_empty_is_unset", k_none, "", "/h", "/h/.config/glyphRain/config"},
        PathCase{"xdg_not_utf8", k_none, "/\xFF", "/h", "/h/.config/glyphRain/config"},
        PathCase{"home", k_none, std::nullopt, "/home/u", "/home/u/.config/glyphRain/config"},
        PathCase{"home_slash", k_none, std::nullopt, "/", "/.config/glyphRain/config"},
        PathCase{"home_empty", k_none, std::nullopt, "", ".config/glyphRain/config"},
        PathCase{"home_not_utf8", k_none, std::nullopt, "/\xFF", std::nullopt},
        PathCase{"nothing", k_none, std::nullopt, std::nullopt, std::nullopt},
        PathCase{"named", "/tmp/a.conf", "/x", "/h", "/tmp/a.conf"},
        PathCase{"named_relative", "a.conf", std::nullopt, std::nullopt, "a.conf"},
        PathCase{"named_empty_falls_back", "", "/x", "/h", "/x/glyphRain/config"}),
    [](const auto& p) { return p.param.name; });

} // namespace
} // namespace glyphrain
