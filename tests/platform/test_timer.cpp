// Timers, component ownership and the replaceable clocks.
#include "platform/vcl/Vcl.h"
#include "platform/win/Win.h"
#include "tests/support/Wait.h"
#include <gtest/gtest.h>

namespace {

TEST(Timer, FiresWhileEnabledAndRestartsFromHandler)
{
    TTimer t(nullptr);
    t.SetEnabled(false);
    t.SetInterval(10);
    int ticks = 0;
    t.OnTimer = [&](TObject* sender) {
        EXPECT_EQ(sender, &t);
        // The main loop's pattern: off on entry, on again at the end.
        t.SetEnabled(false);
        ticks++;
        t.SetEnabled(true);
    };
    Application_ProcessMessagesFor(50);
    EXPECT_EQ(ticks, 0);
    t.SetEnabled(true);
    EXPECT_TRUE(Application_ProcessMessagesUntil([&] { return ticks >= 3; }, kWaitLimitMs));
    t.SetEnabled(false);
    int at = ticks;
    Application_ProcessMessagesFor(50);
    EXPECT_EQ(ticks, at);
}

TEST(Component, OwnerFreesItsComponents)
{
    struct Probe : TComponent {
        int* flag;
        Probe(TComponent* o, int* f) : TComponent(o), flag(f) {}
        ~Probe() override { (*flag)++; }
    };
    int freed = 0;
    auto* owner = new TComponent(nullptr);
    new Probe(owner, &freed);
    auto* early = new Probe(owner, &freed);
    delete early; // leaves its owner's list
    EXPECT_EQ(freed, 1);
    new TTimer(owner);
    delete owner;
    EXPECT_EQ(freed, 2);
}

uint32_t FixedTick() { return 123456; }
int64_t FixedTime() { return 0x5F000000; }

TEST(Clocks, CanBeReplaced)
{
    Win_SetTickSource(FixedTick);
    Win_SetTimeSource(FixedTime);
    EXPECT_EQ(GetTickCount(), 123456u);
    EXPECT_EQ(Win_TimeNow(), 0x5F000000);
    Win_SetTickSource(nullptr);
    Win_SetTimeSource(nullptr);
    uint32_t a = GetTickCount();
    Sleep(5);
    EXPECT_GE(GetTickCount() - a, 4u);
    EXPECT_GT(Win_TimeNow(), 1700000000);
}

} // namespace
