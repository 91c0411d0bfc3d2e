// Console views of the control's status panel and data grid.
#pragma once

#include <vantor/status_panel.h>
#include <vantor/vantor_comm.h>

#include <QTimer>
#include <array>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace vantor::cli {

// On a terminal: one line redrawn in place (status caption, record counter,
// the blinking indicator while armed, and a hint after some seconds of
// silence). Otherwise: one line per change of the status caption.
class ConsolePanelView {
  public:
    // `device` is shown on the redrawn line: the one the download waits on.
    ConsolePanelView(Vantor_Comm& comm, std::FILE* out, bool terminal, std::string device = {});
    ~ConsolePanelView();
    ConsolePanelView(const ConsolePanelView&) = delete;
    ConsolePanelView& operator=(const ConsolePanelView&) = delete;

    // Bytes came from the meter: no hint needed.
    void noteBytes();
    // Ends the redrawn line so that later output starts on a line of its own.
    void close();

  private:
    struct Subscription {
        Observable* model;
        int id;
    };
    void watch(Observable& model, std::function<void()> fn);
    void redraw();
    void statusChanged();

    Vantor_Comm& comm_;
    std::FILE* out_;
    bool terminal_;
    std::string device_;
    bool lineOpen_ = false;
    String lastStatus_;
    std::vector<Subscription> subscriptions_;
    QTimer hintTimer_;
    std::chrono::steady_clock::time_point lastBytes_;
    bool hint_ = false;
};

// The data view's rows as text: an aligned table, or with `tsv` one line
// per row with the cells exactly as they are, separated by TABs. The header
// row comes first; an aligned table measures every row before printing.
class TablePrinter {
  public:
    using Row = std::array<String, 4>;
    static const Row kHeader;

    TablePrinter(std::FILE* out, bool tsv) : out_(out), tsv_(tsv) {}
    // An aligned table's columns take the widest cell measured.
    void measure(const Row& row);
    void printHeader();
    void print(const Row& row);

  private:
    std::string shown(const Row& row, std::size_t col, bool header) const;
    void printLine(const Row& row, bool header);

    std::FILE* out_;
    bool tsv_;
    std::array<std::size_t, 4> width_{};
};

// Prints rows 0..Rows()-1, columns 0..3, as TablePrinter does.
void printGrid(const DataGrid& grid, std::FILE* out, bool tsv);

// True once a write to standard output failed; remembers its errno for
// finishStandardOutput. A long output checks it to stop early.
bool standardOutputFailed();

// The program's end: flushes and closes standard output. When that or an
// earlier write failed and `status` is 0, prints "error 61: ..." (or the
// write's own error) and returns 1; else returns `status`.
int finishStandardOutput(int status);

}  // namespace vantor::cli
