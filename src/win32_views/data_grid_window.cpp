#include <vantor/errors.h>
#include <vantor/win32_views.h>
#include <windows.h>
// commctrl.h needs windows.h first.
#include <commctrl.h>

#include <algorithm>
#include <string>

#include "platform/win32/wide_text.h"
#include "win32_views/gdi.h"

namespace vantor {

namespace {

constexpr wchar_t kClassName[] = L"VantorCommDataGrid";
constexpr wchar_t kTitle[] = L"Vantor_Comm data";
constexpr UINT kRefresh = WM_APP + 0x47;
constexpr int kListId = 1;
// The grid's own width of a column it was given none, in twips.
constexpr double kDefaultColumnTwips = 1500;

int clampToInt(Long n) {
    return n < 0 ? 0 : static_cast<int>(n);
}

// Codes 0 to 8 run left, centre, right, each top, centre, bottom; the grid's
// default (and 9, general) is left.
int columnFormat(int code) {
    if (code < 1 || code > 8) return LVCFMT_LEFT;
    static const int kHorizontal[] = {LVCFMT_LEFT, LVCFMT_CENTER, LVCFMT_RIGHT};
    return kHorizontal[code / 3];
}

// The wide message whatever UNICODE says.
void insertColumn(HWND list, int index, const LVCOLUMNW& column) {
    ::SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(index),
                   reinterpret_cast<LPARAM>(&column));
}

int screenDpi() {
    const HDC screen = ::GetDC(nullptr);
    const int dpi = screen != nullptr ? ::GetDeviceCaps(screen, LOGPIXELSX) : 96;
    if (screen != nullptr) ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

}  // namespace

struct DataGridWindow::Impl {
    Impl(HWND o, DataGrid& g) : owner(o), grid(g) {}
    ~Impl() {
        if (rowImages != nullptr) ImageList_Destroy(rowImages);
    }

    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void create();
    void scheduleRefresh();
    void refresh();
    void setRowHeight(int pixels);
    void stretchLastColumn();
    void fitWidth();
    void cellText(NMLVDISPINFOW& info);

    HWND owner;
    DataGrid& grid;
    int subscription = 0;
    HWND frame = nullptr;
    HWND list = nullptr;
    bool pending = false;
    int dpi = 96;
    int rows = 0;
    int cols = 0;
    int lastColumnWidth = 0;
    int rowHeight = -1;
    HIMAGELIST rowImages = nullptr;
    std::wstring text;
};

void DataGridWindow::Impl::create() {
    dpi = screenDpi();
    RECT r{0, 0, views::twipsToPixels(std::max(grid.Width(), 1500.0), dpi),
           views::twipsToPixels(4500, dpi)};
    ::AdjustWindowRectEx(&r, WS_OVERLAPPEDWINDOW, FALSE, 0);
    frame = ::CreateWindowExW(0, kClassName, kTitle, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                              CW_USEDEFAULT, CW_USEDEFAULT, r.right - r.left, r.bottom - r.top,
                              owner, nullptr, views::thisModule(), this);
    if (frame == nullptr) {
        throw RuntimeError(kErrInvalidCall,
                           "Invalid procedure call or argument: the data window cannot be created");
    }
    refresh();
}

void DataGridWindow::Impl::scheduleRefresh() {
    if (pending || frame == nullptr) return;
    pending = ::PostMessageW(frame, kRefresh, 0, 0) != 0;
}

void DataGridWindow::Impl::setRowHeight(int pixels) {
    if (pixels == rowHeight) return;
    rowHeight = pixels;
    // A report view takes its rows' height from its small images.
    HIMAGELIST images = pixels > 0 ? ImageList_Create(1, pixels, ILC_COLOR, 1, 0) : nullptr;
    ListView_SetImageList(list, images, LVSIL_SMALL);
    if (rowImages != nullptr) ImageList_Destroy(rowImages);
    rowImages = images;
}

void DataGridWindow::Impl::refresh() {
    pending = false;
    if (list == nullptr) return;
    rows = clampToInt(grid.Rows() - 1);
    cols = clampToInt(grid.Cols());
    ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);

    // A report view's first column is always left-aligned: a column of no
    // width goes first, and the grid's columns after it.
    while (ListView_DeleteColumn(list, 0)) {
    }
    LVCOLUMNW dummy{};
    dummy.mask = LVCF_WIDTH | LVCF_SUBITEM;
    insertColumn(list, 0, dummy);
    for (int c = 0; c < cols; ++c) {
        std::wstring heading = grid.Rows() >= 1 ? widen(grid.TextMatrix(0, c)) : std::wstring();
        const double twips = grid.ColWidth(c);
        LVCOLUMNW column{};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = columnFormat(grid.ColAlignment(c));
        column.cx = views::twipsToPixels(twips >= 0 ? twips : kDefaultColumnTwips, dpi);
        column.pszText = heading.data();
        column.iSubItem = c + 1;
        insertColumn(list, c + 1, column);
        if (c == cols - 1) lastColumnWidth = column.cx;
    }

    // One height serves every row: the first data row's.
    const double twips = rows > 0 ? grid.RowHeight(1) : -1;
    setRowHeight(twips >= 0 ? std::max(1, views::twipsToPixels(twips, dpi)) : -1);
    ListView_SetItemCountEx(list, rows, 0);

    const Long top = grid.TopRow();
    if (top >= 1 && top <= rows) {
        RECT item{};
        ListView_GetItemRect(list, 0, &item, LVIR_BOUNDS);
        const int step = item.bottom - item.top;
        const int current = ListView_GetTopIndex(list);
        if (step > 0) ListView_Scroll(list, 0, (static_cast<int>(top) - 1 - current) * step);
    }
    ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    // Once the scroll bars are what the rows make them.
    stretchLastColumn();
    ::InvalidateRect(list, nullptr, TRUE);
}

// The last column takes the room the others leave, as the other views' do.
void DataGridWindow::Impl::stretchLastColumn() {
    if (list == nullptr || cols == 0) return;
    RECT client;
    ::GetClientRect(list, &client);
    int used = 0;
    for (int c = 0; c < cols; ++c) used += ListView_GetColumnWidth(list, c);
    ListView_SetColumnWidth(list, cols,
                            std::max(lastColumnWidth, static_cast<int>(client.right) - used));
}

// Wide enough for every column, where the screen has room.
void DataGridWindow::Impl::fitWidth() {
    if (list == nullptr) return;
    int columns = 0;
    for (int c = 0; c < cols; ++c) columns += ListView_GetColumnWidth(list, c);
    columns += lastColumnWidth;
    RECT client, frameRect, listRect;
    ::GetClientRect(list, &client);
    ::GetWindowRect(frame, &frameRect);
    ::GetWindowRect(list, &listRect);
    // The list's client loses the vertical scroll bar's room once rows overflow.
    int extra = columns - static_cast<int>(client.right);
    if ((::GetWindowLongW(list, GWL_STYLE) & WS_VSCROLL) == 0) {
        extra += ::GetSystemMetrics(SM_CXVSCROLL);
    }
    if (extra <= 0) return;
    const int width =
        std::min<int>(frameRect.right - frameRect.left + extra, ::GetSystemMetrics(SM_CXMAXIMIZED));
    ::SetWindowPos(frame, nullptr, 0, 0, width, frameRect.bottom - frameRect.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void DataGridWindow::Impl::cellText(NMLVDISPINFOW& info) {
    LVITEMW& item = info.item;
    if ((item.mask & LVIF_TEXT) == 0 || item.pszText == nullptr || item.cchTextMax <= 0) return;
    item.pszText[0] = L'\0';
    // The grid may have changed since the last refresh: read it only where it
    // still has the cell.
    const Long row = static_cast<Long>(item.iItem) + 1;
    const Long col = static_cast<Long>(item.iSubItem) - 1;
    if (row >= grid.Rows() || col < 0 || col >= grid.Cols()) return;
    text = widen(grid.TextMatrix(row, col));
    const std::size_t n = std::min(text.size(), static_cast<std::size_t>(item.cchTextMax - 1));
    text.copy(item.pszText, n);
    item.pszText[n] = L'\0';
}

LRESULT CALLBACK DataGridWindow::Impl::windowProc(HWND window, UINT message, WPARAM wParam,
                                                  LPARAM lParam) {
    auto* self = views::windowObject<Impl>(window, message, lParam);
    if (self == nullptr) return ::DefWindowProcW(window, message, wParam, lParam);
    switch (message) {
        case WM_CREATE: {
            // A hidden window hears of its size only when it is first shown.
            RECT client;
            ::GetClientRect(window, &client);
            self->list = ::CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                                           WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_OWNERDATA |
                                               LVS_SINGLESEL | LVS_SHOWSELALWAYS |
                                               LVS_NOSORTHEADER | LVS_SHAREIMAGELISTS,
                                           0, 0, client.right, client.bottom, window,
                                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(kListId)),
                                           views::thisModule(), nullptr);
            if (self->list == nullptr) return -1;
            ListView_SetExtendedListViewStyle(self->list, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
            ::SendMessageW(self->list, WM_SETFONT,
                           reinterpret_cast<WPARAM>(::GetStockObject(DEFAULT_GUI_FONT)), FALSE);
            return 0;
        }
        case WM_SIZE:
            if (self->list != nullptr) {
                ::MoveWindow(self->list, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
                self->stretchLastColumn();
            }
            return 0;
        case WM_SETFOCUS:
            if (self->list != nullptr) ::SetFocus(self->list);
            return 0;
        case WM_NOTIFY: {
            auto* header = reinterpret_cast<NMHDR*>(lParam);
            if (header->idFrom == kListId && header->code == LVN_GETDISPINFOW) {
                self->cellText(*reinterpret_cast<NMLVDISPINFOW*>(lParam));
                return 0;
            }
            // The column of no width stays so.
            if (self->list != nullptr && header->hwndFrom == ListView_GetHeader(self->list)) {
                switch (header->code) {
                    case HDN_BEGINTRACKW:
                    case HDN_BEGINTRACKA:
                    case HDN_DIVIDERDBLCLICKW:
                    case HDN_DIVIDERDBLCLICKA:
                        if (reinterpret_cast<NMHEADERW*>(lParam)->iItem == 0) return TRUE;
                        break;
                    default:
                        break;
                }
            }
            break;
        }
        case kRefresh:
            if (self->pending) self->refresh();
            return 0;
        case WM_CLOSE:
            // The grid stays; show() brings it back.
            ::ShowWindow(window, SW_HIDE);
            return 0;
        case WM_NCDESTROY:
            // The owner's end takes its owned windows with it.
            self->frame = nullptr;
            self->list = nullptr;
            self->pending = false;
            self->rowHeight = -1;
            ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            break;
        default:
            break;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

DataGridWindow::DataGridWindow(void* owner, DataGrid& grid)
    : impl_(std::make_unique<Impl>(static_cast<HWND>(owner), grid)) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
    ::InitCommonControlsEx(&controls);
    if (!views::registerClass(kClassName, &Impl::windowProc,
                              reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1)))) {
        throw RuntimeError(kErrInvalidCall,
                           "Invalid procedure call or argument: the data window's class cannot "
                           "be registered");
    }
    try {
        impl_->create();
    } catch (...) {
        views::unregisterClass(kClassName);
        throw;
    }
    Impl* impl = impl_.get();
    impl_->subscription = grid.subscribe([impl] { impl->scheduleRefresh(); });
}

DataGridWindow::~DataGridWindow() {
    impl_->grid.unsubscribe(impl_->subscription);
    if (impl_->frame != nullptr) ::DestroyWindow(impl_->frame);
    views::unregisterClass(kClassName);
}

void DataGridWindow::show() {
    if (impl_->frame == nullptr) impl_->create();
    const HWND frame = impl_->frame;
    if (impl_->pending) impl_->refresh();
    if (!::IsWindowVisible(frame)) impl_->fitWidth();
    ::ShowWindow(frame, ::IsIconic(frame) ? SW_RESTORE : SW_SHOW);
    ::SetWindowPos(frame, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    ::SetForegroundWindow(frame);
}

void* DataGridWindow::handle() const {
    return impl_->frame;
}

}  // namespace vantor
