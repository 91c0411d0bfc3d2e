// Identity of the control's automation interface, kept for hosts that
// publish it: type library, class and interface identifiers, and the
// dispatch id of every operation in slot order.
#pragma once

#include <cstdint>

namespace vantor::ids {

inline constexpr const char* kTypeLibrary = "378a7527-0c83-4ae5-825a-f43912192a67";
inline constexpr const char* kTypeLibraryName = "VantorComm";
inline constexpr const char* kTypeLibraryHelp = "Vantor Meter Control";
inline constexpr const char* kClass = "94f05123-1118-4727-a5cc-8811292fd330";
inline constexpr const char* kDefaultInterface = "686ce4c9-72fb-4a30-aac1-474cf0b0b600";
inline constexpr const char* kEventInterface = "e25949a9-084b-4171-a448-75529315564a";
inline constexpr const char* kFileVersion = "1.00";

struct Operation {
    int slot;
    const char* name;
    const char* kind;  // "get", "put" or "method"
    std::uint32_t dispid;
};

inline constexpr Operation kOperations[] = {
    {1, "df", "get", 0x40030003},
    {2, "df", "put", 0x40030003},
    {3, "UnitIndex", "get", 0x40030005},
    {4, "UnitIndex", "put", 0x40030005},
    {5, "fgTransferOK", "get", 0x40030006},
    {6, "fgTransferOK", "put", 0x40030006},
    {7, "fgComPortOpen", "get", 0x40030007},
    {8, "fgComPortOpen", "put", 0x40030007},
    {9, "datano", "get", 0x40030008},
    {10, "datano", "put", 0x40030008},
    {11, "fg_Two_Display", "get", 0x40030009},
    {12, "fg_Two_Display", "put", 0x40030009},
    {13, "bReadDataOK", "get", 0x4003000a},
    {14, "bReadDataOK", "put", 0x4003000a},
    {15, "CheckFile", "method", 0x60030004},
    {16, "ViewData", "method", 0x60030005},
    {17, "ReadDataLogger", "method", 0x60030006},
    {18, "ReadDataLogger_2", "method", 0x60030007},
    {19, "SCI_Init", "method", 0x6003000f},
    {20, "Settings", "put", 0x68030003},
    {21, "Settings", "get", 0x68030003},
    {22, "Port", "put", 0x68030002},
    {23, "Port", "get", 0x68030002},
    {24, "Baudrate", "put", 0x68030001},
    {25, "Baudrate", "get", 0x68030001},
    {26, "AppPath", "put", 0x68030000},
    {27, "Read_Status", "method", 0x60030014},
    {28, "GetParameter", "method", 0x60030015},
    {29, "Start", "method", 0x60030016},
    {30, "GetFilename", "method", 0x60030017},
    {31, "ReadUnitFile", "method", 0x60030018},
};

}  // namespace vantor::ids
