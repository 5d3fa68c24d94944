#include "fv_gui/res/Resources.h"

#include <gtest/gtest.h>

TEST(ResourcesTest, UnknownIdGivesNullImages) {
    EXPECT_TRUE(fv::res::Bitmap(99999).isNull());
    EXPECT_TRUE(fv::res::Icon(99999).isNull());
}
