// The fields of the control that the host reads and writes directly.
#pragma once

#include <vantor/types.h>

namespace vantor {

// The control's public fields: the host reads and writes them directly.
struct ControlPublic {
    String df;                         // data file of the current transfer
    Integer UnitIndex = 0;             // unit code of the last decoded frame
    Boolean fgTransferOK = VbFalse;    // the end marker has been received
    Boolean fgComPortOpen = VbFalse;   // a transfer is armed
    Long datano = 0;                   // records written in the current transfer
    Boolean fg_Two_Display = VbFalse;  // kept for the host only
    Boolean bReadDataOK = VbFalse;     // kept for the host only
};

}  // namespace vantor
