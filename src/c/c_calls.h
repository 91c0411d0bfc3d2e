// What every function of the C API does alike: arguments checked, every
// exception turned into a status and its description.
#pragma once

#include <vantor/errors.h>
#include <vantor/vantor_comm_c.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <type_traits>

namespace vantor::capi {

using vantor::RuntimeError;

inline constexpr vantor_status kOutOfMemory = VANTOR_OUT_OF_MEMORY;
inline constexpr vantor_status kInternalError = VANTOR_INTERNAL_ERROR;

// The error of a failed vantor_comm_create or vantor_records_open, which
// have no handle to keep it.
extern thread_local std::string createError;  // defined in vantor_comm_c.cpp

inline RuntimeError invalid(const std::string& why) {
    return RuntimeError(vantor::kErrInvalidCall, "Invalid procedure call or argument: " + why);
}

// A C caller may pass any int where an enumeration stands, and C++ may
// assume one of its values: the bits are read as the integer they are.
template <class E>
inline long long enumValue(const E& e) {
    std::underlying_type_t<E> v;
    std::memcpy(&v, &e, sizeof v);
    return static_cast<long long>(v);
}

template <class T>
inline T& need(T* p, const char* what) {
    if (p == nullptr) throw invalid(std::string(what) + " is NULL");
    return *p;
}

inline const char* text(const char* p, const char* what) {
    return &need(p, what);
}

inline void copyOut(const std::string& s, char* buffer, std::size_t size, std::size_t* length) {
    if (length != nullptr) *length = s.size();
    if (buffer == nullptr || size == 0) return;
    const std::size_t n = std::min(size - 1, s.size());
    std::memcpy(buffer, s.data(), n);
    buffer[n] = '\0';
}

// Keeps a description; one that cannot be made leaves the last one.
template <class Text>
inline void keep(std::string& error, Text&& text) noexcept {
    try {
        error = text();
    } catch (...) {
        // Out of memory for the text: the status still says what failed.
    }
}

// Runs `f`, turning every exception into a status and its description.
template <class F>
inline vantor_status guarded(std::string& error, F&& f) noexcept {
    try {
        f();
        return VANTOR_OK;
    } catch (const RuntimeError& e) {
        keep(error, [&] { return e.description(); });
        return e.number();
    } catch (const std::bad_alloc&) {
        keep(error, [] { return "Out of memory"; });
        return kOutOfMemory;
    } catch (const std::exception& e) {
        keep(error, [&] { return std::string("Internal error: ") + e.what(); });
        return kInternalError;
    } catch (...) {
        keep(error, [] { return "Internal error"; });
        return kInternalError;
    }
}

}  // namespace vantor::capi
