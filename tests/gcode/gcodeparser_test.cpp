#include "gcode/gcodesim.h"
#include "geometry/polyline.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

GCodeSim loaded(const QByteArray &text)
{
    GCodeSim sim;
    sim.load(text);
    return sim;
}

// Runs the parser alone over a whole text and collects the results.
std::vector<GCodeParser::Result> results(const QByteArray &text, GCodeParser &p)
{
    p.setText(text.constData(), text.constData() + text.size());
    std::vector<GCodeParser::Result> r;
    const char *cur = text.constData();
    const char *end = cur + text.size();
    while (cur < end) {
        const GCodeParser::Result x = p.parse(cur, end);
        if (x == GCodeParser::NoCommand)
            break;
        r.push_back(x);
    }
    return r;
}

struct TokCase {
    const char *text;
    int moves;       // records
    float x, y;      // of the last record
    const char *err; // the recorded error, "" for none
};

TEST(GCodeParser, Tokenizer)
{
    const TokCase cases[] = {
        {"g1 x10 y5", 1, 10, 5, ""},
        {"G1\tX1\tY2\t", 1, 1, 2, ""},
        {"G1 X1 G1 X2", 2, 2, 0, ""},
        {"G1X3Y4", 1, 3, 4, ""},
        {"G1 X5 (note) Y6", 1, 5, 6, ""},
        {"G1 X5 (a;b*c) Y6 ;c", 1, 5, 6, ""},
        // An unclosed "(" ends with its line, not with the text.
        {"G1 X5 (open Y6\nG1 Y7", 2, 5, 7, ""},
        {"G1 X1 X2", 0, 0, 0, "GCodeParser error at line(0): Param already specified 'X'."},
        {"X10", 0, 0, 0,
         "GCodeParser error at line(0): Invalid gcode command (first param) 'X'. Valid commands "
         "are [G, M, T]."},
        {"G1 X1 #", 0, 0, 0, "GCodeParser error at line(0): Invalid Char '#' in GCode stream."},
        {"-\nG1 X1", 1, 1, 0, "GCodeParser error at line(0): Invalid Char '-' in GCode stream."},
        {"G1 X-", 0, 0, 0, "GCodeParser error at line(0): Invalid float format."},
        {"G1 X- Y2\nG1 Y3", 1, 0, 3, "GCodeParser error at line(0): Invalid float format."},
        {"G1 X123456789012345678901234567890", 0, 0, 0,
         "GCodeParser error at line(0): Invalid float format."},
        {"G1 X5\nG1 X", 2, 0, 0, ""}, // a bare letter counts as 0
        {"G1 X1\nG2 X5 Y5\nG1 Y1", 2, 1, 1, "GCodeParser error at line(1): Unknown GCode 'G2'"},
        // Only the first error is recorded; later ones skip their line.
        {"G1 X1\nQ5\nG1 X2 X3\nG1 Y9", 2, 1, 9,
         "GCodeParser error at line(1): Invalid gcode command (first param) 'Q'. Valid commands "
         "are [G, M, T]."},
        {"M117 G1 X5 ;TYPE:WALL-OUTER (\nG1 Y1", 2, 0, 1, ""},
        {"M117", 1, 0, 0, ""},
        {"M117\n", 1, 0, 0, ""},
        {"G1 X7*33 Y1", 1, 7, 0, ""},
        {"M104 S200 T1", 1, 0, 0, ""}, // T after M is a parameter
        {"M104 S200 T1 T2", 2, 0, 0, ""},
        {"G1 X1 T0", 2, 1, 0, ""},
        {"do not\nplease\nnumbers\nG1 X1", 1, 1, 0, ""},
        {";c\n\n  \n(x)\nG1 X4 ; tail", 1, 4, 0, ""},
    };
    for (const TokCase &c : cases) {
        const GCodeSim s = loaded(c.text);
        ASSERT_EQ(int(s.moves().size()), c.moves) << c.text;
        if (c.moves) {
            EXPECT_EQ(s.moves().back().x, c.x) << c.text;
            EXPECT_EQ(s.moves().back().y, c.y) << c.text;
        }
        EXPECT_EQ(s.parser().firstError(), QString(c.err)) << c.text;
    }
}

TEST(GCodeParser, NulInsideTextIsAnErrorAndParsingGoesOn)
{
    const GCodeSim s = loaded(QByteArray("G1 X1\0 Y2\nG1 X3", 15));
    ASSERT_EQ(s.moves().size(), 1u);
    EXPECT_EQ(s.moves()[0].x, 3.f);
    EXPECT_EQ(s.moves()[0].line, 1);
    EXPECT_EQ(s.parser().firstError(),
              "GCodeParser error at line(0): Invalid Char '\\x00' in GCode stream.");
}

TEST(GCodeParser, StartupJunkIsSkippedOnlyInTheFirstTwentyLines)
{
    QByteArray text;
    for (int i = 0; i < 20; ++i)
        text += "\n";
    text += "done\nG1 X1\n";
    const GCodeSim s = loaded(text);
    ASSERT_EQ(s.moves().size(), 1u);
    EXPECT_EQ(s.parser().firstError(),
              "GCodeParser error at line(20): Invalid gcode command (first param) 'D'. Valid "
              "commands are [G, M, T].");
}

TEST(GCodeParser, LineNumbersAndLineEndsAcrossAllLineEndForms)
{
    // LF, CR LF, LF CR, CR, and a last line without an end.
    const QByteArray text = "G1 X1\nG1 X2\r\nG1 X3\n\rG1 X4\rG1 X5 G1 X6\n\nG1 X7";
    const GCodeSim s = loaded(text);
    ASSERT_EQ(s.moves().size(), 7u);
    const int lines[] = {0, 1, 2, 3, 4, 4, 6};
    const quint32 ends[] = {5, 11, 18, 25, 37, 37, 44};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(s.moves()[i].x, float(i + 1));
        EXPECT_EQ(s.moves()[i].line, lines[i]) << i;
        EXPECT_EQ(s.moves()[i].lineEnd, ends[i]) << i;
    }
    EXPECT_EQ(s.parser().lineNumber(), 6);
}

// Many commands on one line share its line end (found once per line), in
// whole loads and in pieces cut inside the line, and the next line gets its own.
TEST(GCodeParser, ManyCommandsOnOneLineShareItsEnd)
{
    QByteArray text;
    for (int i = 1; i <= 2000; ++i)
        text += "G1 X" + QByteArray::number(i) + " Y2 E3 ";
    const int firstEnd = text.size();
    text += "\nG1 X5 G1 X6 ;c\nG1 X7";
    const GCodeSim whole = loaded(text);
    ASSERT_EQ(whole.moves().size(), 2003u);
    for (int i = 0; i < 2000; ++i) {
        ASSERT_EQ(whole.moves()[i].x, float(i + 1)) << i;
        ASSERT_EQ(whole.moves()[i].lineEnd, quint32(firstEnd)) << i;
    }
    EXPECT_EQ(whole.moves()[2000].lineEnd, quint32(firstEnd + 15));
    EXPECT_EQ(whole.moves()[2001].lineEnd, quint32(firstEnd + 15));
    EXPECT_EQ(whole.moves()[2001].line, 1);
    EXPECT_EQ(whole.moves()[2002].x, 7.f);
    for (int cut : {7, firstEnd / 2, firstEnd, firstEnd + 9}) {
        GCodeSim s;
        s.append(text.left(cut));
        s.append(text.mid(cut));
        s.finish();
        EXPECT_TRUE(s.moves() == whole.moves()) << "cut at " << cut;
    }
}

struct TagCase {
    const char *comment;
    int type; // after "G1 X1" that follows the comment line; start type is Unknown
    bool generic;
};

TEST(GCodeParser, CommentTags)
{
    const TagCase cases[] = {
        {";TYPE:WALL-OUTER", Perimeter, false},
        {";TYPE:WALL-INNER", Loop, false},
        {";TYPE:FILL", HShell, false}, // the first "FILL" entry wins
        {";TYPE:SKIRT", Skirt, false},
        {";TYPE:SUPPORT", Support, false},
        {";TYPE:SUPPORT-INTERFACE", Support, false}, // "-" may follow a name
        {"; TYPE:WALL-INNER", Loop, false},
        {";segType:Infill", Infill, false},
        {";segType:InnerHair", InnerHair, false},
        {";segType:SoftSupport", SoftSupport, false},
        {";segType:InfillX", Unknown, false},
        {";segType:Infill_", Unknown, false},
        {";segType:Travel", Unknown, false},
        {";segtype:Infill", Unknown, false},
        {"; 'Sparse Infill'", Infill, false},
        {"; 'Crown'", OuterHair, false},
        {"; Inset", Loop, true},
        {"; Infill", HShell, true},
        {"; Outline", Perimeter, true},
        {"; infill", Unknown, false},
        {";TYPE:SKIN", HShell, false},
        {";TYPE:External perimeter", Perimeter, false},
        {";TYPE:Perimeter", Loop, false},
        {";TYPE:Internal infill", Infill, false},
        {";TYPE:Solid infill", HShell, false},
        {";TYPE:Skirt/Brim", Skirt, false},
        {";TYPE:Custom", Unknown, false},
        {"G1 X0 ;TYPE:SKIRT ;TYPE:FILL", HShell, false}, // a later tag on the line wins
        {"G1 X0 *12 ;segType:Raft", Raft, false},
        {"M117 ;TYPE:SKIRT", Unknown, false},              // display text
        {"G1 X0 (;TYPE:SKIRT)", Unknown, false},           // inside parentheses
        {"G1 X1 X2 ;TYPE:SKIRT", Unknown, false},          // erroneous line
    };
    for (const TagCase &c : cases) {
        const GCodeSim s = loaded(QByteArray(c.comment) + "\nG1 X1\n");
        ASSERT_FALSE(s.moves().empty()) << c.comment;
        EXPECT_EQ(s.moves().back().segType, c.type) << c.comment;
        EXPECT_EQ(s.parser().tagIsGeneric(), c.generic) << c.comment;
    }
}

TEST(GCodeParser, GenericFlagIsClearedByOtherForms)
{
    const GCodeSim s = loaded("; Inset\nG1 X1\n;TYPE:WALL-OUTER\nG1 X2\n");
    EXPECT_FALSE(s.parser().tagIsGeneric());
    EXPECT_EQ(s.moves().back().segType, Perimeter);
}

TEST(GCodeParser, CommandsChangeStateAsSpecified)
{
    struct Case {
        const char *text;
        float x, y, z, e, f;
        int fan;
        double time;
    };
    const Case cases[] = {
        {"G28", 0, 0, 0, 0, 3000, 0, 4.0},
        {"G1 X5 Y6 Z7 F60000\nG28 X1", 1, 6, 7, 0, 60000, 0, 4.0 + std::sqrt(61.) * 60 / 60000},
        {"G1 X5 Y6 Z7 F60000\nG161 Y2 Z3", 5, 2, 3, 0, 60000, 0, 4.0 + std::sqrt(61.) * 60 / 60000},
        {"G1 X5 F60000\nG162", 0, 0, 0, 0, 60000, 0, 4.0 + 5. * 60 / 60000},
        {"G4 P1500", 0, 0, 0, 0, 3000, 0, 1.5},
        {"G4 P-10\nG4", 0, 0, 0, 0, 3000, 0, 0},
        {"G20\nG1 X1 E1 F10", 25.4f, 0, 0, 25.4f, 254, 0, 25.4 * 60 / 254},
        {"G20\nG21\nG1 X1 F60", 1, 0, 0, 0, 60, 0, 1},
        {"G91\nG1 X1 E1 F60\nG1 X1 E1", 2, 0, 0, 2, 60, 0, 2},
        {"M83\nG1 E1\nG1 E1", 0, 0, 0, 2, 3000, 0, 0},
        {"M83\nM82\nG1 E1\nG1 E1", 0, 0, 0, 1, 3000, 0, 0},
        {"G91\nG90\nG1 X1 F60\nG1 X1", 1, 0, 0, 0, 60, 0, 1},
        {"G92 X10 Y2 Z3 E5", 10, 2, 3, 5, 3000, 0, 0},
        {"G92 E1 A3", 0, 0, 0, 3, 3000, 0, 0},
        {"G20\nG92 X1", 25.4f, 0, 0, 0, 3000, 0, 0},
        {"G1 E2 A4 F60", 0, 0, 0, 4, 3000, 0, 0},
        {"G1 F1200", 0, 0, 0, 0, 1200, 0, 0},
        {"G1 A1 F1200", 0, 0, 0, 1, 3000, 0, 0},
        {"G0 X3 Y4 F600", 3, 4, 0, 0, 600, 0, 0.5},
        {"G29\nG130\nT1\nM84", 0, 0, 0, 0, 3000, 0, 0},
        {"M106 S128", 0, 0, 0, 0, 3000, 128, 0},
        {"M106 S300", 0, 0, 0, 0, 3000, 255, 0},
        {"M106 S-5", 0, 0, 0, 0, 3000, 0, 0},
        {"M106", 0, 0, 0, 0, 3000, 255, 0},
        {"M106 S9\nM107", 0, 0, 0, 0, 3000, 0, 0},
        {"M126", 0, 0, 0, 0, 3000, 255, 0},
        {"M126\nM127", 0, 0, 0, 0, 3000, 0, 0},
        {"G0.6 X2 F60", 2, 0, 0, 0, 60, 0, 2}, // rounds to G1
    };
    for (const Case &c : cases) {
        const GCodeSim s = loaded(c.text);
        const GCodeState &st = s.parser().state();
        EXPECT_FALSE(s.parser().hasError()) << c.text << ": " << qPrintable(s.parser().firstError());
        EXPECT_FLOAT_EQ(st.x, c.x) << c.text;
        EXPECT_FLOAT_EQ(st.y, c.y) << c.text;
        EXPECT_FLOAT_EQ(st.z, c.z) << c.text;
        EXPECT_FLOAT_EQ(st.e, c.e) << c.text;
        EXPECT_FLOAT_EQ(st.f, c.f) << c.text;
        EXPECT_EQ(st.fan, c.fan) << c.text;
        EXPECT_NEAR(st.time, c.time, 1e-6) << c.text;
    }
}

TEST(GCodeParser, Temperatures)
{
    const GCodeSim s = loaded("M104 S200\nM140 S60\nM109\nM190 S65 T0\nM109 S210.5");
    EXPECT_EQ(s.parser().state().headTemp, 210.5f);
    EXPECT_EQ(s.parser().state().bedTemp, 65.f);
}

TEST(GCodeParser, ChangedResults)
{
    using R = GCodeParser::Result;
    GCodeParser p;
    const QByteArray text = "G1 X0\nG1 X1\nG1 F100\nG1 E0.5\nG92 E0.5\nG92 E0\nG28\n"
                            "M106 S0\nM107\nM126\nM127\nM104 S1\nT0\n";
    const std::vector<R> want = {R::Unchanged, R::Changed, R::Unchanged, R::Changed,
                                 R::Unchanged, R::Changed, R::Changed,   R::Changed,
                                 R::Changed,   R::Changed, R::Changed,   R::Unchanged,
                                 R::Unchanged};
    EXPECT_EQ(results(text, p), want);
}

} // namespace
