#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "Canvas.h"
#include "platform/win32.h"
#include "testing/TestSupport.h"

TEST(Gdi, ScreenIsAVirtual96DpiDisplay) {
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(GetDeviceCaps(screen, LOGPIXELSX), 96);
    EXPECT_EQ(GetDeviceCaps(screen, LOGPIXELSY), 96);
    EXPECT_EQ(GetDeviceCaps(screen, BITSPIXEL), 32);
    EXPECT_EQ(ReleaseDC(nullptr, screen), 1);
    EXPECT_EQ(MulDiv(9, 96, 72), 12);
    EXPECT_EQ(MulDiv(12, 600, 72), 100);
    EXPECT_EQ(MulDiv(-7, 1, 2), -4);
    EXPECT_EQ(MulDiv(1, 1, 0), -1);
}

TEST(Gdi, LinesLeaveTheirEndPointUnpainted) {
    Canvas canvas(20, 10);
    MoveToEx(canvas.dc(), 2, 3, nullptr);
    LineTo(canvas.dc(), 8, 3);
    EXPECT_FALSE(canvas.Dark(1, 3));
    EXPECT_TRUE(canvas.Dark(2, 3));
    EXPECT_TRUE(canvas.Dark(7, 3));
    EXPECT_FALSE(canvas.Dark(8, 3));
    EXPECT_FALSE(canvas.Dark(5, 2));
    EXPECT_FALSE(canvas.Dark(5, 4));
    MoveToEx(canvas.dc(), 12, 1, nullptr);
    LineTo(canvas.dc(), 12, 9);
    EXPECT_TRUE(canvas.Dark(12, 1));
    EXPECT_TRUE(canvas.Dark(12, 8));
    EXPECT_FALSE(canvas.Dark(12, 9));
}

TEST(Gdi, WidePensCoverTheirWidthAroundTheLine) {
    Canvas canvas(20, 20);
    HPEN pen = CreatePen(PS_SOLID, 2, RGB(0, 0, 0));
    HGDIOBJ old = SelectObject(canvas.dc(), pen);
    EXPECT_EQ(old, GetStockObject(BLACK_PEN)); // the displaced object comes back
    MoveToEx(canvas.dc(), 5, 0, nullptr);
    LineTo(canvas.dc(), 5, 10);
    EXPECT_FALSE(canvas.Dark(3, 5));
    EXPECT_TRUE(canvas.Dark(4, 5));
    EXPECT_TRUE(canvas.Dark(5, 5));
    EXPECT_FALSE(canvas.Dark(6, 5));
    EXPECT_FALSE(DeleteObject(pen)); // still selected
    SelectObject(canvas.dc(), old);
    EXPECT_TRUE(DeleteObject(pen));
    EXPECT_FALSE(DeleteObject(pen)); // gone
}

TEST(Gdi, PenColoursAndFills) {
    Canvas canvas(10, 10);
    HPEN red = CreatePen(PS_SOLID, 1, RGB(255, 0, 0));
    HGDIOBJ old = SelectObject(canvas.dc(), red);
    MoveToEx(canvas.dc(), 0, 0, nullptr);
    LineTo(canvas.dc(), 5, 0);
    EXPECT_EQ(canvas.Pixel(0, 0), 0xFF0000u);
    SelectObject(canvas.dc(), old);
    DeleteObject(red);
    RECT box{2, 2, 4, 4};
    HBRUSH blue = CreateSolidBrush(RGB(0, 0, 255));
    FillRect(canvas.dc(), &box, blue);
    EXPECT_EQ(canvas.Pixel(2, 2), 0x0000FFu);
    EXPECT_EQ(canvas.Pixel(3, 3), 0x0000FFu);
    EXPECT_EQ(canvas.Pixel(4, 4), 0xFFFFFFu);
    DeleteObject(blue);
}

TEST(Gdi, FillsRepaintWhatWasDrawnSinceTheWholeBitmapWasFilled) {
    // A canvas starts filled white: a white fill where nothing was drawn
    // since has nothing to do, but one over anything drawn must repaint
    // it. Each drawing is tried without the fill first (it leaves ink),
    // then with it (no ink), the pixels read only at the end.
    const std::vector<std::function<void(HDC)>> drawings = {
        [](HDC dc) { // written straight into the pixels
            MoveToEx(dc, 5, 2, nullptr);
            LineTo(dc, 5, 20);
        },
        [](HDC dc) { TextOutA(dc, 2, 2, "88", 2); },
        [](HDC dc) { // drawn by cairo
            MoveToEx(dc, 0, 0, nullptr);
            LineTo(dc, 20, 20);
        },
        [](HDC dc) { // another colour over the whole
            RECT all{0, 0, 30, 30};
            FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
        },
    };
    auto inked = [](Canvas &canvas) {
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 30; ++x)
                if (canvas.Pixel(x, y) != 0xFFFFFFu)
                    return true;
        return false;
    };
    for (size_t i = 0; i < drawings.size(); ++i) {
        Canvas drawn(30, 30), filled(30, 30);
        drawings[i](drawn.dc());
        EXPECT_TRUE(inked(drawn)) << i;
        drawings[i](filled.dc());
        filled.Fill({0, 0, 30, 30}, RGB(255, 255, 255)); // whole: always written
        drawings[i](filled.dc());
        filled.Fill({0, 0, 25, 25}, RGB(255, 255, 255));
        filled.Fill({25, 0, 30, 30}, RGB(255, 255, 255));
        filled.Fill({0, 25, 25, 30}, RGB(255, 255, 255));
        EXPECT_FALSE(inked(filled)) << i;
    }
}

TEST(Gdi, DibitsAreThirtyTwoBitBottomUp) {
    Canvas canvas(3, 2);
    RECT top{0, 0, 3, 1};
    HBRUSH black = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    FillRect(canvas.dc(), &top, black);
    std::vector<DWORD> &pixels = canvas.Read();
    // The first row in memory is the bottom row (white), then the top (black).
    EXPECT_EQ(pixels[0], 0x00FFFFFFu);
    EXPECT_EQ(pixels[3], 0x00000000u);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(GetDIBits(screen, canvas.bitmap(), 0, 0, nullptr, &info, DIB_RGB_COLORS), 2);
    EXPECT_EQ(info.bmiHeader.biWidth, 3);
    EXPECT_EQ(info.bmiHeader.biBitCount, 32);
    BITMAP bm{};
    EXPECT_EQ(GetObjectA(canvas.bitmap(), sizeof bm, &bm), static_cast<int>(sizeof bm));
    EXPECT_EQ(bm.bmWidth, 3);
    EXPECT_EQ(bm.bmHeight, 2);
    ReleaseDC(nullptr, screen);
}

TEST(Gdi, FontsReachTheCjkFontsThroughTheAliases) {
    LOGFONTA lf{};
    lf.lfHeight = -24;
    strcpy(lf.lfFaceName, testing_support::Ansi("宋体").c_str());
    HFONT song = CreateFontIndirectA(&lf);
    HDC screen = GetDC(nullptr);
    HGDIOBJ old = SelectObject(screen, song);
    SIZE size{};
    std::string text = testing_support::Ansi("中文");
    ASSERT_TRUE(GetTextExtentPoint32A(screen, text.c_str(), static_cast<int>(text.size()), &size));
    EXPECT_EQ(size.cx, 48); // two full-width characters of 24 units
    EXPECT_GE(size.cy, 24);
    LOGFONTA back{};
    EXPECT_EQ(GetObjectA(song, sizeof back, &back), static_cast<int>(sizeof back));
    EXPECT_EQ(back.lfHeight, -24);
    SelectObject(screen, old);
    DeleteObject(song);
    ReleaseDC(nullptr, screen);
}

TEST(Gdi, TextIsDrawnFromTheTopLeftOfItsCell) {
    Canvas canvas(120, 40);
    LOGFONTA lf{};
    lf.lfHeight = -20;
    strcpy(lf.lfFaceName, testing_support::Ansi("黑体").c_str());
    HFONT font = CreateFontIndirectA(&lf);
    HGDIOBJ old = SelectObject(canvas.dc(), font);
    SetBkMode(canvas.dc(), TRANSPARENT);
    std::string text = testing_support::Ansi("中");
    TextOutA(canvas.dc(), 10, 10, text.c_str(), static_cast<int>(text.size()));
    int left = 120, top = 40, right = -1, bottom = -1;
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 120; ++x) {
            if (canvas.Dark(x, y)) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    EXPECT_GE(left, 10);
    EXPECT_LE(left, 13);
    EXPECT_GE(top, 10);
    EXPECT_LE(bottom, 10 + 24);
    EXPECT_GT(right - left, 12); // a real glyph, not an empty box's outline
    SelectObject(canvas.dc(), old);
    DeleteObject(font);
}

TEST(Gdi, DrawTextCentresASingleLine) {
    Canvas canvas(100, 30);
    SetBkMode(canvas.dc(), TRANSPARENT);
    RECT box{0, 0, 100, 30};
    EXPECT_GT(DrawTextA(canvas.dc(), "8888", 4, &box, DT_SINGLELINE | DT_VCENTER | DT_CENTER), 0);
    int left = 100, right = -1;
    for (int x = 0; x < 100; ++x) {
        for (int y = 0; y < 30; ++y) {
            if (canvas.Dark(x, y)) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
    }
    ASSERT_LT(left, right);
    EXPECT_NEAR((left + right) / 2.0, 50, 3);
}

TEST(Gdi, StaleHandlesAreRefused) {
    HDC dc = CreateCompatibleDC(nullptr);
    EXPECT_TRUE(DeleteDC(dc));
    EXPECT_FALSE(DeleteDC(dc));
    EXPECT_EQ(SelectObject(dc, GetStockObject(BLACK_PEN)), nullptr);
    EXPECT_FALSE(LineTo(dc, 1, 1));
    EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSY), 0);
    EXPECT_EQ(CreateCompatibleBitmap(nullptr, 0, 10), nullptr);
}
