// WCAG contrast, against figures worked out apart from the program from the WCAG 2 formula.
#include <gtest/gtest.h>

#include "app/switch_colours.h"

using app::Rgb;

TEST(SwitchColours, ContrastRatiosMatchTheWcagFormula) {
    const struct {
        Rgb a, b;
        double ratio;
    } cases[] = {
        {{0, 0, 0}, {255, 255, 255}, 21.0},    {{255, 255, 255}, {0, 0, 0}, 21.0},
        {{0, 128, 0}, {239, 239, 239}, 4.468}, {{0, 128, 0}, {240, 240, 240}, 4.508},
        {{0, 0, 0}, {53, 53, 53}, 1.712},      {{0, 128, 0}, {0, 128, 0}, 1.0},
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(app::contrastRatio(c.a, c.b), c.ratio, 0.001)
            << c.a.red << "," << c.a.green << "," << c.a.blue;
    }
}
