// Registration for the machine (DllRegisterServer) or for the current user
// alone (DllInstall with "user"): the class as a control forms can hold, its
// ProgIDs, the type library and its interfaces, under Software\Classes of
// HKLM or HKCU. Unregistering removes all of it and nothing else.
#include <windows.h>

#include <string>
#include <vector>

#include "server.h"
#include "vantor_comm_h.h"

namespace vantor::automation {

namespace {

constexpr wchar_t kProgId[] = L"VantorComm.Vantor_Comm";
constexpr wchar_t kVersionedProgId[] = L"VantorComm.Vantor_Comm.1";
constexpr wchar_t kClassName[] = L"Vantor_Comm";
constexpr wchar_t kLibraryName[] = L"Vantor Meter Control";
constexpr wchar_t kLibraryVersion[] = L"10.0";
// The library's locale, 1033, as the key RegisterTypeLib would make.
constexpr wchar_t kLibraryLocale[] = L"409";
// The type library's marshaller for dual interfaces, and for dispatch ones.
constexpr wchar_t kDualMarshaller[] = L"{00020424-0000-0000-C000-000000000046}";
constexpr wchar_t kDispatchMarshaller[] = L"{00020420-0000-0000-C000-000000000046}";
constexpr bool k64Bit = sizeof(void*) == 8;
// OLEMISC_RECOMPOSEONRESIZE | CANTLINKINSIDE | INSIDEOUT | ACTIVATEWHENVISIBLE
// | SETCLIENTSITEFIRST, as IOleObject::GetMiscStatus answers.
constexpr wchar_t kMiscStatus[] = L"131473";
constexpr wchar_t kControlCategory[] = L"{40FC6ED4-2438-11CF-A3DB-080036F12502}";
constexpr wchar_t kMadeFolders[] = L"VantorCommMadeFolders";
// Innermost first, Software\Classes itself ("") last.
const wchar_t* const kFolders[] = {L"CLSID", L"Interface", L"TypeLib", L""};

std::wstring text(REFGUID guid) {
    wchar_t s[40] = {};
    ::StringFromGUID2(guid, s, 40);
    return s;
}

struct Interface {
    const IID* iid;
    const wchar_t* name;
    const wchar_t* marshaller;
};
const Interface kInterfaces[] = {
    {&IID__Vantor_Comm, L"_Vantor_Comm", kDualMarshaller},
    {&IID_IVantorCommHost, L"IVantorCommHost", kDualMarshaller},
    {&DIID___Vantor_Comm, L"__Vantor_Comm", kDispatchMarshaller},
};

class Classes {
  public:
    explicit Classes(bool perUser) : root_(perUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE) {}

    // Creates `path` (below Software\Classes) with `value` as the named
    // value, or as the default one when `name` is null.
    LSTATUS set(const std::wstring& path, const wchar_t* name, const std::wstring& value) const {
        HKEY key = nullptr;
        LSTATUS status = ::RegCreateKeyExW(root_, full(path).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                           nullptr, &key, nullptr);
        if (status != ERROR_SUCCESS) return status;
        status =
            ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        ::RegCloseKey(key);
        return status;
    }
    std::wstring get(const std::wstring& path, const wchar_t* name) const {
        wchar_t value[512] = {};
        DWORD size = sizeof value - sizeof(wchar_t);
        if (::RegGetValueW(root_, full(path).c_str(), name, RRF_RT_REG_SZ, nullptr, value, &size) !=
            ERROR_SUCCESS) {
            return {};
        }
        return value;
    }
    void removeTree(const std::wstring& path) const {
        ::RegDeleteTreeW(root_, full(path).c_str());
        ::RegDeleteKeyW(root_, full(path).c_str());
    }
    bool exists(const std::wstring& path) const {
        HKEY key = nullptr;
        if (::RegOpenKeyExW(root_, full(path).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
            return false;
        }
        ::RegCloseKey(key);
        return true;
    }
    std::vector<std::wstring> subkeys(const std::wstring& path) const {
        std::vector<std::wstring> names;
        HKEY key = nullptr;
        if (::RegOpenKeyExW(root_, full(path).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
            return names;
        }
        wchar_t name[256];
        for (DWORD i = 0;; ++i) {
            DWORD size = 256;
            if (::RegEnumKeyExW(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS) {
                break;
            }
            names.emplace_back(name, size);
        }
        ::RegCloseKey(key);
        return names;
    }
    // Removes `path` when nothing is left below it.
    void removeIfEmpty(const std::wstring& path) const {
        HKEY key = nullptr;
        if (::RegOpenKeyExW(root_, full(path).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
        DWORD subkeys = 0;
        const bool empty =
            ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
            subkeys == 0;
        ::RegCloseKey(key);
        if (empty) removeTree(path);
    }

  private:
    static std::wstring full(const std::wstring& path) {
        return path.empty() ? L"Software\\Classes" : L"Software\\Classes\\" + path;
    }
    HKEY root_;
};

void unregister(const Classes& classes) {
    const std::wstring clsid = text(CLSID_Vantor_Comm);
    const std::wstring made = classes.get(L"CLSID\\" + clsid, kMadeFolders);
    classes.removeTree(L"CLSID\\" + clsid);
    // A ProgID another server has taken since is not ours to remove.
    for (const wchar_t* progId : {kProgId, kVersionedProgId}) {
        if (classes.get(std::wstring(progId) + L"\\CLSID", nullptr) == clsid) {
            classes.removeTree(progId);
        }
    }
    const std::wstring library = L"TypeLib\\" + text(LIBID_VantorComm);
    const std::wstring version = library + L"\\" + kLibraryVersion;
    const std::wstring locale = version + L"\\" + kLibraryLocale;
    // The other processor's registration of the same library stays.
    classes.removeTree(locale + (k64Bit ? L"\\win64" : L"\\win32"));
    classes.removeIfEmpty(locale);
    // FLAGS and HELPDIR are subkeys of the version too; any other is a locale.
    bool registered = false;
    for (const std::wstring& name : classes.subkeys(version)) {
        registered |= name != L"FLAGS" && name != L"HELPDIR";
    }
    if (!registered) classes.removeTree(version);
    classes.removeIfEmpty(library);
    for (const Interface& i : kInterfaces) classes.removeTree(L"Interface\\" + text(*i.iid));
    // The folders registration made go again when nothing else is in them.
    for (const wchar_t* folder : kFolders) {
        if (made.find(L"<" + std::wstring(folder) + L">") != std::wstring::npos) {
            classes.removeIfEmpty(folder);
        }
    }
}

HRESULT registerIn(const Classes& classes) {
    const std::wstring path = modulePath();
    const std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
    const std::wstring clsid = text(CLSID_Vantor_Comm);
    const std::wstring libid = text(LIBID_VantorComm);
    const std::wstring classKey = L"CLSID\\" + clsid;
    const std::wstring version = L"TypeLib\\" + libid + L"\\" + kLibraryVersion;
    struct Entry {
        std::wstring key;
        const wchar_t* name;
        std::wstring value;
    };
    // A user's classes may begin with ours (under Wine they do): which
    // folders this made is kept with the class, for unregistering.
    std::wstring made = classes.get(classKey, kMadeFolders);
    for (const wchar_t* parent : kFolders) {
        if (!classes.exists(parent)) made += L"<" + std::wstring(parent) + L">";
    }
    std::vector<Entry> entries = {
        {classKey, nullptr, kClassName},
        {classKey, kMadeFolders, made},
        {classKey + L"\\InprocServer32", nullptr, path},
        {classKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
        {classKey + L"\\ProgID", nullptr, kVersionedProgId},
        {classKey + L"\\VersionIndependentProgID", nullptr, kProgId},
        {classKey + L"\\TypeLib", nullptr, libid},
        {classKey + L"\\Version", nullptr, kLibraryVersion},
        // What a VB form's Components dialog, an Office form's Additional
        // Controls and other containers list. It opens ports and writes the
        // files it is told to: never marked safe for scripting in a browser.
        {classKey + L"\\Control", nullptr, L""},
        {classKey + L"\\MiscStatus", nullptr, L"0"},
        {classKey + L"\\MiscStatus\\1", nullptr, kMiscStatus},
        {classKey + L"\\ToolboxBitmap32", nullptr, path + L", 1"},
        {classKey + L"\\Implemented Categories\\" + kControlCategory, nullptr, L""},
        {kVersionedProgId, nullptr, kClassName},
        {std::wstring(kVersionedProgId) + L"\\CLSID", nullptr, clsid},
        {kProgId, nullptr, kClassName},
        {std::wstring(kProgId) + L"\\CLSID", nullptr, clsid},
        {std::wstring(kProgId) + L"\\CurVer", nullptr, kVersionedProgId},
        {version, nullptr, kLibraryName},
        {version + L"\\" + kLibraryLocale + (k64Bit ? L"\\win64" : L"\\win32"), nullptr, path},
        // LIBFLAG_FCONTROL: the library describes a control.
        {version + L"\\FLAGS", nullptr, L"2"},
        {version + L"\\HELPDIR", nullptr, folder},
    };
    for (const Interface& i : kInterfaces) {
        const std::wstring key = L"Interface\\" + text(*i.iid);
        entries.push_back({key, nullptr, i.name});
        entries.push_back({key + L"\\ProxyStubClsid", nullptr, i.marshaller});
        entries.push_back({key + L"\\ProxyStubClsid32", nullptr, i.marshaller});
        entries.push_back({key + L"\\TypeLib", nullptr, libid});
        entries.push_back({key + L"\\TypeLib", L"Version", kLibraryVersion});
    }
    for (const Entry& e : entries) {
        const LSTATUS status = classes.set(e.key, e.name, e.value);
        if (status != ERROR_SUCCESS) {
            unregister(classes);
            return HRESULT_FROM_WIN32(status);
        }
    }
    return S_OK;
}

}  // namespace

}  // namespace vantor::automation

using namespace vantor::automation;

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
    return registerIn(Classes(false));
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
    unregister(Classes(false));
    return S_OK;
}

// regsvr32 /n /i:user registers for the current user; any other command
// line, for the machine.
extern "C" HRESULT STDAPICALLTYPE DllInstall(BOOL install, LPCWSTR commandLine) {
    const bool perUser = commandLine != nullptr && ::lstrcmpiW(commandLine, L"user") == 0;
    const Classes classes(perUser);
    if (install) return registerIn(classes);
    unregister(classes);
    return S_OK;
}
