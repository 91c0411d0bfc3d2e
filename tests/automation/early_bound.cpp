// A host bound to the type library at build time: every call goes through
// _Vantor_Comm's vtable, not IDispatch.
//
// early_bound PORT DATA_FILE RECORDS SILENT_PORT
//
// PORT has a meter that sends RECORDS records; SILENT_PORT has no device.
// Prints one line per failure, then "N passed, M failed"; exits 1 on a
// failure.
#include <windows.h>
//
#include <oleauto.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "vantor_comm_h.h"

namespace {

constexpr DWORD kLimitMs = 120000;  // a hang guard only
const HRESULT kSubscript = static_cast<HRESULT>(0x800A0009u);

int passed = 0;
int failed = 0;

void check(bool ok, const std::string& what) {
    if (ok) {
        ++passed;
    } else {
        ++failed;
        std::printf("FAILED: %s\n", what.c_str());
    }
}

std::string hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

std::string narrow(BSTR s) {
    if (s == nullptr) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, s, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) ::WideCharToMultiByte(CP_UTF8, 0, s, -1, out.data(), n, nullptr, nullptr);
    return out;
}

class Bstr {
  public:
    explicit Bstr(const char* text) {
        const int n = ::MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
        s_ = ::SysAllocStringLen(nullptr, n > 0 ? n - 1 : 0);
        if (n > 1) ::MultiByteToWideChar(CP_ACP, 0, text, -1, s_, n);
    }
    Bstr() = default;
    ~Bstr() { ::SysFreeString(s_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR get() const { return s_; }
    BSTR* out() { return &s_; }

  private:
    BSTR s_ = nullptr;
};

// Elements hold 100 + index before the call; those up to lastZeroed must be 0
// after it (-1: none), the others unchanged.
struct ArrayCase {
    const char* name;
    bool allocated;
    LONG lower;
    ULONG count;
    HRESULT expected;
    LONG lastZeroed;
};

const ArrayCase kArrayCases[] = {
    {"0..5", true, 0, 6, S_OK, 5},
    {"0..9", true, 0, 10, S_OK, 5},
    {"1..6", true, 1, 6, kSubscript, -1},
    {"0..3", true, 0, 4, kSubscript, 3},
    {"unallocated", false, 0, 0, kSubscript, -1},
};

void getParameter(_Vantor_Comm* c, const ArrayCase& t) {
    const std::string what = std::string("GetParameter(") + t.name + ")";
    SAFEARRAY* array = nullptr;
    if (t.allocated) {
        SAFEARRAYBOUND bound{t.count, t.lower};
        array = ::SafeArrayCreate(VT_I2, 1, &bound);
        for (LONG i = t.lower; i < t.lower + static_cast<LONG>(t.count); ++i) {
            short value = static_cast<short>(100 + i);
            ::SafeArrayPutElement(array, &i, &value);
        }
    }
    SAFEARRAY* given = array;
    short result = -1;
    const HRESULT hr = c->GetParameter(&array, &result);
    check(hr == t.expected, what + ": " + hex(hr) + ", expected " + hex(t.expected));
    if (hr == S_OK) check(result == 0, what + ": result " + std::to_string(result));
    check(array == given, what + ": the caller's array was replaced");
    if (array == nullptr || array != given) return;
    LONG lower = 0, upper = -1;
    ::SafeArrayGetLBound(array, 1, &lower);
    ::SafeArrayGetUBound(array, 1, &upper);
    check(lower == t.lower && upper == t.lower + static_cast<LONG>(t.count) - 1,
          what + ": bounds changed");
    std::string got, expected;
    for (LONG i = lower; i <= upper; ++i) {
        short value = -1;
        ::SafeArrayGetElement(array, &i, &value);
        got += std::to_string(value) + " ";
        expected += std::to_string(i <= t.lastZeroed ? 0 : 100 + i) + " ";
    }
    check(got == expected, what + ": elements " + got + "expected " + expected);
    ::SafeArrayDestroy(array);
}

void run(_Vantor_Comm* c, IVantorCommHost* host, short port, const char* dataFile, LONG records,
         short silentPort) {
    LONG frames = -1;
    short status = -1;
    HRESULT hr = c->Read_Status(&frames, &status);
    check(hr == S_OK && status == 0 && frames == 0, "Read_Status on a fresh control: " + hex(hr) +
                                                        ", " + std::to_string(status) + ", " +
                                                        std::to_string(frames));

    for (const ArrayCase& t : kArrayCases) getParameter(c, t);

    short p = 3;
    hr = c->put_Port(&p);
    short back = 0;
    c->get_Port(&back);
    check(hr == S_OK && p == 3 && back == 3, "Port 3 read back as " + std::to_string(back));

    host->put_MessageBoxes(VARIANT_FALSE);
    Bstr file(dataFile);
    c->put_df(file.get());

    // A port with no device: the error is kept, not shown.
    p = silentPort;
    c->put_Port(&p);
    status = -1;
    hr = c->Start(&status);
    check(hr == S_OK && status == 0, "Start on a port without a device: " + hex(hr));
    LONG number = 0;
    host->get_LastErrorNumber(&number);
    Bstr description;
    host->get_LastErrorDescription(description.out());
    const std::string silentName = "COM" + std::to_string(silentPort);
    check(number == 8002 && narrow(description.get()).find(silentName) != std::string::npos,
          "LastError after Start on " + silentName + ": " + std::to_string(number) + " " +
              narrow(description.get()));

    p = port;
    c->put_Port(&p);
    status = -1;
    hr = c->Start(&status);
    check(hr == S_OK && status == 0, "Start: " + hex(hr));
    const ULONGLONG end = ::GetTickCount64() + kLimitMs;
    do {
        hr = c->Read_Status(&frames, &status);
        if (hr != S_OK || status != 0) break;
        ::Sleep(1);
    } while (::GetTickCount64() < end);
    check(hr == S_OK && status == 1,
          "Read_Status at the end: " + hex(hr) + ", " + std::to_string(status));
    LONG count = -1;
    host->get_FrameCount(&count);
    check(frames > 0 && count == frames,
          "frames " + std::to_string(frames) + ", FrameCount " + std::to_string(count));
    LONG written = -1;
    c->get_datano(&written);
    check(written == records, "datano " + std::to_string(written));
    number = -1;
    host->get_LastErrorNumber(&number);
    check(number == 0, "LastErrorNumber after a download: " + std::to_string(number));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: early_bound PORT DATA_FILE RECORDS SILENT_PORT\n");
        return 2;
    }
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    _Vantor_Comm* c = nullptr;
    HRESULT hr = ::CoCreateInstance(CLSID_Vantor_Comm, nullptr, CLSCTX_INPROC_SERVER,
                                    IID__Vantor_Comm, reinterpret_cast<void**>(&c));
    check(hr == S_OK && c != nullptr, "CoCreateInstance: " + hex(hr));
    IVantorCommHost* host = nullptr;
    if (c != nullptr) {
        hr = c->QueryInterface(IID_IVantorCommHost, reinterpret_cast<void**>(&host));
        check(hr == S_OK && host != nullptr, "QueryInterface(IVantorCommHost): " + hex(hr));
    }
    if (c != nullptr && host != nullptr) {
        run(c, host, static_cast<short>(std::atoi(argv[1])), argv[2], std::atol(argv[3]),
            static_cast<short>(std::atoi(argv[4])));
    }
    if (host != nullptr) host->Release();
    if (c != nullptr) c->Release();
    ::CoUninitialize();
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
