// Text between the control's UTF-8 and the wide-character (UTF-16) Win32 API.
#pragma once

#include <string>
#include <string_view>

namespace vantor {

// Bytes that are not valid UTF-8 become U+FFFD, as the API would show them.
std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view utf16);

}  // namespace vantor
