// The printer link against a simulated printer on a pseudo-terminal: real
// serial I/O through Qt's serial port, the firmware's side played by SimPrinter.
#include "printer/printerlink.h"
#include "fixtures/simprinter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

#include "fixtures/events.h"

#include <gtest/gtest.h>

namespace {

// N extrusion moves over a few layers, with the comments and blank lines a
// slicer writes.
QByteArray makeGCode(int moves, int perLayer = 1000)
{
    QByteArray g = ";generated\nG21\nG90\nM82\n\n";
    for (int i = 0; i < moves; ++i) {
        if (i % perLayer == 0)
            g += "G1 Z" + QByteArray::number(0.2 * (i / perLayer + 1), 'f', 1) + " F600 ; layer\n";
        g += "G1 X" + QByteArray::number(i % 100) + " Y" + QByteArray::number((i / 100) % 100) +
             " E" + QByteArray::number(i * 0.01, 'f', 2) + " F1800\n";
        if (i % 97 == 0)
            g += "; a comment line\n\n";
    }
    return g;
}

std::vector<std::string> commandsOf(const QByteArray &gcode)
{
    std::vector<std::string> out;
    for (const PrinterJobLine &l : printerJobLines(gcode))
        out.push_back(l.command.toStdString());
    return out;
}

// What the printer executed, without the link's own housekeeping.
std::vector<std::string> jobPart(const std::vector<std::string> &accepted)
{
    std::vector<std::string> out;
    for (const std::string &c : accepted)
        if (c.rfind("M110", 0) != 0 && c.rfind("M105", 0) != 0)
            out.push_back(c);
    return out;
}

struct Connected {
    SimPrinter sim;
    PrinterLink link;
    explicit Connected(SimPrinter::Options o = SimPrinter::Options()) : sim(o)
    {
        link.setStartupWait(300);
        link.setPollInterval(200);
    }
    bool connect()
    {
        return sim.ok() && link.open(QString::fromStdString(sim.path()), 115200) &&
               runEvents(5000, [&] { return link.status() == PrinterLink::Online; });
    }
};

} // namespace

TEST(PrinterLinkFormat, NumberedLinesCarryTheXorChecksum)
{
    // XOR of "N1 G28" = 'N'^'1'^' '^'G'^'2'^'8'.
    const unsigned cs = 'N' ^ '1' ^ ' ' ^ 'G' ^ '2' ^ '8';
    EXPECT_EQ(numberedLine(1, "G28"), "N1 G28*" + QByteArray::number(cs));
    EXPECT_EQ(numberedLine(0, "M110 N0"), QByteArray("N0 M110 N0*125"));
}

TEST(PrinterLinkFormat, JobLinesDropCommentsAndBlanksAndKnowTheirLayerAndTime)
{
    const QByteArray g = "; start\n\nG1 Z0.2 F600\nG1 X10 Y0 E1 F600 ; edge\n   \nN7 G1 X20*99\n"
                         "G1 Z0.4\nG1 X0 E2\n";
    double total = 0;
    int layers = 0;
    const QVector<PrinterJobLine> l = printerJobLines(g, &total, &layers);
    ASSERT_EQ(l.size(), 5);
    EXPECT_EQ(l[0].command, "G1 Z0.2 F600");
    EXPECT_EQ(l[1].command, "G1 X10 Y0 E1 F600");
    EXPECT_EQ(l[2].command, "G1 X20"); // an old number and checksum are not sent twice
    EXPECT_EQ(l[1].sourceLine, 4);
    EXPECT_EQ(l[4].sourceLine, 8);
    EXPECT_EQ(l[1].layer, l[0].layer);
    EXPECT_EQ(l[4].layer, l[0].layer + 1);
    EXPECT_EQ(layers, 2);
    EXPECT_GT(l[1].timeAfter, l[0].timeAfter); // 10 mm at 10 mm/s
    EXPECT_NEAR(l[4].timeAfter, total, 1e-6);
    EXPECT_GT(total, 1.0);
}

TEST(PrinterLinkSerial, StreamsTenThousandLinesAllAcknowledgedInOrder)
{
    Connected c;
    ASSERT_TRUE(c.connect()) << qPrintable(c.link.lastError());
    const QByteArray g = makeGCode(10000);
    QSignalSpy ended(&c.link, &PrinterLink::jobEnded);
    ASSERT_TRUE(c.link.startJob(g));
    ASSERT_TRUE(runEvents(120000, [&] { return !c.link.jobActive(); }));
    EXPECT_EQ(c.link.jobState(), PrinterLink::Finished);
    EXPECT_EQ(c.link.jobLinesDone(), c.link.jobLinesTotal());
    EXPECT_EQ(jobPart(c.sim.accepted()), commandsOf(g));
    EXPECT_EQ(c.link.currentLayer(), c.link.layerCount());
    EXPECT_EQ(c.link.currentSourceLine(), g.count('\n'));
    EXPECT_NEAR(c.link.timeRemaining(), 0, 1e-9);
    EXPECT_EQ(ended.count(), 1);
    EXPECT_EQ(c.link.status(), PrinterLink::Online);
}

TEST(PrinterLinkSerial, AResendRepeatsTheRequestedLineOnce)
{
    SimPrinter::Options o;
    o.rejectLineOnce = 40;
    o.chatter = false;
    Connected c(o);
    ASSERT_TRUE(c.connect());
    c.link.setRecordAcknowledged(true);
    const QByteArray g = makeGCode(200);
    ASSERT_TRUE(c.link.startJob(g));
    ASSERT_TRUE(runEvents(20000, [&] { return !c.link.jobActive(); }));
    EXPECT_EQ(c.link.jobState(), PrinterLink::Finished);
    EXPECT_EQ(jobPart(c.sim.accepted()), commandsOf(g));
    int arrivals = 0;
    std::string first, second;
    for (const std::string &r : c.sim.received())
        if (r.rfind("N40 ", 0) == 0) {
            (arrivals++ == 0 ? first : second) = r;
        }
    EXPECT_EQ(arrivals, 2);
    EXPECT_EQ(first, second); // the same bytes again, not the next line under its number
}

TEST(PrinterLinkSerial, TemperatureRepliesUpdateTheReadings)
{
    Connected c;
    QSignalSpy temps(&c.link, &PrinterLink::temperaturesChanged);
    ASSERT_TRUE(c.connect());
    ASSERT_TRUE(runEvents(5000, [&] { return c.link.nozzleTemp() == 205.f; }));
    EXPECT_EQ(c.link.bedTemp(), 60.f);
    EXPECT_GE(temps.count(), 1);
    EXPECT_TRUE(c.link.statusText().startsWith("Online"));
}

TEST(PrinterLinkSerial, APrinterThatVanishesMidJobEndsInErrorWithinFiveSeconds)
{
    SimPrinter::Options o;
    o.vanishAfter = 150;
    Connected c(o);
    ASSERT_TRUE(c.connect());
    QSignalSpy errors(&c.link, &PrinterLink::errorOccurred);
    ASSERT_TRUE(c.link.startJob(makeGCode(2000)));
    ASSERT_TRUE(runEvents(20000, [&] { return c.sim.vanished(); }));
    QElapsedTimer t;
    t.start();
    ASSERT_TRUE(runEvents(5000, [&] { return c.link.status() == PrinterLink::Error; }));
    EXPECT_LT(t.elapsed(), 5000);
    EXPECT_EQ(c.link.jobState(), PrinterLink::Failed);
    EXPECT_EQ(c.link.statusText(), "Error");
    EXPECT_EQ(errors.count(), 1);
    EXPECT_FALSE(c.link.lastError().isEmpty());
}

TEST(PrinterLinkSerial, AFirmwareHaltFailsTheJob)
{
    SimPrinter::Options o;
    o.fatalAfter = 30;
    Connected c(o);
    ASSERT_TRUE(c.connect());
    ASSERT_TRUE(c.link.startJob(makeGCode(500)));
    ASSERT_TRUE(runEvents(10000, [&] { return !c.link.jobActive(); }));
    EXPECT_EQ(c.link.jobState(), PrinterLink::Failed);
    EXPECT_TRUE(c.link.lastError().contains("halted"));
}

TEST(PrinterLinkSerial, CancelStopsTheJobAndTurnsTheHeatersOff)
{
    SimPrinter::Options o;
    o.replyDelayUs = 500;
    Connected c(o);
    ASSERT_TRUE(c.connect());
    const QByteArray g = makeGCode(5000);
    ASSERT_TRUE(c.link.startJob(g));
    ASSERT_TRUE(runEvents(20000, [&] { return c.link.jobLinesDone() >= 100; }));
    c.link.pause();
    const int atPause = c.link.jobLinesDone();
    runEvents(300, [] { return false; });
    EXPECT_LE(c.link.jobLinesDone(), atPause + 1); // only the line in flight completes
    c.link.resume();
    ASSERT_TRUE(runEvents(20000, [&] { return c.link.jobLinesDone() >= atPause + 50; }));
    c.link.cancel();
    EXPECT_EQ(c.link.jobState(), PrinterLink::Cancelled);
    ASSERT_TRUE(runEvents(5000, [&] {
        const auto a = c.sim.accepted();
        return !a.empty() && a.back() == "M140 S0";
    }));
    const std::vector<std::string> a = jobPart(c.sim.accepted());
    ASSERT_GE(a.size(), 2u);
    EXPECT_EQ(a[a.size() - 2], "M104 S0");
    EXPECT_LT(a.size(), commandsOf(g).size());
    EXPECT_EQ(c.link.status(), PrinterLink::Online);
}

TEST(PrinterLinkSerial, UserCommandsGoOutNumberedAndNothingWithoutAPort)
{
    PrinterLink idle;
    idle.sendCommand("G28 X0"); // no port chosen: nothing to write to, nothing happens
    EXPECT_EQ(idle.status(), PrinterLink::Offline);
    EXPECT_FALSE(idle.startJob("G1 X1\n"));

    Connected c;
    ASSERT_TRUE(c.connect());
    c.link.sendCommand("G28 X0 Y0 Z0");
    c.link.sendCommand("M104 S210 ; nozzle");
    ASSERT_TRUE(runEvents(5000, [&] { return jobPart(c.sim.accepted()).size() >= 2; }));
    const std::vector<std::string> a = jobPart(c.sim.accepted());
    EXPECT_EQ(a[0], "G28 X0 Y0 Z0");
    EXPECT_EQ(a[1], "M104 S210");

    PrinterLink bad;
    QSignalSpy errors(&bad, &PrinterLink::errorOccurred);
    EXPECT_FALSE(bad.open("/nonexistent/ttyNOPE", 115200));
    EXPECT_EQ(bad.status(), PrinterLink::Error);
    EXPECT_EQ(errors.count(), 1);
}

TEST(PrinterCli, PrintStreamsAFileAndExitsZeroWhenAllIsAcknowledged)
{
    const QString cli = QStringLiteral(TESSAVO_BINARY_DIR "/tessavo-cli");
    SimPrinter sim;
    ASSERT_TRUE(sim.ok());
    QTemporaryDir dir;
    const QByteArray g = makeGCode(1500);
    const QString file = dir.filePath("part.gcode");
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(g);
    }
    QProcess p;
    p.start(cli, {"print", file, "--port", QString::fromStdString(sim.path()), "--baud", "250000"});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().constData();
    EXPECT_EQ(jobPart(sim.accepted()), commandsOf(g));

    QProcess bad;
    bad.start(cli, {"print", file, "--port", "/nonexistent/ttyNOPE"});
    ASSERT_TRUE(bad.waitForFinished(20000));
    EXPECT_EQ(bad.exitCode(), 1);
    EXPECT_TRUE(bad.readAllStandardError().startsWith("error: "));
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qRegisterMetaType<PrinterLink::JobState>("JobState");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
