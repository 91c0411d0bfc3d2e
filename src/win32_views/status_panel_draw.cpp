#include <vantor/win32_views.h>

#include <algorithm>
#include <string>

#include "platform/win32/wide_text.h"
#include "win32_views/gdi.h"

namespace vantor {

namespace {

using views::GdiObject;
using views::toColorRef;
using views::twipsToPixels;

// The designed faces' families, so that a system without the face itself
// substitutes one of the same kind.
BYTE familyOf(const std::string& name) {
    if (name == "Times New Roman") return FF_ROMAN;
    if (name == "Arial") return FF_SWISS;
    return FF_DONTCARE;
}

GdiObject<HFONT> makeFont(const Font& f, int dpi) {
    LOGFONTW lf{};
    lf.lfHeight = -static_cast<LONG>(std::lround(f.points * dpi / 72.0));
    lf.lfWeight = f.bold ? FW_BOLD : FW_NORMAL;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfOutPrecision = OUT_TT_PRECIS;
    lf.lfQuality = DEFAULT_QUALITY;
    lf.lfPitchAndFamily = VARIABLE_PITCH | familyOf(f.name);
    const std::wstring name = widen(f.name);
    name.copy(lf.lfFaceName, LF_FACESIZE - 1);
    return GdiObject<HFONT>(::CreateFontIndirectW(&lf));
}

void fill(HDC dc, const RECT& r, COLORREF colour) {
    GdiObject<HBRUSH> brush(::CreateSolidBrush(colour));
    ::FillRect(dc, &r, brush.get());
}

void frame(HDC dc, const RECT& r, COLORREF colour) {
    GdiObject<HBRUSH> brush(::CreateSolidBrush(colour));
    ::FrameRect(dc, &r, brush.get());
}

void drawLabel(HDC dc, const Label& label, int dpi, POINT origin) {
    if (!label.visible()) return;
    RECT r = twipsToPixels(label.rect, dpi, origin);
    const std::wstring text = widen(label.caption());
    GdiObject<HFONT> font = makeFont(label.font, dpi);
    const HGDIOBJ oldFont = ::SelectObject(dc, font.get());

    // A label without a border shows no edge: where the font on this system
    // is wider than the designed one, it grows rather than cut its caption.
    SIZE extent{};
    if (!label.border &&
        ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent)) {
        r.right = std::max(r.right, r.left + extent.cx);
    }
    if (!label.transparent && label.backColour != kDefaultColour) {
        fill(dc, r, toColorRef(label.backColour, COLOR_BTNFACE));
    }
    if (label.border) {
        frame(dc, r, ::GetSysColor(COLOR_3DDKSHADOW));
        ::InflateRect(&r, -1, -1);
    }
    ::SetTextColor(dc, toColorRef(label.foreColour, COLOR_WINDOWTEXT));
    // Labels of this kind draw their text from the top.
    const UINT format = DT_SINGLELINE | DT_TOP | DT_NOPREFIX |
                        (label.alignment == Alignment::Centre ? DT_CENTER : DT_LEFT);
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r, format);
    ::SelectObject(dc, oldFont);
}

void drawIndicator(HDC dc, const Shape& shape, int dpi, POINT origin) {
    if (!shape.visible()) return;
    const RECT r = twipsToPixels(shape.rect, dpi, origin);
    fill(dc, r, toColorRef(shape.fillColour(), COLOR_WINDOW));
    frame(dc, r, RGB(0, 0, 0));
}

}  // namespace

void drawStatusPanel(void* dcHandle, const long (&bounds)[4], int dpi, const StatusPanel& panel) {
    const auto dc = static_cast<HDC>(dcHandle);
    if (dc == nullptr || dpi <= 0) return;
    const int saved = ::SaveDC(dc);
    ::IntersectClipRect(dc, bounds[0], bounds[1], bounds[2], bounds[3]);
    const RECT all{bounds[0], bounds[1], bounds[2], bounds[3]};
    ::FillRect(dc, &all, ::GetSysColorBrush(COLOR_BTNFACE));
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextAlign(dc, TA_LEFT | TA_TOP | TA_NOUPDATECP);

    const POINT origin{bounds[0], bounds[1]};
    for (const Label& label : panel.Label1) drawLabel(dc, label, dpi, origin);
    drawIndicator(dc, panel.Shape1, dpi, origin);
    drawLabel(dc, panel.Label3, dpi, origin);
    ::RestoreDC(dc, saved);
}

}  // namespace vantor
