#include "trial_decoder.h"

#include <charconv>
#include <cmath>

#include "decode/frame_decoder.h"
#include "platform/number_format.h"

namespace vantor::bench {

namespace {

constexpr Byte kCr = 13;

double powerOfTen(int n) {
    static constexpr double kExact[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    return n >= 0 && n <= 22 ? kExact[n] : std::pow(10.0, n);
}

bool isDigitValue(Integer x) {
    return x >= 0 && x <= 9;
}

// A line under construction; every line fits (the longest is well under 100).
struct LineBuffer {
    char buf[160];
    char* p = buf;

    void put(char c) { *p++ = c; }
    void put(std::string_view s) {
        s.copy(p, s.size());
        p += s.size();
    }
    void integer(long long value) {
        if (value >= 0 && value <= 9) {
            *p++ = static_cast<char>('0' + value);
            return;
        }
        p = std::to_chars(p, buf + sizeof buf, value).ptr;
    }
    void number(double value) {
        std::string text;
        appendNumber(text, value);
        put(text);
    }
    // mantissa x 10^-decimals as appendNumber writes it (see appendScaled).
    void scaled(bool negative, std::uint64_t mantissa, int decimals) {
        if (mantissa == 0) {
            put('0');  // negative zero too
            return;
        }
        // An integer of at most 15 digits over a power of ten is exact at 15
        // significant digits: the digits are the mantissa's own.
        char digits[24];
        int nd =
            static_cast<int>(std::to_chars(digits, digits + sizeof digits, mantissa).ptr - digits);
        const int exponent = nd - 1 - decimals;
        if (nd > 15 || exponent < -10 || exponent >= 15) {
            const double m = static_cast<double>(mantissa);
            const double value =
                decimals >= 0 ? m / powerOfTen(decimals) : m * powerOfTen(-decimals);
            number(negative ? -value : value);
            return;
        }
        while (nd > 1 && digits[nd - 1] == '0') --nd;
        if (negative) put('-');
        if (exponent < 0) {
            put("0.");
            for (int i = -exponent - 1; i > 0; --i) put('0');
            put(std::string_view(digits, static_cast<std::size_t>(nd)));
            return;
        }
        const int whole = exponent + 1;
        if (nd <= whole) {
            put(std::string_view(digits, static_cast<std::size_t>(nd)));
            for (int i = whole - nd; i > 0; --i) put('0');
        } else {
            put(std::string_view(digits, static_cast<std::size_t>(whole)));
            put('.');
            put(std::string_view(digits + whole, static_cast<std::size_t>(nd - whole)));
        }
    }
    void appendTo(std::string& out) const { out.append(buf, static_cast<std::size_t>(p - buf)); }
};

bool digitsFrom(const ControlPrivate& m, int first, int last, std::uint64_t& mantissa) {
    mantissa = 0;
    for (int pos = first; pos <= last; ++pos) {
        const Integer d = cell(m, pos);
        if (!isDigitValue(d)) return false;
        mantissa = mantissa * 10 + static_cast<std::uint64_t>(d);
    }
    return true;
}

}  // namespace

void appendScaled(std::string& out, bool negative, std::uint64_t mantissa, int decimals) {
    LineBuffer b;
    b.scaled(negative, mantissa, decimals);
    b.appendTo(out);
}

void trialDecodeCells(ControlPublic& pub, ControlPrivate& m, Long sequence, std::string& line) {
    pub.UnitIndex = unitCodeOf(m);
    const Integer kind = cell(m, 1);
    const Integer b2 = cell(m, 2);
    LineBuffer out;
    out.integer(sequence);
    out.put(',');

    if (kind == 4 && b2 == 0) {
        out.put('"');
        for (int pos = 3; pos <= 14; ++pos) out.integer(cell(m, pos));
        out.put("\",\"Time\",0");
        out.appendTo(line);
        return;
    }

    if (kind == 4) {
        const int scale = cell(m, 6);
        const bool negative = cell(m, 5) == 1;
        std::uint64_t mantissa = 0;
        bool exactDigits = false;
        if (!isDigitValue(cell(m, 11))) {
            m.dValue = kInvalidValue;
        } else {
            double value = 0;
            for (int pos = 7; pos <= 14; ++pos) value = value * 10 + cell(m, pos);
            if (scale <= 6) {
                value /= powerOfTen(scale);
            } else if (scale >= 7 && scale <= 9) {
                value *= powerOfTen(scale - 6);
            }
            if (negative) value = -value;
            m.dValue = value;
            exactDigits = scale >= 0 && scale <= 9 && digitsFrom(m, 7, 14, mantissa);
        }
        const Integer channel = hexAdjust(b2);
        m.iDigit[13] = channel;
        if (exactDigits) {
            out.scaled(negative, mantissa, scale <= 6 ? scale : 6 - scale);
        } else {
            out.number(m.dValue);
        }
        out.put(',');
        if (pub.UnitIndex >= 0 && pub.UnitIndex <= 300) {
            out.put('"');
            out.put(m.sUnitName[static_cast<std::size_t>(pub.UnitIndex)].view());
            out.put('"');
        } else {
            out.integer(pub.UnitIndex);
        }
        out.put(',');
        out.integer(channel);
        out.appendTo(line);
        return;
    }

    const int decimals = cell(m, 6);
    const bool negative = kind == 1 || kind == 3;
    std::uint64_t mantissa = 0;
    bool exactDigits = false;
    if (!isDigitValue(cell(m, 11))) {
        m.dValue = kInvalidValue;
    } else {
        double value =
            cell(m, 11) * 1000.0 + cell(m, 12) * 100.0 + cell(m, 13) * 10.0 + cell(m, 14);
        value /= powerOfTen(decimals);
        if (negative) value = -value;
        m.dValue = value;
        exactDigits = decimals >= 0 && decimals <= 9 && digitsFrom(m, 11, 14, mantissa);
    }
    if (exactDigits) {
        out.scaled(negative, mantissa, decimals);
    } else {
        out.number(m.dValue);
    }
    out.put(',');
    out.integer(pub.UnitIndex);
    out.put(',');
    out.integer(b2);
    out.appendTo(line);
}

ReceiveResult trialReceiveBytes(ControlPrivate& m, std::string_view bytes,
                                const std::function<void()>& dispatch, ReceiverCounters& counters) {
    const Integer lastSlot = static_cast<Integer>(m.vFrameBuf.size() - 1);
    const auto* data = reinterpret_cast<const Byte*>(bytes.data());
    const std::size_t size = bytes.size();
    // The state lives in locals; the control record is brought up to date
    // before every dispatch and on the way out.
    Integer state = m.iRxState, idx = m.iRxIdx, esc = m.iEscCount;
    Byte sync = m.bySync[static_cast<std::size_t>(m.iSyncIdx & 15)];
    Integer frameEnd = m.iFrameEnd;
    Long skipped = 0;
    auto save = [&] {
        m.iRxState = state;
        m.iRxIdx = idx;
        m.iEscCount = esc;
        counters.bytesSkipped += skipped;
        skipped = 0;
    };

    for (std::size_t i = 0; i < size; ++i) {
        const Byte b = data[i];
        if (state != 2) {
            if (b != sync) {
                ++skipped;
                continue;
            }
            idx = 0;
            state = 2;
            // A whole frame in this read: check it in one go, unless its ESC
            // bytes could end the transfer part-way (that needs the exact byte).
            if (frameEnd >= 1 && frameEnd <= lastSlot && size - i - 1 >= std::size_t(frameEnd)) {
                const Byte* f = data + i + 1;
                int escs = 0;
                for (int k = 0; k + 1 < frameEnd; ++k) escs += f[k] == kEsc;
                if (esc + escs < kEscEndTransfer) {
                    for (int k = 0; k < frameEnd; ++k) {
                        m.vFrameBuf[static_cast<std::size_t>(k + 1)] = f[k];
                    }
                    esc = static_cast<Integer>(esc + escs);
                    i += static_cast<std::size_t>(frameEnd);
                    const Byte last = f[frameEnd - 1];
                    if (last != kCr) {
                        ++counters.framesRejected;
                        state = 0;
                        idx = frameEnd;
                        if (last == sync) {
                            idx = 0;
                            state = 2;
                        }
                        continue;
                    }
                    idx = frameEnd;
                    save();
                    dispatch();
                    ++counters.framesReceived;
                    if (m.iEscCount == 0) ++m.lFrameCount;
                    m.iSyncIdx = 1;
                    m.iRxState = 0;
                    state = 0;
                    idx = m.iRxIdx;
                    esc = m.iEscCount;
                    sync = m.bySync[1];
                    frameEnd = m.iFrameEnd;
                    continue;
                }
            }
            continue;
        }

        ++idx;
        m.vFrameBuf[static_cast<std::size_t>(idx)] = b;
        if (idx == frameEnd || idx >= lastSlot) {
            if (b != kCr || idx != frameEnd) {
                ++counters.framesRejected;
                state = 0;
                if (b == sync) {
                    idx = 0;
                    state = 2;
                }
                continue;
            }
            save();
            dispatch();
            ++counters.framesReceived;
            if (m.iEscCount == 0) ++m.lFrameCount;
            m.iSyncIdx = 1;
            m.iRxState = 0;
            state = 0;
            idx = m.iRxIdx;
            esc = m.iEscCount;
            sync = m.bySync[1];
            frameEnd = m.iFrameEnd;
        }
        if (b == kEsc) {
            ++esc;
            if (esc >= kEscEndTransfer) {
                save();
                return ReceiveResult::TransferEnded;
            }
        }
    }
    save();
    return ReceiveResult::Continue;
}

}  // namespace vantor::bench
