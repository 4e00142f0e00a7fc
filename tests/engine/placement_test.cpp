#include "dialog/placement.h"

#include <gtest/gtest.h>

namespace pathlift {
namespace {

TEST(DialogPlacement, CentredOnTheDesktopTruncatingTowardZero) {
    struct Row {
        int width, height;
        WindowOrigin expected;
    };
    const Row rows[] = {
        {1024, 768, {294, 231}}, {1280, 1024, {422, 359}}, {1920, 1080, {742, 387}}, {435, 306, {0, 0}},
        {436, 307, {0, 0}},      {400, 300, {-17, -3}},    {434, 305, {0, 0}},       {0, 0, {-217, -153}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.width << " x " << row.height);
        const WindowOrigin origin = CentredOrigin(row.width, row.height);
        EXPECT_EQ(origin.x, row.expected.x);
        EXPECT_EQ(origin.y, row.expected.y);
    }
}

} // namespace
} // namespace pathlift
