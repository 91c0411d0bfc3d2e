// The status panel drawn into a memory bitmap with GDI, read back pixel by
// pixel: no window and no display needed.
#include <gtest/gtest.h>
#include <vantor/status_panel.h>
#include <vantor/win32_views.h>
#include <windows.h>

#include <cmath>
#include <cstdint>

#include "kit/fake/message_loop_fake.h"

namespace vantor {
namespace {

// A top-down 32-bit DIB section selected into a memory DC.
class PanelBitmap {
  public:
    PanelBitmap(int width, int height) : width_(width) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        dc_ = ::CreateCompatibleDC(nullptr);
        bitmap_ = ::CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
        old_ = ::SelectObject(dc_, bitmap_);
    }
    ~PanelBitmap() {
        ::SelectObject(dc_, old_);
        ::DeleteObject(bitmap_);
        ::DeleteDC(dc_);
    }
    PanelBitmap(const PanelBitmap&) = delete;
    PanelBitmap& operator=(const PanelBitmap&) = delete;

    bool valid() const { return dc_ != nullptr && bitmap_ != nullptr && bits_ != nullptr; }
    HDC dc() const { return dc_; }
    // As a COLORREF, 0x00BBGGRR; the DIB holds blue, green, red, unused.
    COLORREF at(int x, int y) const {
        ::GdiFlush();
        const auto* p = static_cast<const std::uint8_t*>(bits_) + (y * width_ + x) * 4;
        return RGB(p[2], p[1], p[0]);
    }

  private:
    int width_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    void* bits_ = nullptr;
    HGDIOBJ old_ = nullptr;
};

int pixels(double twips, int dpi) {
    return static_cast<int>(std::lround(twips * dpi / 1440.0));
}

enum class Indicator { Hidden, Green, Blue };

struct Case {
    const char* name;
    Indicator indicator;
    long left, top;  // where the panel's area starts in the bitmap
    int dpi;
};

class PanelDrawing : public ::testing::TestWithParam<Case> {};

TEST_P(PanelDrawing, IndicatorAndStatusLine) {
    const Case& c = GetParam();
    FakeMessageLoop loop;
    StatusPanel panel(loop);
    COLORREF indicator = ::GetSysColor(COLOR_BTNFACE);
    if (c.indicator != Indicator::Hidden) {
        panel.Label1[2].setCaption("Press Send Key to Transfer Data");
        panel.Label3.setVisible(true);
        panel.Shape1.setVisible(true);
        panel.Shape1.setFillColour(c.indicator == Indicator::Green ? kIndicatorGreen
                                                                   : kIndicatorBlue);
        indicator = panel.Shape1.fillColour();
    }

    const int width = pixels(kDesignWidth, c.dpi);
    const int height = pixels(kDesignHeight, c.dpi);
    PanelBitmap bitmap(static_cast<int>(c.left) + width, static_cast<int>(c.top) + height);
    ASSERT_TRUE(bitmap.valid());
    const long bounds[4] = {c.left, c.top, c.left + width, c.top + height};
    drawStatusPanel(bitmap.dc(), bounds, c.dpi, panel);

    const TwipRect& shape = panel.Shape1.rect;
    EXPECT_EQ(bitmap.at(c.left + pixels(shape.left + shape.width / 2, c.dpi),
                        c.top + pixels(shape.top + shape.height / 2, c.dpi)),
              indicator);
    // Inside the status line's border, left of any caption.
    const TwipRect& status = panel.Label1[2].rect;
    EXPECT_EQ(bitmap.at(c.left + pixels(status.left + 60, c.dpi),
                        c.top + pixels(status.top + status.height / 2, c.dpi)),
              RGB(0xC0, 0xFF, 0xC0));
}

INSTANTIATE_TEST_SUITE_P(Win32Views, PanelDrawing,
                         ::testing::Values(Case{"design", Indicator::Hidden, 0, 0, 96},
                                           Case{"armed", Indicator::Green, 0, 0, 96},
                                           Case{"blinked", Indicator::Blue, 0, 0, 96},
                                           // A metafile's or printer's dc, not at its origin.
                                           Case{"offset", Indicator::Green, 37, 11, 300}),
                         [](const ::testing::TestParamInfo<Case>& p) {
                             return std::string(p.param.name);
                         });

}  // namespace
}  // namespace vantor
