// The arguments of IDispatch::Invoke, as scripting hosts pass them: values,
// typed references (an early-bound host) or VARIANT references (VBScript).
#pragma once

#include <oaidl.h>
#include <windows.h>

#include <string>

namespace vantor::automation {

// What Invoke returns for arguments it cannot take, and which one (counted
// from the right, as puArgErr counts).
struct ArgumentError {
    HRESULT hr;
    UINT position;
};

// A BSTR the holder frees.
class Bstr {
  public:
    Bstr() = default;
    explicit Bstr(const std::string& utf8);
    ~Bstr() { ::SysFreeString(s_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR get() const { return s_; }
    BSTR* out() { return &s_; }
    BSTR release() {
        BSTR s = s_;
        s_ = nullptr;
        return s;
    }
    std::string utf8() const;

  private:
    BSTR s_ = nullptr;
};

std::string toUtf8(BSTR s);
BSTR toBstr(const std::string& utf8);

class Arguments {
  public:
    // Throws ArgumentError unless there are exactly `count` positional
    // arguments (a put's value counts as one).
    Arguments(DISPPARAMS* params, UINT count);

    short toShort(UINT i) const;
    LONG toLong(UINT i) const;
    VARIANT_BOOL toBool(UINT i) const;
    std::string toText(UINT i) const;
    // The array argument i holds or refers to; null when it holds none.
    SAFEARRAY** arrayRef(UINT i) const;

    // Writes through argument i when it is a reference; a value (what JScript
    // passes) keeps nothing.
    void store(UINT i, short value) const;
    void store(UINT i, LONG value) const;
    void storeBool(UINT i, VARIANT_BOOL value) const;
    void store(UINT i, BSTR value) const;

  private:
    VARIANT& at(UINT i) const { return params_->rgvarg[params_->cArgs - 1 - i]; }
    void convert(UINT i, VARTYPE type, VARIANT& out) const;
    void storeVariant(UINT i, VARIANT& value) const;
    DISPPARAMS* params_;
};

// A result for the caller, when it asked for one.
void setResult(VARIANT* result, short value);
void setResult(VARIANT* result, LONG value);
void setBoolResult(VARIANT* result, VARIANT_BOOL value);
void setResult(VARIANT* result, BSTR value);

}  // namespace vantor::automation
