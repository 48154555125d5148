// The printer panel driven through its buttons against a simulated printer.
#include "app/printerpanel.h"
#include "printer/printerlink.h"
#include "fixtures/simprinter.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>

#include "fixtures/events.h"

#include <gtest/gtest.h>

namespace {

QString labelText(QWidget *w, const char *name) { return w->findChild<QLabel *>(name)->text(); }

} // namespace

TEST(PrinterPanel, ConnectsHomesHeatsAndPrintsTheCurrentGCodeToTheEnd)
{
    SimPrinter sim;
    ASSERT_TRUE(sim.ok());
    PrinterPanel panel;
    panel.link()->setStartupWait(200);
    QByteArray gcode = ";start\nG28\n";
    for (int layer = 1; layer <= 3; ++layer) {
        gcode += "G1 Z" + QByteArray::number(layer * 0.2, 'f', 1) + "\n";
        for (int i = 0; i < 40; ++i)
            gcode += "G1 X" + QByteArray::number(i) + " Y" + QByteArray::number(layer) + " E" +
                     QByteArray::number(layer * 40 + i) + " F1200\n";
    }
    panel.setGCodeSource([&] { return gcode; });
    QStringList messages;
    QObject::connect(&panel, &PrinterPanel::message, [&](const QString &m) { messages << m; });
    panel.show();

    auto *bPrint = panel.findChild<QPushButton *>("bPrint");
    auto *bHomeAll = panel.findChild<QPushButton *>("bHomeAll");
    EXPECT_EQ(labelText(&panel, "lStatus"), "Offline");
    EXPECT_FALSE(bPrint->isEnabled());
    EXPECT_FALSE(bHomeAll->isEnabled());

    panel.findChild<QComboBox *>("cbPort")->setCurrentText(QString::fromStdString(sim.path()));
    panel.findChild<QPushButton *>("bConnect")->click();
    ASSERT_TRUE(runEvents(5000, [&] { return labelText(&panel, "lStatus").startsWith("Online"); }));
    EXPECT_EQ(panel.findChild<QPushButton *>("bConnect")->text(), "Disconnect");

    bHomeAll->click();
    panel.findChild<QPushButton *>("bSetNozzle")->click();
    panel.findChild<QPushButton *>("bSetBed")->click();
    ASSERT_TRUE(runEvents(5000, [&] { return labelText(&panel, "lNozzle").startsWith("205"); }));
    ASSERT_TRUE(runEvents(5000, [&] {
        const auto a = sim.accepted();
        return std::find(a.begin(), a.end(), "M140 S60") != a.end();
    }));
    const auto a = sim.accepted();
    EXPECT_NE(std::find(a.begin(), a.end(), "G28 X0 Y0 Z0"), a.end());
    EXPECT_NE(std::find(a.begin(), a.end(), "M104 S210"), a.end());

    bPrint->click();
    ASSERT_TRUE(runEvents(20000, [&] { return panel.link()->jobState() == PrinterLink::Finished; }));
    QApplication::processEvents();
    // The same layers as the preview's: the start at Z 0 and the three printed ones.
    EXPECT_EQ(labelText(&panel, "lLayer"), "Layer: 4 / 4");
    EXPECT_EQ(labelText(&panel, "lLine"), QString("Line: %1 / %1").arg(gcode.count('\n')));
    EXPECT_EQ(labelText(&panel, "lTimeRemaining"), "Time remaining: 0:00:00");
    EXPECT_TRUE(messages.isEmpty()) << qPrintable(messages.join('\n'));
    EXPECT_TRUE(bPrint->isEnabled());

    panel.setGCodeSource([] { return QByteArray(); });
    bPrint->click();
    EXPECT_EQ(messages.size(), 1); // nothing to print is said, not silently ignored
}

TEST(PrinterPanel, ALoanToADialogEndsWithTheDialogAndKeepsTheConnection)
{
    QWidget window;
    auto *panel = new PrinterPanel(&window);
    panel->hide();
    SimPrinter sim;
    ASSERT_TRUE(sim.ok());
    panel->link()->setStartupWait(200);
    ASSERT_TRUE(panel->link()->open(QString::fromStdString(sim.path()), 115200));
    {
        QWidget dialog;
        auto *place = new QWidget(&dialog);
        const PrinterPanelLoan loan(panel, place);
        EXPECT_EQ(panel->parentWidget(), place);
        ASSERT_TRUE(runEvents(5000, [&] { return panel->link()->status() == PrinterLink::Online; }));
    }
    // The dialog is gone; the panel, its link and the open port are not.
    EXPECT_EQ(panel->parentWidget(), &window);
    EXPECT_TRUE(panel->link()->isOpen());
    EXPECT_EQ(panel->link()->status(), PrinterLink::Online);
}
