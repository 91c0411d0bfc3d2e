// Value types of the control's interface.
#pragma once

#include <vantor/errors.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantor {

using Integer = std::int16_t;
using Long = std::int32_t;
using Byte = std::uint8_t;
// 16-bit truth value: False is 0, True is -1 (all bits set); any nonzero
// value counts as true when tested.
using Boolean = std::int16_t;
inline constexpr Boolean VbFalse = 0;
inline constexpr Boolean VbTrue = -1;
// 8-bit text, one byte per character; embedded NULs are kept.
using String = std::string;

// A fixed text of exactly 10 characters. Ten NULs until assigned; a store pads
// a shorter text with spaces on the right and cuts a longer one after 10.
class Text10 {
  public:
    static constexpr std::size_t kLength = 10;

    Text10() { chars_.fill('\0'); }
    explicit Text10(std::string_view text) { assign(text); }

    Text10& operator=(std::string_view text) {
        assign(text);
        return *this;
    }
    void assign(std::string_view text) {
        chars_.fill(' ');
        std::copy_n(text.begin(), std::min(text.size(), kLength), chars_.begin());
    }
    // All 10 characters, padding included.
    std::string str() const { return std::string(chars_.data(), kLength); }
    std::string_view view() const { return std::string_view(chars_.data(), kLength); }
    bool operator==(const Text10&) const = default;

  private:
    std::array<char, kLength> chars_;
};

// A one-dimensional array with its own bounds, as a host passes one by
// reference. It may also be unallocated (no bounds at all).
template <class T>
class VbArray {
  public:
    VbArray() = default;
    VbArray(Long lower, Long upper) { redim(lower, upper); }

    void redim(Long lower, Long upper) {
        if (upper < lower) throw RuntimeError(kErrSubscript);
        lower_ = lower;
        items_.assign(static_cast<std::size_t>(upper - lower + 1), T{});
    }
    void erase() {
        lower_.reset();
        items_.clear();
    }
    bool allocated() const { return lower_.has_value(); }
    Long lbound() const { return checkedLower(); }
    Long ubound() const { return checkedLower() + static_cast<Long>(items_.size()) - 1; }
    bool contains(Long i) const { return allocated() && i >= *lower_ && i <= ubound(); }
    T& operator()(Long i) { return items_[offset(i)]; }
    const T& operator()(Long i) const { return items_[offset(i)]; }

  private:
    Long checkedLower() const {
        if (!lower_) throw RuntimeError(kErrSubscript);
        return *lower_;
    }
    std::size_t offset(Long i) const {
        if (!contains(i)) throw RuntimeError(kErrSubscript);
        return static_cast<std::size_t>(i - *lower_);
    }

    std::optional<Long> lower_;
    std::vector<T> items_;
};

}  // namespace vantor
