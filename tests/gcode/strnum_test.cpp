#include "gcode/strnum.h"

#include <QString>
#include <QtGlobal>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

namespace {

struct NumCase {
    const char *text;
    bool ok;
    float value;
    int consumed; // bytes read on success; -1: all of them
};

TEST(StrNum, ReadsAndStopsWhereExpected)
{
    const NumCase cases[] = {
        {"1", true, 1.f, 1},
        {"-12", true, -12.f, 3},
        {"+5", true, 5.f, 2},
        {"  \t7", true, 7.f, 4},
        {"-3.5X", true, -3.5f, 4},
        {"12.345 Y", true, 12.345f, 6},
        {"1.2.3", true, 1.2f, 3},   // a second point ends the number
        {"12.3.4", true, 12.3f, 4},
        {".5", true, .5f, 2},
        {"5.", true, 5.f, 2},
        {".", true, 0.f, 1},
        {"-.25;", true, -.25f, 4},
        {"12-3", true, 12.f, 2},
        {"007", true, 7.f, 3},
        {"115.94913", true, 115.94913f, 9},
        // Past nine digits the value stays exact up to 18 significant digits.
        {"12345.67891", true, 12345.67891f, 11},
        {"1234567890123", true, 1234567890123.f, 13},
        {"0000000000000000000000001", true, 1.f, -1},
        {"0.123456789012345678901234567890", true, 0.12345678901f, -1},
        {"1.00000000000000000000000000000000000000000000000000000000000000000000001", true, 1.f,
         -1},
        {"-", false, 0, 0},
        {"+", false, 0, 0},
        {"", false, 0, 0},
        {"  ", false, 0, 0},
        {"-X", false, 0, 0},
        {"X", false, 0, 0},
        {"- 5", false, 0, 0},
        {"+-5", false, 0, 0},
        {"123456789012345678901234567890", false, 0, 0}, // 30 integer digits
    };
    for (const NumCase &c : cases) {
        const char *p = c.text;
        float v = -999.f;
        const bool ok = strnum::strToNormalFloat(p, v);
        EXPECT_EQ(ok, c.ok) << c.text;
        if (ok && c.ok) {
            EXPECT_FLOAT_EQ(v, c.value) << c.text;
            EXPECT_EQ(p - c.text, c.consumed < 0 ? int(strlen(c.text)) : c.consumed) << c.text;
        }
    }
}

TEST(StrNum, EveryFollowingByteEndsOrContinuesCorrectly)
{
    // The pair table shares slots between "digit, '?'" and "digit, byte
    // outside 0x20-0x3F"; every byte after a digit must end the number
    // unless it is a digit or a point.
    for (int b = 1; b < 256; ++b) {
        const char text[3] = {'7', char(b), 0};
        const char *p = text;
        float v = 0;
        ASSERT_TRUE(strnum::strToNormalFloat(p, v)) << b;
        const bool continues = (b >= '0' && b <= '9') || b == '.';
        EXPECT_EQ(p - text, continues ? 2 : 1) << b;
        if (!continues) {
            EXPECT_EQ(v, 7.f) << b;
        }
    }
}

TEST(StrNum, AgreesWithStrtofOnRandomNumbers)
{
    std::mt19937 rng(12345);
    for (int i = 0; i < 200000; ++i) {
        std::string s;
        if (rng() % 3 == 0)
            s += '-';
        const int intDigits = rng() % 7;
        const int fracDigits = rng() % 7;
        for (int d = 0; d < intDigits; ++d)
            s += char('0' + rng() % 10);
        if (fracDigits || intDigits == 0) {
            s += '.';
            for (int d = 0; d < fracDigits; ++d)
                s += char('0' + rng() % 10);
        }
        const char *p = s.c_str();
        float v = 0;
        ASSERT_TRUE(strnum::strToNormalFloat(p, v)) << s;
        ASSERT_EQ(size_t(p - s.c_str()), s.size()) << s;
        const float ref = std::strtof(s.c_str(), nullptr);
        // Within one unit in the last place of the correctly rounded value.
        ASSERT_LE(std::fabs(v - ref), std::fabs(std::nextafter(ref, 2 * ref + 1) - ref) + 1e-30f)
            << s;
    }
}

QString g_lastMessage;
void captureMessage(QtMsgType, const QMessageLogContext &, const QString &msg)
{
    g_lastMessage = msg;
}

bool brokenReader(const char *&p, float &out)
{
    const bool ok = strnum::strToNormalFloat(p, out);
    out += 1e-3f;
    return ok;
}

TEST(StrNum, StartupSelfTestPassesAndReportsAFaultyReader)
{
    EXPECT_TRUE(strnum::initOk());
    EXPECT_TRUE(strnum::testParseFloat(&strnum::strToNormalFloat));

    g_lastMessage.clear();
    QtMessageHandler old = qInstallMessageHandler(captureMessage);
    const bool ok = strnum::testParseFloat(&brokenReader);
    qInstallMessageHandler(old);
    EXPECT_FALSE(ok);
    EXPECT_EQ(g_lastMessage, "_testParseFloat() FAILED");
}

} // namespace

// The byte-at-a-time path for plain numbers against the pair table that
// defines the reader: same success, same value bits, same end, on random
// texts of digits, points, signs, blanks and terminators.
TEST(StrNum, PlainNumberPathMatchesThePairTable)
{
    std::mt19937 rng(12345);
    const char alphabet[] = "0123456789012345678901234567890123456789..-+ \tXE;\n:/";
    std::uniform_int_distribution<int> len(0, 24), pick(0, int(sizeof alphabet) - 2);
    int accepted = 0;
    for (int i = 0; i < 200000; ++i) {
        std::string t;
        const int n = len(rng);
        for (int k = 0; k < n; ++k)
            t += alphabet[pick(rng)];
        const char *pa = t.c_str(), *pb = t.c_str();
        float a = -7, b = -7;
        const bool okA = strnum::strToNormalFloat(pa, a);
        const bool okB = strnum::strToNormalFloatPairs(pb, b);
        ASSERT_EQ(okA, okB) << t;
        if (!okA)
            continue;
        ++accepted;
        ASSERT_EQ(std::memcmp(&a, &b, sizeof a), 0) << t;
        ASSERT_EQ(pa, pb) << t;
    }
    EXPECT_GT(accepted, 50000);
}
