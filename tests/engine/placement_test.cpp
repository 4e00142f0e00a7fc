#include "dialog/placement.h"

#include <gtest/gtest.h>

namespace pathlift {
namespace {

TEST(DialogPlacement, AtLeastTheFixedSizeCentredOnTheWorkAreaAndKeptInsideIt) {
    struct Row {
        ScreenArea area;
        int templateWidth, templateHeight; // as the dialog manager sized the template
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
        const WindowSize size = CopyDialogSize(row.templateWidth, row.templateHeight);
        EXPECT_EQ(size, row.size);
        EXPECT_EQ(CentredInArea(row.area, size), row.origin);
    }
}

} // namespace
} // namespace pathlift
