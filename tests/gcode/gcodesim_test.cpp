#include "gcode/gcodesim.h"
#include "geometry/polyline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

GCodeSim loaded(const QByteArray &text)
{
    GCodeSim sim;
    sim.load(text);
    return sim;
}

TEST(GCodeSim, MoveTimeAndDistances)
{
    struct Case {
        const char *text;
        double time, filament, print, travel;
    };
    const Case cases[] = {
        {"G1 X10 F600", 1.0, 0, 0, 10},
        {"G1 X10 E1 F600", 1.0, 1, 10, 0},
        // A retract takes no time, moves nothing and keeps the timing feed.
        {"G1 X10 F600\nG1 E-2 F2400\nG1 X20", 2.0, -2, 0, 20},
        {"G1 E-2 F2400", 0, -2, 0, 0},
        {"G1 Z5 F600", 0, 0, 0, 0},
        {"G1 X3 Y4 Z12 E0.5 F300", 1.0, 0.5, 5, 0},
        {"G1 X10 E1 F600\nG1 X20 E0.5", 2.0, 0.5, 10, 10}, // falling E is travel
        {"G1 F1200\nG1 X10", 0.5, 0, 0, 10},
        // Feed rate clamps: 0 becomes 0.01 mm/min, beyond 1e7 becomes 1e7.
        {"G1 X10 F0", 10 * 60 / 0.01, 0, 0, 10},
        {"G1 X10 F-5", 10 * 60 / 0.01, 0, 0, 10},
        {"G1 F100000000\nG1 X1000", 1000 * 60 / 1e7, 0, 0, 1000},
        {"G1 X10 F600\nG92 E100\nG1 X20 E101", 2.0, 1, 10, 10},
    };
    for (const Case &c : cases) {
        const GCodeSim s = loaded(c.text);
        const GCodeState &st = s.parser().state();
        EXPECT_NEAR(st.time, c.time, 1e-6 * (1 + c.time)) << c.text;
        EXPECT_NEAR(st.filament, c.filament, 1e-6) << c.text;
        EXPECT_NEAR(st.printDist, c.print, 1e-6) << c.text;
        EXPECT_NEAR(st.travelDist, c.travel, 1e-6) << c.text;
    }
}

TEST(GCodeSim, RecordsCopyTheStateAfterEachCommand)
{
    const GCodeSim s = loaded("M106 S100\n;segType:Loop\nG1 X1 Y2 Z0.3 E0.5 F1200 ; hi\nG4 P500\n");
    ASSERT_EQ(s.moves().size(), 3u);
    const GCodeMove &m = s.moves()[1];
    EXPECT_EQ(m.x, 1.f);
    EXPECT_EQ(m.y, 2.f);
    EXPECT_EQ(m.z, 0.3f);
    EXPECT_EQ(m.e, 0.5f);
    EXPECT_EQ(m.f, 1200.f);
    EXPECT_EQ(m.fan, 100);
    EXPECT_EQ(m.segType, Loop);
    EXPECT_NEAR(m.time, std::sqrt(5.0) * 60 / 1200, 1e-6);
    EXPECT_EQ(m.line, 2);
    EXPECT_EQ(m.lineEnd, 53u);
    EXPECT_NEAR(s.moves()[2].time, m.time + 0.5, 1e-6);
    EXPECT_EQ(s.moves()[0].segType, Unknown);
}

TEST(GCodeSim, LayersByExactZJoinRevisitedHeights)
{
    const GCodeSim s = loaded("G1 Z0.2\nG1 X1\nG1 Z0.4\nG1 X2\nG1 Z0.6\nG1 Z0.2\nG1 X3\n"
                              "G1 Z0.4 X4\nG1 X5\nG1 Z0.20001");
    const QVector<GCodeLayer> &l = s.layers();
    ASSERT_EQ(l.size(), 4);
    EXPECT_EQ(l[0].z, 0.2f);
    ASSERT_EQ(l[0].ranges.size(), 2);
    EXPECT_EQ(l[0].ranges[0].begin, 0);
    EXPECT_EQ(l[0].ranges[0].end, 2);
    EXPECT_EQ(l[0].ranges[1].begin, 5);
    EXPECT_EQ(l[0].ranges[1].end, 7);
    EXPECT_EQ(l[1].z, 0.4f);
    ASSERT_EQ(l[1].ranges.size(), 2);
    EXPECT_EQ(l[1].ranges[1].begin, 7);
    EXPECT_EQ(l[1].ranges[1].end, 9);
    EXPECT_EQ(l[2].z, 0.6f);
    EXPECT_EQ(l[2].moveCount(), 1);
    EXPECT_EQ(l[3].z, 0.20001f);
    EXPECT_EQ(l[3].moveCount(), 1);
    int total = 0;
    for (const GCodeLayer &layer : l)
        total += layer.moveCount();
    EXPECT_EQ(total, int(s.moves().size()));
}

TEST(GCodeSim, GenericTagAlsoTypesTheMoveBeforeIt)
{
    const GCodeSim s = loaded("G1 X1\n; Inset\nG1 X2\nG1 X3\n;TYPE:FILL\nG1 X4\n"
                              "G1 X5\n; Support\nG1 X6\n");
    const int want[] = {Loop, Loop, Loop, HShell, Support, Support};
    ASSERT_EQ(s.moves().size(), 6u);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(s.moves()[i].segType, want[i]) << i;
}

// Everything a load leaves behind, for comparing loads.
void expectSameLoad(const GCodeSim &a, const GCodeSim &b, const std::string &what)
{
    ASSERT_EQ(a.moves().size(), b.moves().size()) << what;
    for (std::size_t i = 0; i < a.moves().size(); ++i)
        ASSERT_TRUE(a.moves()[i] == b.moves()[i]) << what << " record " << i;
    ASSERT_EQ(a.layers().size(), b.layers().size()) << what;
    for (int i = 0; i < a.layers().size(); ++i) {
        ASSERT_EQ(a.layers()[i].z, b.layers()[i].z) << what;
        ASSERT_EQ(a.layers()[i].ranges.size(), b.layers()[i].ranges.size()) << what;
        for (int r = 0; r < a.layers()[i].ranges.size(); ++r) {
            ASSERT_EQ(a.layers()[i].ranges[r].begin, b.layers()[i].ranges[r].begin) << what;
            ASSERT_EQ(a.layers()[i].ranges[r].end, b.layers()[i].ranges[r].end) << what;
        }
    }
    ASSERT_EQ(a.parser().firstError(), b.parser().firstError()) << what;
    ASSERT_EQ(a.parser().lineNumber(), b.parser().lineNumber()) << what;
    ASSERT_EQ(a.parser().state().time, b.parser().state().time) << what;
    ASSERT_EQ(a.parser().state().filament, b.parser().state().filament) << what;
    ASSERT_EQ(a.rejected(), b.rejected()) << what;
}

// Small, but with every construct a cut can fall into: all line-end forms,
// numbers, comments and tags, parentheses, M117, start-up junk, an error,
// several commands per line, Z changes and a last line without an end.
const char kSplitText[] =
    "do junk\r\n"
    "G28\r\n"
    "M106 S127.5\n\r"
    ";TYPE:WALL-OUTER\r"
    "G1 X10.125 Y-3.5 Z0.3 E0.25 F1200 ; c\n"
    "G1 X1 (p) Y2 G1 X3*7 ;segType:Infill ; Inset\n"
    "\n"
    "M117 G1 X99 ;TYPE:SKIRT\n"
    "G1 Z0.6 X5 G1 Y6 Y7\r\n"
    "g1 z.3 e-1.5\r\r"
    "; Infill\n"
    "G1 X7 E2\n"
    "G4 P250\n"
    "G1 Y8";

TEST(GCodeSim, PiecesCutAnywhereGiveTheWholeLoad)
{
    const QByteArray text(kSplitText);
    const GCodeSim whole = loaded(text);
    ASSERT_GT(whole.moves().size(), 8u);
    ASSERT_GT(whole.layers().size(), 2);
    ASSERT_TRUE(whole.parser().hasError());

    for (int cut = 0; cut <= text.size(); ++cut) {
        GCodeSim s;
        s.append(text.left(cut));
        s.append(text.mid(cut));
        s.finish();
        expectSameLoad(whole, s, "cut at " + std::to_string(cut));
    }
    for (int a = 0; a <= text.size(); ++a) {
        for (int b = a; b <= text.size(); b += 3) {
            GCodeSim s;
            s.append(text.left(a));
            s.append(text.mid(a, b - a));
            s.append(text.mid(b));
            s.finish();
            expectSameLoad(whole, s, "cuts at " + std::to_string(a) + "," + std::to_string(b));
        }
    }
    GCodeSim bytes;
    for (char c : text)
        bytes.append(QByteArray(1, c));
    bytes.finish();
    expectSameLoad(whole, bytes, "byte by byte");
}

// A stepped load of a whole text: every step size, lines longer than a step,
// CR LF pairs split by a step's end, and no final line end.
TEST(GCodeSim, SteppedLoadGivesTheWholeLoad)
{
    QByteArray text(kSplitText);
    text += "\r\nG1 X" + QByteArray(300, '1') + "\r\nG1 Y2";
    const GCodeSim whole = loaded(text);
    for (int step = 1; step <= text.size() + 1; ++step) {
        GCodeSim s;
        s.startWhole(text);
        int percent = 0, steps = 0;
        while (percent < 100 && steps <= text.size() + 2) {
            const int next = s.parseStep(step);
            EXPECT_GE(next, percent);
            percent = next;
            ++steps;
        }
        ASSERT_EQ(percent, 100) << "step " << step;
        expectSameLoad(whole, s, "step " + std::to_string(step));
    }
    GCodeSim binary;
    binary.startWhole("ZCode\x01\x02G1 X1\n");
    EXPECT_EQ(binary.parseStep(4), 100);
    EXPECT_FALSE(binary.rejected().isEmpty());
    EXPECT_TRUE(binary.moves().empty());
}

TEST(GCodeSim, PiecesOfRandomBytesGiveTheWholeLoad)
{
    std::mt19937 rng(7);
    const char alphabet[] = "GMTXYZEFSP0123456789.-+ ;()*\r\n\t\0xg";
    for (int round = 0; round < 300; ++round) {
        QByteArray text;
        const int n = rng() % 200;
        for (int i = 0; i < n; ++i)
            text += round % 2 ? char(rng() % 256) : alphabet[rng() % (sizeof alphabet - 1)];
        const GCodeSim whole = loaded(text);
        const int cut = n ? int(rng() % n) : 0;
        GCodeSim s;
        s.append(text.left(cut));
        s.append(text.mid(cut));
        s.finish();
        expectSameLoad(whole, s, "round " + std::to_string(round));
    }
}

TEST(GCodeSim, PiecesGrowTheRecordsAsTheyArrive)
{
    GCodeSim s;
    s.append("G1 Z0.2 X1\nG1 X2\nG1 X");
    EXPECT_EQ(s.moves().size(), 2u); // the unfinished line waits
    EXPECT_EQ(s.layers().size(), 1);
    s.append("3\nG1 Z0.4\n");
    EXPECT_EQ(s.moves().size(), 4u);
    EXPECT_EQ(s.moves()[2].x, 3.f);
    EXPECT_EQ(s.layers().size(), 2);
    s.finish();
    EXPECT_EQ(s.moves().size(), 4u);
    s.clear();
    EXPECT_TRUE(s.moves().empty());
    EXPECT_TRUE(s.layers().isEmpty());
    EXPECT_TRUE(s.text().isEmpty());
}

TEST(GCodeSim, BinaryZCodeIsRejected)
{
    const QByteArray bin("ZCode\x01\x00\x10\nG1 X1\n", 14);
    const GCodeSim whole = loaded(bin);
    EXPECT_FALSE(whole.rejected().isEmpty());
    EXPECT_TRUE(whole.rejected().contains("ZCode"));
    EXPECT_TRUE(whole.moves().empty());
    for (int cut = 0; cut <= bin.size(); ++cut) {
        GCodeSim s;
        s.append(bin.left(cut));
        s.append(bin.mid(cut));
        s.finish();
        expectSameLoad(whole, s, "cut at " + std::to_string(cut));
    }
    // Shorter than the magic, or different: text as usual.
    const GCodeSim shortText = loaded("ZCo");
    EXPECT_TRUE(shortText.rejected().isEmpty());
    EXPECT_TRUE(shortText.parser().firstError().contains("(first param) 'Z'"));
    EXPECT_TRUE(loaded("ZCodX\nG1 X1").rejected().isEmpty());
}

TEST(GCodeSim, StatisticsText)
{
    const QDateTime now(QDate(2026, 1, 1), QTime(13, 5, 0));
    const auto twelve = ClockFormat::TwelveHour;
    EXPECT_EQ(gcodeStatsText(90000, 2000, 30, 10, kDefaultFilamentPrices, false, now, twelve),
              "Time: 1 days, 1:00:00  Finish: 2:05 PM  Length: 2.0 m  Travel: 25.0%");
    EXPECT_EQ(gcodeStatsText(3599.9, 2000, 0, 0, kDefaultFilamentPrices, true, now, twelve),
              "Time: 0:59:59\r\nFinish: 2:04 PM\r\nLength: 2.0 m\r\nTravel: 0.0%"
              "\r\n  PLA : 0.182\r\n  ABS : 0.15");
    EXPECT_EQ(gcodeStatsText(0, 12345, 0, 0.5, "PLA=0.091; ;=5; X=abc; Wood = 0.2 =x; ABS", true,
                             now, ClockFormat::TwentyFourHour),
              "Time: 0:00:00\r\nFinish: 13:05\r\nLength: 12.3 m\r\nTravel: 50.0%"
              "\r\n  PLA : 1.12\r\n  Wood : 2.47");
    // Absurd totals still give a text.
    EXPECT_FALSE(gcodeStatsText(1e30, 0, 0, 0, "", true, now).isEmpty());

    const GCodeSim s = loaded("G1 X10 E1 F600\nG1 X20\n");
    EXPECT_EQ(s.statsText(false, "", now, twelve),
              "Time: 0:00:02  Finish: 1:05 PM  Length: 0.0 m  Travel: 50.0%");
}

// A clock people read: minutes with two digits, AM/PM in capitals, or the
// 24-hour form where the locale uses it ("H:m a" printed "13:2 pm").
TEST(GCodeSim, FinishTimeIsAProperClock)
{
    const struct {
        int h, m;
        const char *twelve, *twentyFour;
    } cases[] = {
        {0, 0, "12:00 AM", "00:00"},   {0, 7, "12:07 AM", "00:07"},  {9, 5, "9:05 AM", "09:05"},
        {12, 0, "12:00 PM", "12:00"},  {13, 2, "1:02 PM", "13:02"}, {14, 23, "2:23 PM", "14:23"},
        {23, 59, "11:59 PM", "23:59"},
    };
    for (const auto &c : cases) {
        const QDateTime t(QDate(2026, 3, 4), QTime(c.h, c.m, 31));
        EXPECT_EQ(finishTimeText(t, ClockFormat::TwelveHour), c.twelve);
        EXPECT_EQ(finishTimeText(t, ClockFormat::TwentyFourHour), c.twentyFour);
    }
    EXPECT_FALSE(localeUses24HourClock(QLocale(QLocale::English, QLocale::UnitedStates)));
    EXPECT_TRUE(localeUses24HourClock(QLocale(QLocale::German, QLocale::Germany)));
    EXPECT_TRUE(localeUses24HourClock(QLocale(QLocale::English, QLocale::UnitedKingdom)));
    const QDateTime t(QDate(2026, 3, 4), QTime(13, 2));
    const QString system = finishTimeText(t, ClockFormat::System);
    EXPECT_TRUE(system == "1:02 PM" || system == "13:02") << system.toStdString();
}

} // namespace

// Counting mode keeps no text and no records but must add up to the same
// totals as a full load, however the text is cut (CR LF split included).
TEST(GCodeSim, CountingModeGivesTheFullLoadsTotals)
{
    std::mt19937 rng(11);
    const char alphabet[] = "GGMXYZEF0123456789.- ;\r\n\nG1Z";
    QVector<QByteArray> texts{QByteArray(kSplitText)};
    for (int i = 0; i < 200; ++i) {
        QByteArray t;
        const int n = int(rng() % 300);
        for (int k = 0; k < n; ++k)
            t += alphabet[rng() % (sizeof alphabet - 1)];
        texts.append(t);
    }
    const QDateTime now(QDate(2024, 1, 2), QTime(3, 4));
    for (const QByteArray &text : texts) {
        const GCodeSim whole = loaded(text);
        int longestLine = 0, line = 0;
        for (char c : text) {
            line = c == '\n' || c == '\r' ? 0 : line + 1;
            longestLine = std::max(longestLine, line);
        }
        for (int cut = 0; cut <= text.size(); cut += text.size() > 40 ? 7 : 1) {
            GCodeSim s;
            s.setKeepRecords(false);
            s.append(text.left(cut));
            s.append(text.mid(cut, 5));
            s.append(text.mid(cut + 5));
            s.finish();
            ASSERT_EQ(s.moveCount(), whole.moves().size()) << text.constData();
            ASSERT_EQ(s.layerCount(), whole.layers().size());
            EXPECT_TRUE(s.moves().empty());
            EXPECT_EQ(s.statsText(true, kDefaultFilamentPrices, now),
                      whole.statsText(true, kDefaultFilamentPrices, now));
            EXPECT_EQ(s.parser().firstError(), whole.parser().firstError());
            EXPECT_EQ(s.parser().lineNumber(), whole.parser().lineNumber());
            // Held: the last (non-empty) piece and at most the line it continues.
            const int lastPiece = text.size() - cut > 5 ? text.size() - cut - 5
                                  : text.size() > cut ? text.size() - cut : cut;
            EXPECT_LE(s.text().size(), lastPiece + longestLine);
        }
    }
}
