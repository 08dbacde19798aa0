// Hit-testing and presses on the key panel: finds the element and sub-item
// under the pointer (the same geometry composition draws with), writes the
// pressed element's bound variables, hands presses and releases to the
// panel logic of the skin and repeats a held time step on the 33 ms tick.
// Owns gPressed, gMouseDown, gPanelLevel, the hold words and the repeat
// state.
#include "panel/Ie_com.h"
#include "panel/Month.h"
#include "panel/SkinVars.h"
#include "panel/Yuv2.h"
#include <cstdint>
#include <cstring>

THitResult gPressed = {-1, -1, 0, 0};
int32_t gMouseDown;
int32_t gPanelLevel = PANEL_LEVEL_NORMAL;
int32_t gHoldActive;
int32_t gRepeatState;
int32_t gRepeatCount;
int32_t gRepeatPos[2];
int32_t gHoldPos[2];
char gRepeatName[64];

static const char kPresetSkin[] = "Mouse_Preset.YUV2";
static const char kKeyFormAlias[] = "IE_KeyForm.YUV2";
static const char kMonthSkin[] = "Month_Iphone.YUV2";

static bool Letter(char c, char upper) { return c == upper || c == upper + ('a' - 'A'); }

static THitResult NoHit(int32_t first, int32_t end) { return THitResult{-1, -1, first, end}; }

// [first, end) of the registered skin called name, else of all elements.
static void SearchRange(const char* name, int32_t* first, int32_t* end)
{
    *first = 0;
    *end = (int32_t)(gSkinElementTotal < (uint32_t)SKIN_ELEMENT_ROOM ? gSkinElementTotal : (uint32_t)SKIN_ELEMENT_ROOM);
    if (!name) return;
    for (uint32_t s = 0; s < gSkinCount && s < SKIN_ENTRY_ROOM; ++s) {
        if (gSkins[s].x < 0 || strncmp(gSkins[s].name, name, SKIN_ENTRY_NAME_SIZE) != 0) continue;
        uint32_t f = gSkins[s].first < (uint32_t)SKIN_ELEMENT_ROOM ? gSkins[s].first : (uint32_t)SKIN_ELEMENT_ROOM;
        uint32_t n = gSkins[s].count;
        if (n > SKIN_ELEMENT_ROOM - f) n = SKIN_ELEMENT_ROOM - f;
        *first = (int32_t)f;
        *end = (int32_t)(f + n);
        return;
    }
}

static bool Inside(int32_t x, int32_t y, int64_t left, int64_t top, int32_t w, int32_t h)
{
    return x >= left && x <= left + w && y >= top && y <= top + h; // edges inclusive
}

THitResult Yuv2_HitTest(int32_t x, int32_t y, const char* name)
{
    int32_t first, end;
    SearchRange(name, &first, &end);
    for (int32_t index = end - 1; index >= first; --index) {
        const TSkinElement* e = &gSkinElements[index];
        if (!e->lit || !e->refLit || e->itemCount <= 0 || e->minLevel == 0) continue;
        if (e->columns < 1 && e->radial == 0) continue;
        int32_t w = e->itemWidth, h = e->itemHeight;
        if (e->radial != 0) {
            if (e->radial != 1 || e->kind == 8002) continue;
            for (int32_t i = 0; i < e->itemCount; ++i) {
                int32_t cx, cy;
                if (Yuv2_RadialCentre(index, i, &cx, &cy) != 0) continue;
                if (Inside(x, y, (int64_t)cx - (w >> 1), (int64_t)cy - (h >> 1), (w >> 1) * 2, (h >> 1) * 2))
                    return THitResult{index, i, first, end};
            }
            continue;
        }
        int32_t hit = -1;
        for (int32_t p = 0; p < e->itemCount && hit < 0; ++p) {
            TSkinRect r;
            if (Yuv2_ItemRect(index, p, &r) != 0) break;
            int64_t left = r.left, top = r.top;
            if (e->kind == 8002) {
                // The track follows its slider.
                const TPanelPair* pair =
                    (e->itemId >= 1 && e->itemId < PANEL_PAIR_COUNT) ? &gPanelPairs[e->itemId] : nullptr;
                int32_t c = e->columns < e->itemCount ? e->columns : e->itemCount;
                int64_t rows = ((int64_t)e->itemCount + e->extraCells + c - 1) / c;
                int64_t gw = (int64_t)(c - 1) * e->spacingX + (int64_t)w * c;
                int64_t gh = (rows - 1) * e->spacingY + (int64_t)h * rows;
                if (pair && e->spacingX > 0) left = pair->position - (gw >> 1) + (int64_t)(w + e->spacingX) * (p % c);
                else if (pair && e->spacingY > 0)
                    top = pair->position - (gh >> 1) + (int64_t)(h + e->spacingY) * (p / c);
            }
            if (Inside(x, y, left, top, w, h)) hit = p;
        }
        if (hit < 0) continue;
        if (e->sourceKind1 == '0' && e->sourceKind2 == '0' && e->sourceKind3 == '0') continue;
        // A_Num is a skin variable: the sub-item is formed wide and one
        // that no i32 can hold is no item at all.
        int64_t k = (int64_t)hit + 1;
        if (e->kind == 8003) k += A_Num;
        if (k < (int64_t)INT32_MIN + 1 || k > INT32_MAX) return NoHit(first, end);
        if (Letter(e->sourceKind1, 'A') && e->sourceVar) {
            const int32_t* v = Yuv2_SourceAt(e, k - 1);
            if (!v || *v == -1) return NoHit(first, end); // a hidden item covers what lies under it
        }
        if (e->minLevel < gPanelLevel) return NoHit(first, end);
        return THitResult{index, (int32_t)k, first, end};
    }
    return NoHit(first, end);
}

void Yuv2_SetElementState(int32_t element, int32_t k)
{
    if (element < 0 || element >= SKIN_ELEMENT_ROOM) return;
    const TSkinElement* e = &gSkinElements[element];
    char s = e->sourceKind1, t = e->targetKind1;
    int32_t* target = e->targetVar;
    int32_t* source = e->sourceVar;
    int64_t item = (int64_t)k - 1; // item k - 1, formed wide: k may come from a skin variable
    if (target) {
        if (Letter(s, 'C') && Letter(t, 'S')) {
            *target = (int32_t)(Yuv2_NameNumber(element) + (uint32_t)k - 1u);
        } else if (Letter(s, 'C') && Letter(t, 'A')) {
            if (int32_t* slot = Yuv2_TargetAt(e, item)) *slot = (int32_t)Yuv2_NameNumber(element);
        } else if (Letter(s, 'S') && Letter(t, 'S') && source) {
            *target = *source;
            if (Letter(e->sourceKind3, 'Z')) *source = 0;
        } else if (Letter(s, 'S') && Letter(t, 'A') && source) {
            if (int32_t* slot = Yuv2_TargetAt(e, item)) *slot = *source;
        } else if (Letter(s, 'A') && Letter(t, 'A') && source) {
            int32_t* from = Yuv2_SourceAt(e, item);
            int32_t* slot = Yuv2_TargetAt(e, item);
            if (from && slot) *slot = *from;
        } else if (Letter(s, 'A') && Letter(t, 'S') && source) {
            if (!Letter(e->sourceKind3, 'N')) {
                if (int32_t* from = Yuv2_SourceAt(e, item)) *target = *from;
            } else if (item >= INT32_MIN) {
                *target = (int32_t)item; // the item number
            }
        }
        if (Letter(e->targetKind3, 'X')) *target = e->refOffsetX + 640;
        else if (Letter(e->targetKind3, 'Y')) *target = e->refOffsetY + 512;
    }
}

void Yuv2_PressElement(int32_t element, int32_t k, int32_t first, int32_t end)
{
    Yuv2_SetElementState(element, k);
    if (first < 0) first = 0;
    if (end > SKIN_ELEMENT_ROOM) end = SKIN_ELEMENT_ROOM;
    for (int32_t i = first; i < end; ++i)
        if (i != element && gSkinElements[i].reference == element) Yuv2_SetElementState(i, k);
}

static bool IsPanelLogicSkin(const char* name)
{
    return name && (strcmp(name, kKeyFormAlias) == 0 || strcmp(name, kMonthSkin) == 0);
}

void Yuv2_PressHook(const char* name)
{
    (void)name;
    Preset_SyncChannel();
    KeyForm_SyncPage();
}

void Yuv2_PressAction(const char* name)
{
    if (!name) return;
    if (strcmp(name, kPresetSkin) == 0) {
        Preset_Update();
    } else if (IsPanelLogicSkin(name)) {
        KeyForm_Update(0);
        Month_Update();
    }
}

void Yuv2_ReleaseAction(int32_t code, int32_t x, int32_t y, const char* name)
{
    if (!name) return;
    if (strcmp(name, kPresetSkin) == 0) {
        Preset_MouseEvent(code, x, y);
    } else if (IsPanelLogicSkin(name)) {
        KeyForm_MouseEvent(code, x, y);
        Month_MouseEvent(code, x, y);
    }
}

void Yuv2_MouseEvent(int32_t down, int32_t x, int32_t y, const char* name)
{
    if (!name || gSkinElementTotal == 0) return;
    const char* dot = static_cast<const char*>(memchr(name, '.', strnlen(name, sizeof gRepeatName)));
    if (!dot || strncmp(dot, ".YUV2", 5) != 0) return;
    char copy[sizeof gRepeatName];
    memset(copy, 0, sizeof copy);
    strncpy(copy, name, sizeof copy - 1);
    memcpy(gRepeatName, copy, sizeof gRepeatName);

    THitResult hit = Yuv2_HitTest(x, y, copy);
    if (down == 1) {
        if (hit.element != -1 && hit.subItem != -1) {
            Yuv2_PressHook(copy);
            Yuv2_PressElement(hit.element, hit.subItem, hit.first, hit.end);
            Yuv2_PressAction(copy);
        }
        gLastDrawn[0] = 0;
        gLastDrawn[1] = 0;
        return;
    }
    if (hit.element != -1 && !gHoldActive) {
        const TSkinElement* e = &gSkinElements[hit.element];
        const int32_t* target = Letter(e->targetKind1, 'A') ? Yuv2_TargetAt(e, hit.subItem - 1) : e->targetVar;
        if (!target || *target < 1) return;
    }
    Yuv2_ReleaseAction(0, x, y, copy);
    gHoldActive = 0;
    Panel_Invalidate();
    if (gHoldCode != 0) Yuv2_ReleaseAction(3, x, y, copy);
}

void Yuv2_PanelMouseDown(int32_t x, int32_t y)
{
    gMouseDown = 1;
    if (gHoldActive) return;
    gPressed = Yuv2_HitTest(x, y, nullptr);
    gRepeatPos[0] = gHoldPos[0] = x;
    gRepeatPos[1] = gHoldPos[1] = y;
    memset(gRepeatName, 0, sizeof gRepeatName);
    Yuv2_MouseEvent(1, x, y, kKeyFormAlias);
    if (gHoldCode != 0) gRepeatState = REPEAT_ARMED;
}

void Yuv2_PanelMouseMove(int32_t x, int32_t y)
{
    THitResult hover = Yuv2_HitTest(x, y, nullptr);
    gHover[0] = hover.element;
    gHover[1] = hover.subItem;
    if (!gMouseDown) return;
    if (hover.element != -1 && hover.element != gPressed.element) return;
    if (gRepeatState == REPEAT_ARMED && gHoldCode != 0 && gHoldCode != HOLD_REPEAT)
        Yuv2_MouseEvent(1, x, y, gRepeatName);
}

void Yuv2_PanelMouseUp(int32_t x, int32_t y)
{
    gMouseDown = 0;
    Yuv2_MouseEvent(0, x, y, gRepeatName);
    gRepeatState = REPEAT_IDLE;
}

void Yuv2_RepeatTick()
{
    if (gRepeatState == REPEAT_IDLE || gHoldCode != HOLD_REPEAT) return;
    switch (gRepeatState) {
    case REPEAT_ARMED:
        gRepeatState = REPEAT_COUNTING;
        gRepeatCount = 0;
        break;
    case REPEAT_COUNTING:
        if (++gRepeatCount >= REPEAT_DELAY_TICKS) gRepeatState = REPEAT_RUNNING;
        break;
    case REPEAT_RUNNING: Yuv2_MouseEvent(1, gRepeatPos[0], gRepeatPos[1], gRepeatName); break;
    default: break;
    }
}

void Yuv2_ResetMouse()
{
    gPressed = NoHit(0, 0);
    gMouseDown = 0;
    gPanelLevel = PANEL_LEVEL_NORMAL;
    gHoldActive = 0;
    gHoldCode = 0;
    gRedrawRequest = 0;
    gRepeatState = REPEAT_IDLE;
    gRepeatCount = 0;
    gRepeatPos[0] = gRepeatPos[1] = 0;
    gHoldPos[0] = gHoldPos[1] = 0;
    memset(gRepeatName, 0, sizeof gRepeatName);
    gHover[0] = gHover[1] = -1;
}
