#include <vantor/status_panel.h>

namespace vantor {

namespace {

void design(Label& label, const char* caption, TwipRect rect, Font font, bool border,
            Alignment alignment) {
    label.setCaption(caption);
    label.rect = rect;
    label.font = std::move(font);
    label.border = border;
    label.alignment = alignment;
}

}  // namespace

StatusPanel::StatusPanel(MessageLoop& loop) : Timer1(loop) {
    const Font times12{"Times New Roman", 12, false};
    const Colour blue = 0xFF0000;

    design(Label1[0], "Vantor_Comm", {120, 0, 1095, 375}, {"Arial", 11.25, false}, false,
           Alignment::Left);
    design(Label1[1], "Data Transfer Status", {0, 1200, 3615, 375}, times12, true,
           Alignment::Centre);
    Label1[1].foreColour = blue;
    design(Label1[2], "", {0, 1560, 3615, 375}, times12, true, Alignment::Centre);
    Label1[2].backColour = 0xC0FFC0;
    Label1[2].foreColour = blue;
    design(Label1[3], " Number of  Data", {4200, 1200, 1935, 375}, times12, true,
           Alignment::Centre);
    design(Label1[4], "0", {4200, 1560, 1935, 375}, times12, true, Alignment::Centre);
    Label1[4].backColour = 0xFFFFFF;
    Label1[4].foreColour = blue;

    Shape1.rect = {120, 2160, 255, 255};
    Shape1.setFillColour(kIndicatorGreen);
    Shape1.setVisible(false);

    design(Label3, "Receiving Data ...", {600, 2160, 1935, 255}, {"Times New Roman", 9, true},
           false, Alignment::Left);
    Label3.transparent = true;
    Label3.setVisible(false);

    Timer1.setEnabled(false);
    Timer1.setInterval(500);
}

}  // namespace vantor
