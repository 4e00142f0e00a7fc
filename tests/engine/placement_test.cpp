#include "dialog/placement.h"

#include <gtest/gtest.h>

namespace pathlift {
namespace {

TEST(DialogPlacement, AtLeastTheFixedSizeCentredOnTheDesktopTruncatingTowardZero) {
    struct Row {
        int desktopWidth, desktopHeight;
        int templateWidth, templateHeight; // as the dialog manager sized the template
        WindowSize size;
        WindowOrigin origin;
    };
    const Row rows[] = {
        {1024, 768, 364, 259, {435, 306}, {294, 231}}, {1280, 1024, 435, 306, {435, 306}, {422, 359}},
        {1920, 1080, 0, 0, {435, 306}, {742, 387}},    {435, 306, 300, 200, {435, 306}, {0, 0}},
        {436, 307, 364, 216, {435, 306}, {0, 0}},      {400, 300, 364, 259, {435, 306}, {-17, -3}},
        {434, 305, 435, 306, {435, 306}, {0, 0}},      {0, 0, 364, 259, {435, 306}, {-217, -153}},
        {1024, 768, 507, 306, {507, 306}, {258, 231}}, {1024, 768, 435, 371, {435, 371}, {294, 198}},
        {1024, 768, 650, 553, {650, 553}, {187, 107}}, {1024, 768, 864, 692, {864, 692}, {80, 38}},
        {800, 600, 864, 692, {864, 692}, {-32, -46}},  {1024, 768, 436, 307, {436, 307}, {294, 230}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << "desktop " << row.desktopWidth << " x " << row.desktopHeight
                                          << ", template " << row.templateWidth << " x " << row.templateHeight);
        const WindowSize size = CopyDialogSize(row.templateWidth, row.templateHeight);
        EXPECT_EQ(size.width, row.size.width);
        EXPECT_EQ(size.height, row.size.height);
        const WindowOrigin origin = CentredOrigin(row.desktopWidth, row.desktopHeight, size);
        EXPECT_EQ(origin.x, row.origin.x);
        EXPECT_EQ(origin.y, row.origin.y);
    }
}

} // namespace
} // namespace pathlift
