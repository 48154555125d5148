// The main window's side of the printer control panel: one panel and link
// per window, shown on the expert dialog, fed with the current G-code.
#include "app/frmmain.h"
#include "app/printerpanel.h"
#include "printer/printerlink.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>

PrinterPanel *FrmMain::printerPanel()
{
    if (!m_printerPanel) {
        m_printerPanel = new PrinterPanel(this);
        m_printerPanel->hide();
        m_printerPanel->setGCodeSource([this] { return m_gcode; });
        connect(m_printerPanel, &PrinterPanel::message, this, [this](const QString &text) {
            QMessageBox::warning(window()->isVisible() ? QApplication::activeWindow() : this, "Printer", text);
        });
    }
    return m_printerPanel;
}

bool FrmMain::confirmStopPrinting()
{
    if (!m_printerPanel || !m_printerPanel->link()->jobActive())
        return true;
    const auto answer = QMessageBox::question(
        this, "Printer", "A print is running. Closing stops it and turns the heaters off. Close anyway?",
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return false;
    PrinterLink *link = m_printerPanel->link();
    link->cancel();
    // Give the heater-off commands a moment to reach the printer.
    QElapsedTimer t;
    t.start();
    while (!link->idle() && link->isOpen() && t.elapsed() < 3000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return true;
}
