// The control record: every member of the control with its type and initial
// value. The public members (ControlPublic) are the host's fields; these
// belong to the control's own procedures.
#pragma once

#include <vantor/control_fields.h>
#include <vantor/types.h>

#include <array>
#include <optional>

namespace vantor {

// A tagged value that is empty or holds a Byte (the only kind the frame
// buffer ever stores).
using Variant = std::optional<Byte>;

// The meter's end marker: ESC bytes counted over a transfer; from the 14th
// on frames are no longer written, the 28th ends the transfer.
inline constexpr Byte kEsc = 27;
inline constexpr int kEscStopRecords = 14;
inline constexpr int kEscEndTransfer = 28;

struct ControlPrivate {
    double dValue = 0;
    std::array<Integer, 16> iDigit{};      // iDigit[k]: digit value of frame byte 15 - k
    std::array<Text10, 301> sUnitName{};   // unit names by unit code
    Integer iRxState = 0;                  // 0 hunting, 2 collecting
    std::array<Byte, 16> bySync{};         // [1] holds the start byte 2
    std::array<Variant, 171> vFrameBuf{};  // frame being collected, positions 0..15
    Integer iFrameEnd = 0;                 // position of the terminator
    Integer iSyncIdx = 0;                  // index in bySync of the start byte hunted
    Integer iRxIdx = 0;                    // position of the last byte stored
    Long lDecodeCount = 0;                 // frames handed to the decoder
    Integer iEscCount = 0;                 // ESC bytes inside frames this transfer
    String sCommSettings;                  // Settings property
    Integer iCommPort = 0;                 // Port property
    Integer iCommBaud = 0;                 // Baudrate property
    std::array<Integer, 6> iParam{};       // GetParameter's block, never written
    String sUnitFilePath;                  // AppPath property
    Long lFrameCount = 0;                  // frames completed while iEscCount was 0
    Boolean bBlinkPhase = VbFalse;         // indicator phase, never reset
};

}  // namespace vantor
