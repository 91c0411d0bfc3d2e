// Win32 views of the control's models: the status panel drawn with GDI, as a
// child window of the host's, and the data grid in a window of its own.
// Library vantor_win32_views. HWND and HDC go as void*, so that hosts of this
// header need no <windows.h>.
//
// Everything here runs on the thread that owns the windows, the models'
// thread: their changes repaint the views.
#pragma once

#include <vantor/data_grid.h>
#include <vantor/status_panel.h>

#include <memory>

namespace vantor {

// Draws the panel as it is now into `dc`, its design area (kDesignWidth x
// kDesignHeight twips) placed at the top left of `bounds` = {left, top,
// right, bottom} in the dc's units (pixels on a screen), one twip being
// dpi / 1440 of them: 96 for a screen, or the metafile's or printer's own. The
// layout is the design one whatever the size of `bounds`: a smaller one cuts
// the panel, a larger one shows more background. Nothing is drawn outside
// `bounds`; the dc's state is as it was afterwards.
void drawStatusPanel(void* dc, const long (&bounds)[4], int dpi, const StatusPanel& panel);

// A child window of `parent` that shows the panel and repaints on every change
// of its labels and indicator. Created visible at `bounds` (the parent's client
// coordinates, pixels). The panel must outlive the window.
class StatusPanelWindow {
  public:
    StatusPanelWindow(void* parent, const long (&bounds)[4], StatusPanel& panel);
    ~StatusPanelWindow();
    StatusPanelWindow(const StatusPanelWindow&) = delete;
    StatusPanelWindow& operator=(const StatusPanelWindow&) = delete;

    // Its HWND; null once its parent has destroyed it.
    void* handle() const;
    // New place and size; the drawing keeps the design layout.
    void move(const long (&bounds)[4]);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The grid ViewData fills, as a report-view list in a top-level window of its
// own ("Vantor_Comm data") owned by `owner` (may be null): headings from row
// 0, column widths and alignment from the grid, TopRow scrolled to the top.
// A burst of changes to the grid refreshes it once, when the thread next
// pumps its messages. Closing the window hides it. The grid must outlive the
// window.
class DataGridWindow {
  public:
    DataGridWindow(void* owner, DataGrid& grid);
    ~DataGridWindow();
    DataGridWindow(const DataGridWindow&) = delete;
    DataGridWindow& operator=(const DataGridWindow&) = delete;

    // Shows it and brings it to the front; makes it again if its owner's end
    // took it away.
    void show();
    // Its HWND; null once its owner's end has destroyed it.
    void* handle() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vantor
