// What VantorComm.ocx keeps as a module: its instance handle, the objects and
// locks that keep it loaded, and its embedded type library.
#pragma once

#include <oaidl.h>
#include <windows.h>

#include <string>

namespace vantor::automation {

HINSTANCE moduleInstance();
std::wstring modulePath();

// Counted, so that DllCanUnloadNow answers true only when nothing is left.
void objectCreated();
void objectDestroyed();

// A type description of the embedded library, loaded once; AddRef'd for the
// caller. Null when the library cannot be loaded.
ITypeInfo* typeInfo(REFGUID guid);

}  // namespace vantor::automation
