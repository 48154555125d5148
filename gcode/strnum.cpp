#include "gcode/strnum.h"

#include <QtGlobal>

#include <cstdint>

namespace strnum {
namespace {

// What a pair of bytes means to the reader.
enum Kind : std::uint8_t {
    Invalid = 0,  // first byte is neither digit nor point
    TwoDigits,    // value 0-99
    DigitEnd,     // a digit followed by a non-digit, non-point: value 0-9
    DigitPoint,   // a digit followed by a point: value 0-9
    PointDigit,   // a point followed by a digit: value 0-9
    PointEnd,     // a point followed by anything else
};

struct Entry {
    std::uint8_t kind;
    std::uint8_t value;
};

// Index of the pair (a, b); a must lie in 0x20-0x3F. A second byte outside
// that range shares the row of "?" (0x3F), which means the same: not a digit.
inline unsigned pairIndex(unsigned a, unsigned b)
{
    return ((b & 0xE0) == 0x20) ? ((b & 31) << 5) | (a & 31) : 0x3E0 | (a & 31);
}

struct Table {
    Entry e[1024];
    bool consistent = true;
    bool written[1024] = {};

    void set(unsigned idx, Kind k, unsigned v)
    {
        const Entry n{std::uint8_t(k), std::uint8_t(v)};
        if (written[idx] && (e[idx].kind != n.kind || e[idx].value != n.value))
            consistent = false;
        e[idx] = n;
        written[idx] = true;
    }

    static Entry classify(unsigned a, bool bInRange, unsigned b)
    {
        const bool aDigit = a >= '0' && a <= '9';
        const bool bDigit = bInRange && b >= '0' && b <= '9';
        const bool bPoint = bInRange && b == '.';
        if (aDigit && bDigit)
            return {TwoDigits, std::uint8_t((a - '0') * 10 + (b - '0'))};
        if (aDigit && bPoint)
            return {DigitPoint, std::uint8_t(a - '0')};
        if (aDigit)
            return {DigitEnd, std::uint8_t(a - '0')};
        if (a == '.' && bDigit)
            return {PointDigit, std::uint8_t(b - '0')};
        if (a == '.')
            return {PointEnd, 0};
        return {Invalid, 0};
    }

    // Fills every entry for first byte `a`; the slots shared by several
    // pairs must agree, which is what `consistent` checks.
    void initRow(unsigned a)
    {
        for (unsigned b = 0x20; b < 0x40; ++b) {
            const Entry n = classify(a, true, b);
            set(pairIndex(a, b), Kind(n.kind), n.value);
        }
        const Entry n = classify(a, false, 0);
        set(pairIndex(a, 0), Kind(n.kind), n.value);
    }

    Table()
    {
        for (unsigned a = 0x20; a < 0x40; ++a)
            initRow(a);
        for (bool w : written)
            if (!w)
                consistent = false;
        if (!consistent)
            qCritical("_init_strToNormalFloat_rec() FATAL ERROR");
    }
};

// Built once at start-up, before the self-test below runs.
const Table s_table;
inline const Table &table() { return s_table; }

// Exact powers of ten up to 1e22 divide without double rounding; beyond
// that the reader multiplies by the reciprocal.
constexpr int kMaxFraction = 90;
double pow10(int k)
{
    double r = 1.0;
    for (int i = 0; i < k; ++i)
        r *= 10.0;
    return r;
}

struct Pow10Table {
    double pos[23];
    double neg[kMaxFraction + 1];
    Pow10Table()
    {
        for (int i = 0; i <= 22; ++i)
            pos[i] = pow10(i);
        for (int i = 0; i <= kMaxFraction; ++i)
            neg[i] = 1.0 / pow10(i);
    }
};

const Pow10Table s_powers;

constexpr std::int64_t kAccLimit = 100000000000000000LL; // 1e17: a further digit still fits 18
constexpr std::int64_t kFastLimit = 1000000000000000LL;  // 1e15: a further pair still fits

} // namespace

bool strToNormalFloat(const char *&text, float &out)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
    while (*p == ' ' || *p == '\t')
        ++p;
    bool neg = false;
    if (*p == '-') {
        neg = true;
        ++p;
    } else if (*p == '+') {
        ++p;
    }

    // The usual number: at most 15 digits with at most one point among them,
    // ending at a byte that is neither. The pair table reads the same digits
    // into the same integer and fraction count; anything else (a lone point,
    // a second point, more digits) is left to it.
    {
        const unsigned char *q = p;
        std::int64_t acc = 0;
        int digits = 0, frac = 0;
        while (unsigned(*q - '0') < 10 && digits <= 15) {
            acc = acc * 10 + (*q - '0');
            ++q;
            ++digits;
        }
        if (*q == '.' && digits <= 15) {
            ++q;
            while (unsigned(*q - '0') < 10 && digits + frac <= 15) {
                acc = acc * 10 + (*q - '0');
                ++q;
                ++frac;
            }
        }
        digits += frac;
        if (digits >= 1 && digits <= 15 && *q != '.' && unsigned(*q - '0') >= 10) {
            const Pow10Table &pw = s_powers;
            double v = double(acc);
            v = v / pw.pos[frac];
            out = float(neg ? -v : v);
            text = reinterpret_cast<const char *>(q);
            return true;
        }
    }
    return strToNormalFloatPairs(text, out);
}

bool strToNormalFloatPairs(const char *&text, float &out)
{
    const Entry *tab = table().e;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
    while (*p == ' ' || *p == '\t')
        ++p;
    bool neg = false;
    if (*p == '-') {
        neg = true;
        ++p;
    } else if (*p == '+') {
        ++p;
    }
    if (*p == 0)
        return false;

    std::int64_t acc = 0;
    int frac = 0;       // digits kept after the point
    bool point = false;
    bool started = false;
    bool ok = true;

    // One digit the slow way: past 18 significant digits the fraction is
    // cut off; an integer part that long cannot be read.
    auto digit = [&](unsigned d) {
        if (acc >= kAccLimit || (point && frac >= kMaxFraction)) {
            if (!point)
                ok = false;
            return;
        }
        acc = acc * 10 + d;
        if (point)
            ++frac;
    };

    for (;;) {
        const unsigned a = p[0];
        if ((a & 0xE0) != 0x20) {
            if (!started)
                return false;
            break;
        }
        const Entry en = tab[pairIndex(a, p[1])];
        if (en.kind == Invalid) {
            if (!started)
                return false;
            break;
        }
        started = true;
        if (en.kind == TwoDigits) {
            if (acc < kFastLimit && frac <= kMaxFraction - 2) {
                acc = acc * 100 + en.value;
                if (point)
                    frac += 2;
            } else {
                digit(en.value / 10);
                digit(en.value % 10);
            }
            p += 2;
            if (!ok)
                return false;
            continue;
        }
        if (en.kind == DigitEnd) {
            digit(en.value);
            p += 1;
            break;
        }
        if (en.kind == DigitPoint) {
            digit(en.value);
            if (point) { // a second point ends the number
                p += 1;
                break;
            }
            point = true;
            p += 2;
            if (!ok)
                return false;
            continue;
        }
        // PointDigit, PointEnd
        if (point)
            break;
        point = true;
        if (en.kind == PointEnd) {
            p += 1;
            break;
        }
        digit(en.value);
        p += 2;
    }
    if (!ok)
        return false;

    const Pow10Table &pw = s_powers;
    double v = double(acc);
    v = frac <= 22 ? v / pw.pos[frac] : v * pw.neg[frac];
    out = float(neg ? -v : v);
    text = reinterpret_cast<const char *>(p);
    return true;
}

bool testParseFloat(Reader reader)
{
    struct Sample {
        const char *text;
        float value;
    };
    static const Sample samples[] = {
        {"1", 1.f},          {"-12", -12.f},     {"123", 123.f},     {"1234", 1234.f},
        {"12345", 12345.f},  {"1234.5", 1234.5f}, {"123.45", 123.45f}, {"12.345", 12.345f},
        {"1.2345", 1.2345f}, {"0.12345", 0.12345f},
    };
    for (const Sample &s : samples) {
        const char *p = s.text;
        float v = 0;
        if (!reader(p, v) || v != s.value || *p != 0) {
            qWarning("_testParseFloat() FAILED");
            return false;
        }
    }
    return true;
}

namespace {
const bool s_initOk = table().consistent && testParseFloat(&strToNormalFloat) && testParseFloat(&strToNormalFloatPairs);
}

bool initOk() { return s_initOk; }

} // namespace strnum
