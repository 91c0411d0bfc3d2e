// Stand-in for the Win32 views of the panel and the grid, with their API,
// until the real ones are on this branch.
#pragma once

#include <vantor/data_grid.h>
#include <vantor/status_panel.h>

#include <vector>

namespace vantor {

// Draws the panel into a device context at bounds {left, top, right, bottom}
// in that context's pixels, `dpi` pixels an inch.
void drawStatusPanel(void* dc, const long (&bounds)[4], int dpi, const StatusPanel& panel);

// A child window of `parent` that shows the panel and follows its changes.
class StatusPanelWindow {
  public:
    StatusPanelWindow(void* parent, const long (&bounds)[4], StatusPanel& panel);
    ~StatusPanelWindow();
    StatusPanelWindow(const StatusPanelWindow&) = delete;
    StatusPanelWindow& operator=(const StatusPanelWindow&) = delete;
    void* handle() const { return window_; }
    void move(const long (&bounds)[4]);

    StatusPanel& panel() { return panel_; }

  private:
    StatusPanel& panel_;
    void* window_ = nullptr;
    std::vector<std::pair<Observable*, int>> subscriptions_;
};

// A top-level window owned by `owner` that shows the grid.
class DataGridWindow {
  public:
    DataGridWindow(void* owner, DataGrid& grid);
    ~DataGridWindow();
    DataGridWindow(const DataGridWindow&) = delete;
    DataGridWindow& operator=(const DataGridWindow&) = delete;
    void show();
    void* handle() const { return window_; }

    const DataGrid& grid() const { return grid_; }

  private:
    DataGrid& grid_;
    void* window_ = nullptr;
    int subscription_ = 0;
};

}  // namespace vantor
