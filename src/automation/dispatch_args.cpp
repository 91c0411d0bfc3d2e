#include "dispatch_args.h"

#include "platform/win32/wide_text.h"

namespace vantor::automation {

namespace {

struct Variant {
    Variant() { ::VariantInit(&v); }
    ~Variant() { ::VariantClear(&v); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    VARIANT v;
};

// An omitted optional argument arrives as this error value.
bool missing(const VARIANT& v) {
    return v.vt == VT_ERROR && v.scode == DISP_E_PARAMNOTFOUND;
}

}  // namespace

Bstr::Bstr(const std::string& utf8) : s_(toBstr(utf8)) {}
std::string Bstr::utf8() const {
    return toUtf8(s_);
}

std::string toUtf8(BSTR s) {
    return s == nullptr ? std::string() : narrow(std::wstring_view(s, ::SysStringLen(s)));
}

BSTR toBstr(const std::string& utf8) {
    const std::wstring wide = widen(utf8);
    BSTR s = ::SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    if (s == nullptr) throw std::bad_alloc();
    return s;
}

Arguments::Arguments(DISPPARAMS* params, UINT count) : params_(params) {
    if (params_ == nullptr || params_->cArgs != count) throw ArgumentError{DISP_E_BADPARAMCOUNT, 0};
    for (UINT i = 0; i < count; ++i) {
        if (missing(at(i))) throw ArgumentError{DISP_E_PARAMNOTOPTIONAL, count - 1 - i};
    }
}

void Arguments::convert(UINT i, VARTYPE type, VARIANT& out) const {
    Variant plain;
    HRESULT hr = ::VariantCopyInd(&plain.v, &at(i));
    if (SUCCEEDED(hr)) hr = ::VariantChangeType(&out, &plain.v, 0, type);
    if (FAILED(hr)) throw ArgumentError{hr, params_->cArgs - 1 - i};
}

short Arguments::toShort(UINT i) const {
    Variant v;
    convert(i, VT_I2, v.v);
    return v.v.iVal;
}

LONG Arguments::toLong(UINT i) const {
    Variant v;
    convert(i, VT_I4, v.v);
    return v.v.lVal;
}

VARIANT_BOOL Arguments::toBool(UINT i) const {
    Variant v;
    convert(i, VT_BOOL, v.v);
    return v.v.boolVal;
}

std::string Arguments::toText(UINT i) const {
    Variant v;
    convert(i, VT_BSTR, v.v);
    return toUtf8(v.v.bstrVal);
}

SAFEARRAY** Arguments::arrayRef(UINT i) const {
    VARIANT* v = &at(i);
    if (v->vt == (VT_BYREF | VT_VARIANT)) v = v->pvarVal;
    if ((v->vt & VT_ARRAY) == 0) {
        // An array never dimensioned: the subscript check refuses it.
        if (v->vt == VT_EMPTY || v->vt == VT_NULL) return nullptr;
        throw ArgumentError{DISP_E_TYPEMISMATCH, params_->cArgs - 1 - i};
    }
    return (v->vt & VT_BYREF) != 0 ? v->pparray : &v->parray;
}

void Arguments::storeVariant(UINT i, VARIANT& value) const {
    VARIANT& target = at(i);
    if ((target.vt & VT_BYREF) == 0) return;
    if (target.vt == (VT_BYREF | VT_VARIANT)) {
        ::VariantClear(target.pvarVal);
        *target.pvarVal = value;
        value.vt = VT_EMPTY;
        return;
    }
    // A typed reference of another type than ours takes the value converted.
    Variant typed;
    HRESULT hr =
        ::VariantChangeType(&typed.v, &value, 0, static_cast<VARTYPE>(target.vt & ~VT_BYREF));
    if (FAILED(hr)) throw ArgumentError{hr, params_->cArgs - 1 - i};
    switch (target.vt & ~VT_BYREF) {
        case VT_I2:
            *target.piVal = typed.v.iVal;
            return;
        case VT_I4:
            *target.plVal = typed.v.lVal;
            return;
        case VT_BOOL:
            *target.pboolVal = typed.v.boolVal;
            return;
        case VT_R8:
            *target.pdblVal = typed.v.dblVal;
            return;
        case VT_BSTR:
            ::SysFreeString(*target.pbstrVal);
            *target.pbstrVal = typed.v.bstrVal;
            typed.v.vt = VT_EMPTY;
            return;
        default:
            throw ArgumentError{DISP_E_TYPEMISMATCH, params_->cArgs - 1 - i};
    }
}

void Arguments::store(UINT i, short value) const {
    Variant v;
    v.v.vt = VT_I2;
    v.v.iVal = value;
    storeVariant(i, v.v);
}

void Arguments::store(UINT i, LONG value) const {
    Variant v;
    v.v.vt = VT_I4;
    v.v.lVal = value;
    storeVariant(i, v.v);
}

void Arguments::storeBool(UINT i, VARIANT_BOOL value) const {
    Variant v;
    v.v.vt = VT_BOOL;
    v.v.boolVal = value;
    storeVariant(i, v.v);
}

void Arguments::store(UINT i, BSTR value) const {
    Variant v;
    v.v.vt = VT_BSTR;
    v.v.bstrVal = value;  // freed with v, unless handed over
    storeVariant(i, v.v);
}

void setResult(VARIANT* result, short value) {
    if (result == nullptr) return;
    result->vt = VT_I2;
    result->iVal = value;
}

void setResult(VARIANT* result, LONG value) {
    if (result == nullptr) return;
    result->vt = VT_I4;
    result->lVal = value;
}

void setBoolResult(VARIANT* result, VARIANT_BOOL value) {
    if (result == nullptr) return;
    result->vt = VT_BOOL;
    result->boolVal = value;
}

void setResult(VARIANT* result, BSTR value) {
    if (result == nullptr) {
        ::SysFreeString(value);
        return;
    }
    result->vt = VT_BSTR;
    result->bstrVal = value;
}

}  // namespace vantor::automation
