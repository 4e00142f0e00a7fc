#include "dialog/placement.h"

#include <gtest/gtest.h>

namespace pathlift {
namespace {

TEST(DialogPlacement, AtLeastTheFixedSizeCentredOnTheWorkAreaAndKeptInsideIt) {
    struct Row {
        ScreenArea area;
        int templateWidth, templateHeight; // as the dialog manager sized the template, at 96 DPI
        WindowSize size;
        WindowOrigin origin;
    };
    const Row rows[] = {
        // One monitor without a docked bar: centred on the desktop, truncating toward zero.
        {{0, 0, 1024, 768}, 364, 259, {435, 306}, {294, 231}},
        {{0, 0, 1280, 1024}, 435, 306, {435, 306}, {422, 359}},
        {{0, 0, 1920, 1080}, 0, 0, {435, 306}, {742, 387}},
        {{0, 0, 435, 306}, 300, 200, {435, 306}, {0, 0}},
        {{0, 0, 436, 307}, 364, 216, {435, 306}, {0, 0}},
        {{0, 0, 1024, 768}, 507, 306, {507, 306}, {258, 231}},
        {{0, 0, 1024, 768}, 435, 371, {435, 371}, {294, 198}},
        {{0, 0, 1024, 768}, 650, 553, {650, 553}, {187, 107}},
        {{0, 0, 1024, 768}, 436, 307, {436, 307}, {294, 230}},
        // A taskbar along the bottom, the left and the top edge.
        {{0, 0, 1920, 1040}, 364, 259, {435, 306}, {742, 367}},
        {{62, 0, 1920, 1080}, 364, 259, {435, 306}, {773, 387}},
        {{0, 48, 1920, 1080}, 364, 259, {435, 306}, {742, 411}},
        // A second monitor right of the first, and one left of and above it (negative coordinates).
        {{1920, 0, 3840, 1040}, 364, 259, {435, 306}, {2662, 367}},
        {{-1280, -200, 0, 824}, 364, 259, {435, 306}, {-858, 159}},
        // Larger than the work area: the top left corner is the area's, the caption stays on the monitor.
        {{0, 0, 400, 300}, 364, 259, {435, 306}, {0, 0}},
        {{0, 0, 800, 600}, 864, 692, {864, 692}, {0, 0}},
        {{1920, 40, 2720, 640}, 864, 692, {864, 692}, {1920, 40}},
        {{0, 0, 0, 0}, 364, 259, {435, 306}, {0, 0}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message()
                     << "area " << row.area.left << "," << row.area.top << " to " << row.area.right << ","
                     << row.area.bottom << ", template " << row.templateWidth << " x " << row.templateHeight);
        const WindowSize size = CopyDialogSize(row.templateWidth, row.templateHeight, 96);
        EXPECT_EQ(size, row.size);
        EXPECT_EQ(CentredInArea(row.area, size), row.origin);
    }
}

// The minimum scales with the window's DPI, rounded as MulDiv rounds; a template laid out at one DPI is scaled to
// another the same way before the rule is applied.
TEST(DialogPlacement, TheMinimumAndTheTemplateScaleWithTheDpi) {
    struct Row {
        int dpi;
        WindowSize laid; // the template at 96 DPI
        WindowSize size;
    };
    const Row rows[] = {
        {96, {364, 259}, {435, 306}},  {120, {364, 259}, {544, 383}},   {144, {364, 259}, {653, 459}},
        {192, {364, 259}, {870, 612}}, {192, {507, 371}, {1014, 742}},  {168, {507, 306}, {887, 536}},
        {72, {364, 259}, {326, 230}},  {288, {300, 400}, {1305, 1200}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message()
                     << row.dpi << " dpi, template " << row.laid.width << " x " << row.laid.height);
        const WindowSize scaled = ScaledSize(row.laid, 96, row.dpi);
        EXPECT_EQ(CopyDialogSize(scaled.width, scaled.height, row.dpi), row.size);
    }
    EXPECT_EQ(ScaledSize({1014, 742}, 192, 96), (WindowSize{507, 371})) << "and back";
    EXPECT_EQ(ScaledSize({435, 306}, 0, 96), (WindowSize{435, 306})) << "no DPI known: unchanged";
}

} // namespace
} // namespace pathlift
