// The control's own members (the host's are ControlPublic), with their types
// and initial values. The receiver's state lives in its FrameReceiver.
#pragma once

#include <vantor/control_fields.h>
#include <vantor/types.h>

#include <array>

#include "protocol/frame.h"
#include "protocol/record_writer.h"

namespace vantor {

struct ControlPrivate {
    double dValue = 0;
    Cells iDigit{};                   // the last frame's cells; iDigit[k]: frame byte 15 - k
    UnitNames sUnitName{};            // unit names by unit code
    Long lDecodeCount = 0;            // frames handed to the decoder
    String sCommSettings;             // Settings property
    Integer iCommPort = 0;            // Port property
    Integer iCommBaud = 0;            // Baudrate property
    std::array<Integer, 6> iParam{};  // GetParameter's block, never written
    String sUnitFilePath;             // AppPath property
    Boolean bBlinkPhase = VbFalse;    // indicator phase, never reset
};

}  // namespace vantor
