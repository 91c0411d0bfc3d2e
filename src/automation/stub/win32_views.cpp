#include <vantor/win32_views.h>
#include <windows.h>

#include <algorithm>
#include <string>

namespace vantor {

namespace {

int toPixels(double twips, int dpi) {
    return static_cast<int>(twips * dpi / 1440.0 + 0.5);
}

// As a Win32 control shows a caption: up to its first null.
std::wstring wide(const String& whole) {
    const String s = whole.substr(0, whole.find('\0'));
    if (s.empty()) return {};
    const int n =
        ::MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

HFONT makeFont(const Font& font, int dpi) {
    const int height = -static_cast<int>(font.points * dpi / 72.0 + 0.5);
    return ::CreateFontW(height, 0, 0, 0, font.bold ? FW_BOLD : FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET,
                         OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                         DEFAULT_PITCH | FF_DONTCARE, wide(font.name).c_str());
}

COLORREF colour(Colour c, int fallback) {
    return c == kDefaultColour ? ::GetSysColor(fallback) : static_cast<COLORREF>(c);
}

void drawLabel(HDC dc, POINT origin, int dpi, const Label& label) {
    if (!label.visible()) return;
    RECT r{origin.x + toPixels(label.rect.left, dpi), origin.y + toPixels(label.rect.top, dpi), 0,
           0};
    r.right = origin.x + toPixels(label.rect.left + label.rect.width, dpi);
    r.bottom = origin.y + toPixels(label.rect.top + label.rect.height, dpi);
    const HFONT font = makeFont(label.font, dpi);
    const HGDIOBJ old = ::SelectObject(dc, font);
    const std::wstring text = wide(label.caption());
    if (!label.border) {
        // Grows rather than cut its caption where the font is wider here.
        SIZE size{};
        ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
        r.right = std::max(r.right, r.left + size.cx);
    }
    if (!label.transparent && label.backColour != kDefaultColour) {
        const HBRUSH brush = ::CreateSolidBrush(label.backColour);
        ::FillRect(dc, &r, brush);
        ::DeleteObject(brush);
    }
    if (label.border) {
        const HBRUSH edge = ::CreateSolidBrush(::GetSysColor(COLOR_3DDKSHADOW));
        ::FrameRect(dc, &r, edge);
        ::DeleteObject(edge);
        ::InflateRect(&r, -1, -1);
    }
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, colour(label.foreColour, COLOR_WINDOWTEXT));
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r,
                DT_TOP | DT_SINGLELINE | DT_NOPREFIX |
                    (label.alignment == Alignment::Centre ? DT_CENTER : DT_LEFT));
    ::SelectObject(dc, old);
    ::DeleteObject(font);
}

void drawShape(HDC dc, POINT origin, int dpi, const Shape& shape) {
    if (!shape.visible()) return;
    RECT r{origin.x + toPixels(shape.rect.left, dpi), origin.y + toPixels(shape.rect.top, dpi),
           origin.x + toPixels(shape.rect.left + shape.rect.width, dpi),
           origin.y + toPixels(shape.rect.top + shape.rect.height, dpi)};
    const HBRUSH fill = ::CreateSolidBrush(shape.fillColour());
    ::FillRect(dc, &r, fill);
    ::DeleteObject(fill);
    const HBRUSH edge = ::CreateSolidBrush(RGB(0, 0, 0));
    ::FrameRect(dc, &r, edge);
    ::DeleteObject(edge);
}

// The module these functions are in: its classes go with it.
HINSTANCE thisModule() {
    HMODULE module = nullptr;
    ::GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&thisModule), &module);
    return module;
}

constexpr wchar_t kPanelClass[] = L"VantorCommPanelStub";
constexpr wchar_t kGridClass[] = L"VantorCommGridStub";

LRESULT CALLBACK panelProcedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    auto* self = reinterpret_cast<StatusPanelWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_PAINT && self != nullptr) {
        PAINTSTRUCT paint;
        const HDC dc = ::BeginPaint(window, &paint);
        RECT client;
        ::GetClientRect(window, &client);
        const long bounds[4] = {client.left, client.top, client.right, client.bottom};
        drawStatusPanel(dc, bounds, ::GetDeviceCaps(dc, LOGPIXELSY), self->panel());
        ::EndPaint(window, &paint);
        return 0;
    }
    if (message == WM_ERASEBKGND) return 1;
    return ::DefWindowProcW(window, message, w, l);
}

void drawGrid(HDC dc, const RECT& client, int dpi, const DataGrid& grid) {
    ::FillRect(dc, &client, ::GetSysColorBrush(COLOR_WINDOW));
    const HBRUSH lines = ::CreateSolidBrush(::GetSysColor(COLOR_3DSHADOW));
    const HGDIOBJ old = ::SelectObject(dc, ::GetStockObject(DEFAULT_GUI_FONT));
    ::SetBkMode(dc, TRANSPARENT);
    const auto rowHeight = [&](Long row) {
        const double h = grid.RowHeight(row);
        return h >= 0 ? toPixels(h, dpi) : toPixels(255, dpi);
    };
    const auto drawRow = [&](Long row, int y) {
        int x = 0;
        const int h = rowHeight(row);
        for (Long col = 0; col < grid.Cols() && x < client.right; ++col) {
            const double cw = grid.ColWidth(col);
            const int w = cw >= 0 ? toPixels(cw, dpi) : toPixels(960, dpi);
            RECT cell{x, y, x + w, y + h};
            if (row == 0) ::FillRect(dc, &cell, ::GetSysColorBrush(COLOR_BTNFACE));
            ::FrameRect(dc, &cell, lines);
            RECT text = cell;
            ::InflateRect(&text, -2, 0);
            const std::wstring s = wide(grid.TextMatrix(row, col));
            const int a = grid.ColAlignment(col);
            const UINT horizontal = a >= 3 && a <= 5   ? DT_CENTER
                                    : a >= 6 && a <= 8 ? DT_RIGHT
                                                       : DT_LEFT;
            ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
            ::DrawTextW(dc, s.c_str(), static_cast<int>(s.size()), &text,
                        horizontal | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
            x += w;
        }
        return h;
    };
    int y = drawRow(0, 0);
    for (Long row = std::max<Long>(grid.TopRow(), 1); row < grid.Rows() && y < client.bottom;
         ++row) {
        y += drawRow(row, y);
    }
    ::SelectObject(dc, old);
    ::DeleteObject(lines);
}

LRESULT CALLBACK gridProcedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    auto* self = reinterpret_cast<DataGridWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_PAINT && self != nullptr) {
        PAINTSTRUCT paint;
        const HDC dc = ::BeginPaint(window, &paint);
        RECT client;
        ::GetClientRect(window, &client);
        drawGrid(dc, client, ::GetDeviceCaps(dc, LOGPIXELSY), self->grid());
        ::EndPaint(window, &paint);
        return 0;
    }
    if (message == WM_CLOSE) {
        ::ShowWindow(window, SW_HIDE);
        return 0;
    }
    return ::DefWindowProcW(window, message, w, l);
}

void registerClass(const wchar_t* name, WNDPROC procedure) {
    WNDCLASSW c{};
    if (::GetClassInfoW(thisModule(), name, &c)) return;
    c.lpfnWndProc = procedure;
    c.hInstance = thisModule();
    c.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    c.hbrBackground = ::GetSysColorBrush(COLOR_BTNFACE);
    c.lpszClassName = name;
    ::RegisterClassW(&c);
}

}  // namespace

void drawStatusPanel(void* dc, const long (&bounds)[4], int dpi, const StatusPanel& panel) {
    const HDC hdc = static_cast<HDC>(dc);
    const RECT r{bounds[0], bounds[1], bounds[2], bounds[3]};
    const int saved = ::SaveDC(hdc);
    ::IntersectClipRect(hdc, r.left, r.top, r.right, r.bottom);
    ::FillRect(hdc, &r, ::GetSysColorBrush(COLOR_BTNFACE));
    const POINT origin{r.left, r.top};
    for (const Label& label : panel.Label1) drawLabel(hdc, origin, dpi, label);
    drawShape(hdc, origin, dpi, panel.Shape1);
    drawLabel(hdc, origin, dpi, panel.Label3);
    ::RestoreDC(hdc, saved);
}

StatusPanelWindow::StatusPanelWindow(void* parent, const long (&bounds)[4], StatusPanel& panel)
    : panel_(panel) {
    registerClass(kPanelClass, panelProcedure);
    const HWND window =
        ::CreateWindowExW(0, kPanelClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, bounds[0],
                          bounds[1], bounds[2] - bounds[0], bounds[3] - bounds[1],
                          static_cast<HWND>(parent), nullptr, thisModule(), nullptr);
    window_ = window;
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    const auto redraw = [window] { ::InvalidateRect(window, nullptr, FALSE); };
    for (Label& label : panel.Label1) subscriptions_.emplace_back(&label, label.subscribe(redraw));
    subscriptions_.emplace_back(&panel.Label3, panel.Label3.subscribe(redraw));
    subscriptions_.emplace_back(&panel.Shape1, panel.Shape1.subscribe(redraw));
}

StatusPanelWindow::~StatusPanelWindow() {
    for (auto& [model, id] : subscriptions_) model->unsubscribe(id);
    ::DestroyWindow(static_cast<HWND>(window_));
}

void StatusPanelWindow::move(const long (&bounds)[4]) {
    ::MoveWindow(static_cast<HWND>(window_), bounds[0], bounds[1], bounds[2] - bounds[0],
                 bounds[3] - bounds[1], TRUE);
}

DataGridWindow::DataGridWindow(void* owner, DataGrid& grid) : grid_(grid) {
    registerClass(kGridClass, gridProcedure);
    const HDC screen = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    double twips = 0;
    for (Long col = 0; col < grid.Cols(); ++col) {
        const double w = grid.ColWidth(col);
        twips += w >= 0 ? w : 960;
    }
    RECT r{0, 0, toPixels(std::max(twips, grid.Width()), dpi), toPixels(255 * 16, dpi)};
    ::AdjustWindowRectEx(&r, WS_OVERLAPPEDWINDOW, FALSE, 0);
    const HWND window = ::CreateWindowExW(
        0, kGridClass, L"Data", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, r.right - r.left,
        r.bottom - r.top, static_cast<HWND>(owner), nullptr, thisModule(), nullptr);
    window_ = window;
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    subscription_ = grid.subscribe([window] { ::InvalidateRect(window, nullptr, TRUE); });
}

DataGridWindow::~DataGridWindow() {
    grid_.unsubscribe(subscription_);
    ::DestroyWindow(static_cast<HWND>(window_));
}

void DataGridWindow::show() {
    ::ShowWindow(static_cast<HWND>(window_), SW_SHOWNORMAL);
    ::UpdateWindow(static_cast<HWND>(window_));
}

}  // namespace vantor
