// GDI helpers of the views: the models' units on Win32, and handles that
// free themselves.
#pragma once

#include <vantor/forms.h>
#include <windows.h>

#include <cmath>

namespace vantor::views {

inline constexpr double kTwipsPerInch = 1440.0;

inline int twipsToPixels(double twips, int dpi) {
    return static_cast<int>(std::lround(twips * dpi / kTwipsPerInch));
}

// Edges are converted rather than the size, so that neighbours that touch in
// twips still touch in pixels.
inline RECT twipsToPixels(const TwipRect& r, int dpi, POINT origin) {
    return RECT{origin.x + twipsToPixels(r.left, dpi), origin.y + twipsToPixels(r.top, dpi),
                origin.x + twipsToPixels(r.left + r.width, dpi),
                origin.y + twipsToPixels(r.top + r.height, dpi)};
}

// The model's 0xBBGGRR is a COLORREF as it is; its default is the system's.
inline COLORREF toColorRef(Colour c, int systemColour) {
    return c == kDefaultColour ? ::GetSysColor(systemColour) : static_cast<COLORREF>(c & 0xFFFFFF);
}

template <typename Handle>
class GdiObject {
  public:
    explicit GdiObject(Handle h) : h_(h) {}
    ~GdiObject() {
        if (h_ != nullptr) ::DeleteObject(h_);
    }
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;
    Handle get() const { return h_; }

  private:
    Handle h_;
};

// The object a window was created for (its CreateWindowEx parameter), kept
// with the window from WM_NCCREATE on; null before.
template <typename Impl>
Impl* windowObject(HWND window, UINT message, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(window, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    return reinterpret_cast<Impl*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
}

// The module these views are linked into: a DLL's windows are its own.
HINSTANCE thisModule();

// Registers a window class of thisModule() unless it is there already.
// Returns false with the system's error when it cannot.
bool registerClass(const wchar_t* name, WNDPROC proc, HBRUSH background);

// A DLL's classes outlive it when it is unloaded; the last window of a class
// takes the class with it (the call fails while others remain).
void unregisterClass(const wchar_t* name);

}  // namespace vantor::views
