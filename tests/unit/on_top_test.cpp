#include "fake_os.h"
#include "ui/clsOnTop.h"

#include <gtest/gtest.h>

namespace {

TEST(OnTop, EachOperationIsOneSetWindowPosKeepingPlaceAndSize)
{
    struct Case {
        void (ui::clsOnTop::*operation)(const platform::WindowHandle&);
        platform::WindowHandle insertAfter;
    };
    for (const Case& c : {Case{&ui::clsOnTop::MakeTopMost, -1}, Case{&ui::clsOnTop::MakeNormal, -2}}) {
        fake::Os os;
        ui::clsOnTop onTop(os);
        const platform::WindowHandle window = 0x5150;
        (onTop.*c.operation)(window);
        ASSERT_EQ(os.windowPos.size(), 1u);
        EXPECT_EQ(os.windowPos[0], (fake::WindowPosCall{0x5150, c.insertAfter, 0, 0, 0, 0, 3}));
    }
}

TEST(OnTop, AStaleHandleIsNoError)
{
    fake::Os os;
    ui::clsOnTop onTop(os);
    EXPECT_NO_THROW(onTop.MakeTopMost(0));
    EXPECT_NO_THROW(onTop.MakeNormal(0));
    EXPECT_TRUE(os.messages.empty());
}

} // namespace
