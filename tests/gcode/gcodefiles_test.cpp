// G-code written by two other slicers, and the same files in every text form
// a user's file may come in.
#include "gcode/gcodesim.h"
#include "geometry/polyline.h"

#include <QFile>
#include <QMap>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <random>

namespace {

QByteArray readData(const char *name)
{
    QFile f(QStringLiteral(TESSAVO_TEST_DATA "/gcode/") + name);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

GCodeSim loaded(const QByteArray &text)
{
    GCodeSim sim;
    sim.load(text);
    return sim;
}

// A plain reference reader: the E total of a file, one line at a time with
// strtod, honouring M82/M83, G90/G91 and G92.
double referenceFilament(const QByteArray &text)
{
    double e = 0, sum = 0;
    bool rel = false;
    for (QByteArray line : text.split('\n')) {
        const int c = line.indexOf(';');
        if (c >= 0)
            line.truncate(c);
        const QList<QByteArray> words = line.simplified().split(' ');
        const QByteArray cmd = words.value(0);
        if (cmd == "M82" || cmd == "G90")
            rel = false;
        if (cmd == "M83" || cmd == "G91")
            rel = true;
        for (const QByteArray &w : words) {
            if (!w.startsWith('E'))
                continue;
            const double v = std::strtod(w.constData() + 1, nullptr);
            if (cmd == "G92") {
                e = v;
            } else if (cmd == "G1" || cmd == "G0") {
                const double ne = rel ? e + v : v;
                sum += ne - e;
                e = ne;
            }
        }
    }
    return sum;
}

struct PeerFile {
    const char *name;
    const char *layerMarker; // comment line starting each layer
    int layers;              // layers with printing moves
};

// What each path-type label of the two slicers must become.
const QMap<QByteArray, int> &expectedTypes()
{
    static const QMap<QByteArray, int> m = {
        {"WALL-OUTER", Perimeter},
        {"WALL-INNER", Loop},
        {"FILL", HShell},
        {"SKIN", HShell},
        {"SKIRT", Skirt},
        {"External perimeter", Perimeter},
        {"Overhang perimeter", Perimeter},
        {"Perimeter", Loop},
        {"Internal infill", Infill},
        {"Solid infill", HShell},
        {"Top solid infill", HShell},
        {"Bridge infill", HShell},
        {"Skirt/Brim", Skirt},
    };
    return m;
}

class PeerFiles : public ::testing::TestWithParam<PeerFile> {};

TEST_P(PeerFiles, FilamentLayersAndPathTypesFollowTheFile)
{
    const PeerFile &pf = GetParam();
    const QByteArray text = readData(pf.name);
    ASSERT_FALSE(text.isEmpty()) << pf.name;
    const GCodeSim s = loaded(text);
    ASSERT_TRUE(s.rejected().isEmpty());
    EXPECT_FALSE(s.parser().hasError()) << qPrintable(s.parser().firstError());

    const double ref = referenceFilament(text);
    EXPECT_GT(ref, 100.0);
    EXPECT_NEAR(s.parser().state().filament, ref, 1e-6 * ref);

    // Per line: the layer marker and the path-type label in force there.
    const QList<QByteArray> lines = text.split('\n');
    std::vector<int> markerAt(lines.size());
    std::vector<int> typeAt(lines.size());
    int marker = -1, type = Unknown;
    for (int i = 0; i < lines.size(); ++i) {
        if (lines[i].startsWith(pf.layerMarker))
            ++marker;
        if (lines[i].startsWith(";TYPE:"))
            type = expectedTypes().value(lines[i].mid(6).trimmed(), type);
        markerAt[i] = marker;
        typeAt[i] = type;
    }
    ASSERT_EQ(marker + 1, pf.layers);

    std::vector<int> layerOf(s.moves().size(), -1);
    for (int l = 0; l < s.layers().size(); ++l)
        for (const GCodeRange &r : s.layers()[l].ranges)
            for (int i = r.begin; i < r.end; ++i)
                layerOf[i] = l;

    // Printing moves: XY travel with rising E.
    std::map<int, int> layerOfMarker; // marker -> layer of its printing moves
    int printing = 0;
    for (std::size_t i = 1; i < s.moves().size(); ++i) {
        const GCodeMove &m = s.moves()[i], &p = s.moves()[i - 1];
        ASSERT_GE(layerOf[i], 0);
        ASSERT_EQ(s.layers()[layerOf[i]].z, m.z);
        if (!(m.e > p.e && (m.x != p.x || m.y != p.y)))
            continue;
        ++printing;
        ASSERT_LT(m.line, lines.size());
        const int mk = markerAt[m.line];
        ASSERT_GE(mk, 0) << "line " << m.line;
        EXPECT_EQ(m.segType, typeAt[m.line]) << pf.name << " line " << m.line;
        auto it = layerOfMarker.find(mk);
        if (it == layerOfMarker.end()) {
            layerOfMarker[mk] = layerOf[i];
        } else {
            ASSERT_EQ(it->second, layerOf[i]) << pf.name << " line " << m.line;
        }
    }
    EXPECT_GT(printing, 1000);
    // One layer per marker, rising with the markers.
    ASSERT_EQ(int(layerOfMarker.size()), pf.layers);
    float lastZ = -1;
    for (const auto &ml : layerOfMarker) {
        EXPECT_GT(s.layers()[ml.second].z, lastZ);
        lastZ = s.layers()[ml.second].z;
    }
}

INSTANTIATE_TEST_SUITE_P(Gcode, PeerFiles,
                         ::testing::Values(PeerFile{"peerA_sphere_lo.gcode", ";LAYER:", 49},
                                           PeerFile{"peerB_sphere_lo.gcode", ";LAYER_CHANGE", 99}));

// Records without the line-end offsets, which move with the text form.
void expectSameMoves(const GCodeSim &a, const GCodeSim &b, bool types, const char *what)
{
    ASSERT_EQ(a.moves().size(), b.moves().size()) << what;
    for (std::size_t i = 0; i < a.moves().size(); ++i) {
        const GCodeMove &p = a.moves()[i], &q = b.moves()[i];
        ASSERT_TRUE(p.x == q.x && p.y == q.y && p.z == q.z && p.e == q.e && p.f == q.f
                    && p.fan == q.fan && p.time == q.time && p.line == q.line)
            << what << " record " << i;
        if (types) {
            ASSERT_EQ(p.segType, q.segType) << what << " record " << i;
        }
    }
    EXPECT_EQ(a.layers().size(), b.layers().size()) << what;
    EXPECT_EQ(a.parser().firstError(), b.parser().firstError()) << what;
}

TEST(GCodeFiles, EveryTextFormLoadsTheSame)
{
    const QByteArray lf = readData("peerA_sphere_lo.gcode");
    ASSERT_FALSE(lf.isEmpty());
    const GCodeSim ref = loaded(lf);

    QByteArray crlf = lf, cr = lf, lfcr = lf, noEnd = lf, tabs = lf;
    crlf.replace("\n", "\r\n");
    cr.replace('\n', '\r');
    lfcr.replace("\n", "\n\r");
    noEnd.chop(1);
    tabs.replace(' ', '\t');
    expectSameMoves(ref, loaded(crlf), true, "CR LF");
    expectSameMoves(ref, loaded(cr), true, "CR");
    expectSameMoves(ref, loaded(lfcr), true, "LF CR");
    expectSameMoves(ref, loaded(noEnd), true, "no final line end");
    expectSameMoves(ref, loaded(tabs), true, "tabs");
    // Lower-case tags no longer match; the moves stay.
    expectSameMoves(ref, loaded(lf.toLower()), false, "lower case");

    // Pieces of a real file, cut at awkward places: inside CR LF, inside numbers.
    GCodeSim pieces;
    for (int at = 0; at < crlf.size(); at += 4093)
        pieces.append(crlf.mid(at, 4093));
    pieces.finish();
    expectSameMoves(loaded(crlf), pieces, true, "pieces");
    EXPECT_TRUE(pieces.moves().back().lineEnd == loaded(crlf).moves().back().lineEnd);
}

TEST(GCodeFiles, VeryLongLines)
{
    const QByteArray pad(100000, ' ');
    const QByteArray comment = ";" + QByteArray(100000, 'x');
    const QByteArray garbage = QByteArray(100000, '#');
    const QByteArray text = comment + "\nG1 X1" + pad + "Y2 (" + pad + ") Z3\n" + garbage
        + "\nG1 X" + QByteArray(100000, '0') + "4\n";
    const GCodeSim s = loaded(text);
    ASSERT_EQ(s.moves().size(), 2u);
    EXPECT_EQ(s.moves()[0].x, 1.f);
    EXPECT_EQ(s.moves()[0].y, 2.f);
    EXPECT_EQ(s.moves()[0].z, 3.f);
    EXPECT_EQ(s.moves()[1].x, 4.f);
    EXPECT_EQ(s.moves()[1].line, 3);
    EXPECT_EQ(s.parser().firstError(),
              "GCodeParser error at line(2): Invalid Char '#' in GCode stream.");
}

TEST(GCodeFiles, RandomBytesNeverStopTheReader)
{
    std::mt19937 rng(99);
    for (int round = 0; round < 50; ++round) {
        QByteArray junk(20000, 0);
        for (char &c : junk)
            c = char(rng());
        // A good line after the junk must still be read.
        const GCodeSim s = loaded(junk + "\nG90\nG21\nG1 X12.5 Y7\n");
        ASSERT_FALSE(s.moves().empty());
        EXPECT_EQ(s.moves().back().x, 12.5f);
        EXPECT_EQ(s.moves().back().y, 7.f);
    }
}

} // namespace
