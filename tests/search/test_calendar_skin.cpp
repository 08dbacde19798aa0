// The calendar under the mouse on the project's own skin: a held time
// step repeats on the 33 ms tick and ends with the release, a slot dragged
// along the bar lands where it is let go and leaves no hold behind, and a
// held day moves the grid when released.
#include "SearchFixture.h"
#include <gtest/gtest.h>
#include <cstdio>
#include <cstring>

namespace {

class CalendarSkin : public SearchTest {
protected:
    void SetUp() override
    {
        SearchTest::SetUp();
        memset(gSkinFolder, 0, sizeof gSkinFolder);
        snprintf(gSkinFolder, sizeof gSkinFolder, "%s", TAVLIN_WINROOT "\\system32");
        ASSERT_EQ(Yuv2_LoadSkin(0, 3, 0, "TavlinKeyForm_02030157.YUV2"), 0) << gSkinLastRefusal;
        // The Playback page with its calendar.
        IE_Page2 = KEY_PAGE_PLAYBACK;
        for (int i = 0; i < 4; ++i) IE_Page[i] = i == 1;
        gPrevPage = KEY_PAGE_PLAYBACK;
        Show(Rt(2024, 3, 14, 10, 0, 0));
        Compose();
    }
    void Show(uint32_t t)
    {
        gCalendarTime = t;
        Mon_Time = (int32_t)t;
        Month_BuildGrid(t);
    }
    void Compose()
    {
        ASSERT_EQ(Yuv2_Compose(gSkins[0].name, gSkins[0].first, gSkins[0].count, gSkins[0].largest, 0), 0);
    }
    // The centre of item p of the shown button of `items` items whose
    // source or target is key.
    void Centre(const char* key, int items, int p, int* x, int* y)
    {
        *x = *y = -1;
        for (uint32_t e = 0; e < gSkins[0].count; ++e) {
            const TSkinElement& el = gSkinElements[e];
            if (!el.lit || !el.refLit || el.minLevel == 0 || el.columns < 1 || el.itemCount != items) continue;
            if (strcmp(el.target, key) != 0 && strcmp(el.source, key) != 0) continue;
            TSkinRect r;
            ASSERT_EQ(Yuv2_ItemRect((int32_t)e, p, &r), 0);
            *x = (r.left + r.right) / 2;
            *y = (r.top + r.bottom) / 2;
            return;
        }
        FAIL() << "no shown element for " << key;
    }
};

TEST_F(CalendarSkin, AHeldHourStepRepeatsUntilReleased)
{
    int x, y;
    Centre("Mon_Add#SD", 3, 0, &x, &y); // the hour's up arrow
    Yuv2_PanelMouseDown(x, y);
    EXPECT_EQ(gCalendarTime, Rt(2024, 3, 14, 11));
    EXPECT_EQ(gHoldCode, HOLD_REPEAT);
    std::vector<uint32_t> hours;
    for (int tick = 1; tick <= 14; ++tick) {
        Yuv2_RepeatTick();
        hours.push_back(gCalendarTime % 86400 / 3600);
    }
    // Ten ticks of delay, one to start, then an hour a tick.
    EXPECT_EQ(hours, (std::vector<uint32_t>{11, 11, 11, 11, 11, 11, 11, 11, 11, 11, 11, 12, 13, 14}));
    EXPECT_EQ(Mon_h, 14);
    Yuv2_PanelMouseUp(x, y);
    EXPECT_EQ(gHoldCode, 0);
    EXPECT_EQ(gPanelLevel, PANEL_LEVEL_NORMAL);
    for (int tick = 0; tick < 20; ++tick) Yuv2_RepeatTick();
    EXPECT_EQ(gCalendarTime, Rt(2024, 3, 14, 14));
    // The seconds' down arrow from 00: round the clock within the day.
    Centre("Mon_Sub#SD", 3, 2, &x, &y);
    Yuv2_PanelMouseDown(x, y);
    Yuv2_PanelMouseUp(x, y);
    EXPECT_EQ(gCalendarTime, Rt(2024, 3, 14, 13, 59, 59));
}

TEST_F(CalendarSkin, ASlotDraggedAlongTheBarLandsWhereReleased)
{
    int x5, y5, x10, y10;
    Centre("IE_Data#ADN", 48, 4, &x5, &y5);   // slot 5: 02:00
    Centre("IE_Data#ADN", 48, 9, &x10, &y10); // slot 10: 04:30
    Yuv2_PanelMouseDown(x5, y5);
    EXPECT_EQ(gCalendarTime, Rt(2024, 3, 14, 2));
    EXPECT_EQ(gHoldCode, HOLD_SLOT);
    Yuv2_PanelMouseMove(x10, y10);
    EXPECT_EQ(gCalendarTime, Rt(2024, 3, 14, 4, 30));
    Yuv2_PanelMouseUp(x10, y10);
    EXPECT_EQ(gCalendarTime, Rt(2024, 3, 14, 4, 30));
    EXPECT_EQ(gHoldCode, 0);
    EXPECT_EQ(IE_ST3, 0);
    // The next press is a press, not the slot's drag: moving over the bar
    // with the button down on a day changes no time.
    Compose();
    int dx, dy;
    Centre("Mon_Data#AD", 42, 20, &dx, &dy); // cell 20: 2024-03-16
    Yuv2_PanelMouseDown(dx, dy);
    EXPECT_EQ(gHoldCode, HOLD_DAY);
    Yuv2_PanelMouseMove(x5, y5);
    EXPECT_EQ(gCalendarTime % 86400, 4u * 3600u + 1800u);
    Yuv2_PanelMouseUp(dx, dy);
    EXPECT_EQ((uint32_t)Mon_Time, Rt(2024, 3, 16, 4, 30));
    EXPECT_EQ(gHoldCode, 0);
    EXPECT_EQ(gPanelLevel, PANEL_LEVEL_NORMAL);
    EXPECT_EQ(Mon_Data[20], DAY_SELECTED);
}

TEST_F(CalendarSkin, MonthArrowsTurnTheGrid)
{
    int x, y;
    Centre("Mon_Add#SD", 1, 0, &x, &y); // the month's next arrow
    for (int i = 0; i < 10; ++i) {
        Yuv2_PanelMouseDown(x, y);
        Yuv2_PanelMouseUp(x, y);
    }
    EXPECT_EQ(Mon_Y, 2025);
    EXPECT_EQ(Mon_M, 1);
    EXPECT_EQ(gCalendarTime, Rt(2025, 1, 1, 10));
    EXPECT_EQ(gHoldCode, 0);
}

} // namespace
