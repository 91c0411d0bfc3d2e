#include <vantor/errors.h>
#include <vantor/win32_views.h>

#include <utility>
#include <vector>

#include "win32_views/gdi.h"

namespace vantor {

namespace {

constexpr wchar_t kClassName[] = L"VantorCommStatusPanel";

}  // namespace

struct StatusPanelWindow::Impl {
    explicit Impl(StatusPanel& p) : panel(p) {}

    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void paint(HDC dc, const RECT& client) const;

    StatusPanel& panel;
    HWND window = nullptr;
    std::vector<std::pair<Observable*, int>> subscriptions;
};

void StatusPanelWindow::Impl::paint(HDC dc, const RECT& client) const {
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    if (width <= 0 || height <= 0) return;
    const int dpi = ::GetDeviceCaps(dc, LOGPIXELSX);
    // Drawn aside and copied in one go, so that a blink does not flicker.
    const HDC memory = ::CreateCompatibleDC(dc);
    views::GdiObject<HBITMAP> bitmap(::CreateCompatibleBitmap(dc, width, height));
    if (memory == nullptr || bitmap.get() == nullptr) {
        if (memory != nullptr) ::DeleteDC(memory);
        const long bounds[4] = {client.left, client.top, client.right, client.bottom};
        drawStatusPanel(dc, bounds, dpi, panel);
        return;
    }
    const HGDIOBJ old = ::SelectObject(memory, bitmap.get());
    const long bounds[4] = {0, 0, width, height};
    drawStatusPanel(memory, bounds, dpi, panel);
    ::BitBlt(dc, client.left, client.top, width, height, memory, 0, 0, SRCCOPY);
    ::SelectObject(memory, old);
    ::DeleteDC(memory);
}

LRESULT CALLBACK StatusPanelWindow::Impl::windowProc(HWND window, UINT message, WPARAM wParam,
                                                     LPARAM lParam) {
    auto* self = views::windowObject<Impl>(window, message, lParam);
    if (self == nullptr) return ::DefWindowProcW(window, message, wParam, lParam);
    switch (message) {
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            const HDC dc = ::BeginPaint(window, &ps);
            RECT client;
            ::GetClientRect(window, &client);
            self->paint(dc, client);
            ::EndPaint(window, &ps);
            return 0;
        }
        case WM_PRINTCLIENT: {
            RECT client;
            ::GetClientRect(window, &client);
            self->paint(reinterpret_cast<HDC>(wParam), client);
            return 0;
        }
        case WM_NCDESTROY:
            // The parent's end takes its children with it.
            self->window = nullptr;
            ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            break;
        default:
            break;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

StatusPanelWindow::StatusPanelWindow(void* parent, const long (&bounds)[4], StatusPanel& panel)
    : impl_(std::make_unique<Impl>(panel)) {
    if (!views::registerClass(kClassName, &Impl::windowProc, nullptr)) {
        throw RuntimeError(kErrInvalidCall,
                           "Invalid procedure call or argument: the status panel's window class "
                           "cannot be registered");
    }
    impl_->window =
        ::CreateWindowExW(0, kClassName, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, bounds[0],
                          bounds[1], bounds[2] - bounds[0], bounds[3] - bounds[1],
                          static_cast<HWND>(parent), nullptr, views::thisModule(), impl_.get());
    if (impl_->window == nullptr) {
        views::unregisterClass(kClassName);
        throw RuntimeError(kErrInvalidCall,
                           "Invalid procedure call or argument: the status panel's window cannot "
                           "be created");
    }
    Impl* impl = impl_.get();
    // Windows merges the invalidations of a burst into one paint.
    auto repaint = [impl] {
        if (impl->window != nullptr) ::InvalidateRect(impl->window, nullptr, FALSE);
    };
    for (Label& label : panel.Label1)
        impl->subscriptions.emplace_back(&label, label.subscribe(repaint));
    impl->subscriptions.emplace_back(&panel.Label3, panel.Label3.subscribe(repaint));
    impl->subscriptions.emplace_back(&panel.Shape1, panel.Shape1.subscribe(repaint));
}

StatusPanelWindow::~StatusPanelWindow() {
    for (auto& [model, id] : impl_->subscriptions) model->unsubscribe(id);
    if (impl_->window != nullptr) ::DestroyWindow(impl_->window);
    views::unregisterClass(kClassName);
}

void* StatusPanelWindow::handle() const {
    return impl_->window;
}

void StatusPanelWindow::move(const long (&bounds)[4]) {
    if (impl_->window == nullptr) return;
    ::MoveWindow(impl_->window, bounds[0], bounds[1], bounds[2] - bounds[0], bounds[3] - bounds[1],
                 TRUE);
}

}  // namespace vantor
