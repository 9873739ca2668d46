#include "app/LaunchOptions.h"

#include <optional>

#include <gtest/gtest.h>

namespace orvek::app {
namespace {

struct Row {
    const char* name;
    QStringList arguments;
    bool renderRequested;
    std::optional<LaunchOptions::Render> render;
    std::optional<int> width;
    std::optional<int> height;
};

TEST(LaunchOptions, ReadsTheRenderRequestAndItsSize) {
    using R = LaunchOptions::Render;
    const Row rows[] = {
        {"nothing", {}, false, std::nullopt, std::nullopt, std::nullopt},
        {"screen and file",
         {"--render", "ready", "out.png"},
         true,
         R{"ready", "out.png"},
         std::nullopt,
         std::nullopt},
        {"options anywhere",
         {"--width", "700", "-psn_0_1", "--render", "skills-busy", "/tmp/a.png"},
         true,
         R{"skills-busy", "/tmp/a.png"},
         700,
         std::nullopt},
        {"no file", {"--render", "ready"}, true, std::nullopt, std::nullopt, std::nullopt},
        {"nothing after", {"--render"}, true, std::nullopt, std::nullopt, std::nullopt},
        {"an option is no file name",
         {"--render", "ready", "--width", "700"},
         true,
         std::nullopt,
         700,
         std::nullopt},
        {"decimal sizes", {"--width", "700.4", "--height", "499.6"}, false, std::nullopt, 700, 500},
        {"incomplete numbers ignored",
         {"--width", "700px", "--height", " 500"},
         false,
         std::nullopt,
         std::nullopt,
         std::nullopt},
        {"signs and exponents ignored",
         {"--width", "-700", "--height", "5e2"},
         false,
         std::nullopt,
         std::nullopt,
         std::nullopt},
        {"zero ignored",
         {"--width", "0", "--height", "0.2"},
         false,
         std::nullopt,
         std::nullopt,
         std::nullopt},
        {"missing value", {"--height"}, false, std::nullopt, std::nullopt, std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto options = LaunchOptions::parse(row.arguments);
        EXPECT_EQ(options.renderRequested, row.renderRequested);
        ASSERT_EQ(options.render.has_value(), row.render.has_value());
        if (row.render) {
            EXPECT_EQ(options.render->screen, row.render->screen);
            EXPECT_EQ(options.render->output, row.render->output);
        }
        EXPECT_EQ(options.width, row.width);
        EXPECT_EQ(options.height, row.height);
    }
}

TEST(LaunchOptions, GivenSizesReplaceOnlyTheirOwnDefault) {
    const auto options = LaunchOptions::parse({"--width", "700"});
    EXPECT_EQ(options.sizeOr({600, 620}), QSize(700, 620));
}

} // namespace
} // namespace orvek::app
