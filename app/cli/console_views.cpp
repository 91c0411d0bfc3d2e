#include "console_views.h"

#include <algorithm>
#include <string>

namespace vantor::cli {

namespace {

constexpr auto kHintAfter = std::chrono::seconds(5);
const char* const kHint = "no data yet: press SEND on the meter, check the cable";

// Control bytes would upset a terminal; show them as '.'.
std::string printable(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        auto u = static_cast<unsigned char>(c);
        if (u < 32 || u == 127) c = '.';
    }
    return out;
}

}  // namespace

ConsolePanelView::ConsolePanelView(Vantor_Comm& comm, std::FILE* out, bool terminal,
                                   std::string device)
    : comm_(comm),
      out_(out),
      terminal_(terminal),
      device_(std::move(device)),
      lastBytes_(std::chrono::steady_clock::now()) {
    StatusPanel& p = comm.Panel();
    watch(p.Label1[2], [this] { statusChanged(); });
    if (terminal_) {
        watch(p.Label1[4], [this] { redraw(); });
        watch(p.Shape1, [this] { redraw(); });
        watch(p.Label3, [this] { redraw(); });
        hintTimer_.setInterval(1000);
        QObject::connect(&hintTimer_, &QTimer::timeout, [this] {
            bool armed = comm_.Panel().Shape1.visible();
            bool hint = armed && std::chrono::steady_clock::now() - lastBytes_ >= kHintAfter;
            if (hint != hint_) {
                hint_ = hint;
                redraw();
            }
        });
        hintTimer_.start();
    }
    statusChanged();
}

ConsolePanelView::~ConsolePanelView() {
    for (auto& s : subscriptions_) s.model->unsubscribe(s.id);
    close();
}

void ConsolePanelView::watch(Observable& model, std::function<void()> fn) {
    subscriptions_.push_back({&model, model.subscribe(std::move(fn))});
}

void ConsolePanelView::noteBytes() {
    lastBytes_ = std::chrono::steady_clock::now();
    if (hint_) {
        hint_ = false;
        redraw();
    }
}

void ConsolePanelView::close() {
    hintTimer_.stop();
    if (lineOpen_) std::fputc('\n', out_);
    lineOpen_ = false;
    std::fflush(out_);
}

void ConsolePanelView::statusChanged() {
    const String& status = comm_.Panel().Label1[2].caption();
    if (terminal_) {
        redraw();
        return;
    }
    if (status == lastStatus_ || status.empty()) return;
    lastStatus_ = status;
    std::fprintf(out_, "%s\n", printable(status).c_str());
    std::fflush(out_);
}

void ConsolePanelView::redraw() {
    const StatusPanel& p = comm_.Panel();
    std::string line = "\r\x1b[K" + printable(p.Label1[2].caption());
    if (line.size() == 4) line += "Idle";
    line += "  |  records: " + printable(p.Label1[4].caption());
    if (p.Shape1.visible()) {
        line += p.Shape1.fillColour() == kIndicatorBlue ? "  (o)" : "  (*)";
    }
    if (p.Label3.visible()) line += " " + p.Label3.caption();
    if (!device_.empty() && p.Shape1.visible()) line += " on " + printable(device_);
    if (hint_) line += std::string("  -- ") + kHint;
    std::fputs(line.c_str(), out_);
    std::fflush(out_);
    lineOpen_ = true;
}

namespace {

// A cell as the aligned table shows it. A unit name of NULs is an extended reading written
// without a unit file: say so rather than print dots.
std::string shownCell(const DataGrid& grid, Long r, Long c) {
    const String& text = grid.TextMatrix(r, c);
    if (c == 3 && r > 0 && !text.empty() && text.find_first_not_of('\0') == String::npos) {
        return "(no name)";
    }
    return printable(text);
}

}  // namespace

void printGrid(const DataGrid& grid, std::FILE* out, bool tsv) {
    const Long rows = grid.Rows();
    const Long cols = std::min<Long>(grid.Cols(), 4);
    if (tsv) {
        for (Long r = 0; r < rows; ++r) {
            std::string line;
            for (Long c = 0; c < cols; ++c) {
                if (c > 0) line += '\t';
                line += grid.TextMatrix(r, c);
            }
            line += '\n';
            std::fwrite(line.data(), 1, line.size(), out);
        }
        std::fflush(out);
        return;
    }
    std::vector<std::size_t> width(static_cast<std::size_t>(cols), 0);
    for (Long r = 0; r < rows; ++r) {
        for (Long c = 0; c < cols; ++c) {
            width[static_cast<std::size_t>(c)] =
                std::max(width[static_cast<std::size_t>(c)], shownCell(grid, r, c).size());
        }
    }
    auto printRow = [&](Long r) {
        std::string line;
        for (Long c = 0; c < cols; ++c) {
            std::string cell = shownCell(grid, r, c);
            std::size_t w = width[static_cast<std::size_t>(c)];
            // Numbers line up on the right, text on the left.
            bool right = c <= 1 || (c == 2 && r > 0 && grid.TextMatrix(r, 3) != "Time");
            std::string pad(w - cell.size(), ' ');
            line += c > 0 ? "  " : "";
            line += right ? pad + cell : cell + (c + 1 < cols ? pad : "");
        }
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), out);
    };
    for (Long r = 0; r < rows; ++r) {
        printRow(r);
        if (r == 0) {
            std::string rule;
            for (Long c = 0; c < cols; ++c) {
                rule += (c > 0 ? "  " : "") + std::string(width[static_cast<std::size_t>(c)], '-');
            }
            std::fprintf(out, "%s\n", rule.c_str());
        }
    }
    std::fflush(out);
}

}  // namespace vantor::cli
