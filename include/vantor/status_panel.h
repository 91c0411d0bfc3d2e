// The control's status panel: title, headings, status line, record counter
// and the blinking indicator, in their design state.
#pragma once

#include <vantor/forms.h>

#include <array>

namespace vantor {

class MessageLoop;

inline constexpr Colour kIndicatorGreen = 0x80FF80;
inline constexpr Colour kIndicatorBlue = 0xFF8080;

// Design area of the control, in twips.
inline constexpr int kDesignWidth = 6915;
inline constexpr int kDesignHeight = 2775;

struct StatusPanel {
    explicit StatusPanel(MessageLoop& loop);

    // 0 title, 1 and 3 headings, 2 status line, 4 record counter.
    std::array<Label, 5> Label1;
    Label Label3;  // "Receiving Data ..."
    Shape Shape1;  // indicator
    Timer Timer1;  // blink, 500 ms
};

}  // namespace vantor
