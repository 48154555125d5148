#include "app/printerpanel.h"

#include "printer/printerlink.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QPushButton *button(const QString &name, const QString &text, QWidget *parent)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(name);
    return b;
}

QLabel *label(const QString &name, QWidget *parent)
{
    auto *l = new QLabel(parent);
    l->setObjectName(name);
    return l;
}

QString hms(double s)
{
    const int t = int(s + 0.5);
    return QString("%1:%2:%3").arg(t / 3600).arg(t / 60 % 60, 2, 10, QChar('0')).arg(t % 60, 2, 10, QChar('0'));
}

} // namespace

PrinterPanel::PrinterPanel(QWidget *parent) : QWidget(parent), link_(new PrinterLink(this))
{
    setObjectName("pPrinter");
    auto *top = new QVBoxLayout(this);

    auto *gbConn = new QGroupBox("Connection", this);
    gbConn->setObjectName("gbPrinterConnection");
    auto *conn = new QGridLayout(gbConn);
    cbPort_ = new QComboBox(gbConn);
    cbPort_->setObjectName("cbPort");
    cbPort_->setEditable(true);
    cbPort_->setToolTip("Serial port of the printer; pick one or type its path");
    cbPort_->setMinimumContentsLength(14);
    bRefreshPorts_ = button("bRefreshPorts", "Refresh", gbConn);
    bRefreshPorts_->setToolTip("List the serial ports again");
    cbBaud_ = new QComboBox(gbConn);
    cbBaud_->setObjectName("cbBaud");
    for (int b : PrinterLink::baudRates())
        cbBaud_->addItem(QString::number(b), b);
    bConnect_ = button("bConnect", "Connect", gbConn);
    lStatus_ = label("lStatus", gbConn);
    conn->addWidget(new QLabel("Port:", gbConn), 0, 0);
    conn->addWidget(cbPort_, 0, 1);
    conn->addWidget(bRefreshPorts_, 0, 2);
    conn->addWidget(new QLabel("Baud:", gbConn), 1, 0);
    conn->addWidget(cbBaud_, 1, 1);
    conn->addWidget(bConnect_, 1, 2);
    conn->addWidget(new QLabel("Status:", gbConn), 2, 0);
    conn->addWidget(lStatus_, 2, 1, 1, 2);
    top->addWidget(gbConn);

    auto *gbMachine = new QGroupBox("Machine", this);
    gbMachine->setObjectName("gbPrinterMachine");
    auto *mach = new QGridLayout(gbMachine);
    bHomeX_ = button("bHomeX", "Home X", gbMachine);
    bHomeY_ = button("bHomeY", "Home Y", gbMachine);
    bHomeZ_ = button("bHomeZ", "Home Z", gbMachine);
    bHomeAll_ = button("bHomeAll", "Home all", gbMachine);
    auto *homes = new QHBoxLayout;
    for (QPushButton *b : {bHomeX_, bHomeY_, bHomeZ_, bHomeAll_})
        homes->addWidget(b);
    mach->addLayout(homes, 0, 0, 1, 4);
    seNozzle_ = new QSpinBox(gbMachine);
    seNozzle_->setObjectName("seNozzle");
    seNozzle_->setRange(0, 300);
    seNozzle_->setValue(210);
    seNozzle_->setSuffix(" °C");
    seBed_ = new QSpinBox(gbMachine);
    seBed_->setObjectName("seBed");
    seBed_->setRange(0, 150);
    seBed_->setValue(60);
    seBed_->setSuffix(" °C");
    bSetNozzle_ = button("bSetNozzle", "Set", gbMachine);
    bSetBed_ = button("bSetBed", "Set", gbMachine);
    lNozzle_ = label("lNozzle", gbMachine);
    lBed_ = label("lBed", gbMachine);
    mach->addWidget(new QLabel("Nozzle:", gbMachine), 1, 0);
    mach->addWidget(seNozzle_, 1, 1);
    mach->addWidget(bSetNozzle_, 1, 2);
    mach->addWidget(lNozzle_, 1, 3);
    mach->addWidget(new QLabel("Bed:", gbMachine), 2, 0);
    mach->addWidget(seBed_, 2, 1);
    mach->addWidget(bSetBed_, 2, 2);
    mach->addWidget(lBed_, 2, 3);
    top->addWidget(gbMachine);

    auto *gbJob = new QGroupBox("Print", this);
    gbJob->setObjectName("gbPrinterJob");
    auto *job = new QGridLayout(gbJob);
    bPrint_ = button("bPrint", "Print current G-code", gbJob);
    bPause_ = button("bPause", "Pause", gbJob);
    bCancel_ = button("bCancel", "Cancel", gbJob);
    pbPrint_ = new QProgressBar(gbJob);
    pbPrint_->setObjectName("pbPrint");
    pbPrint_->setRange(0, 1000);
    pbPrint_->setValue(0);
    lTimeRemaining_ = label("lTimeRemaining", gbJob);
    lLayer_ = label("lLayer", gbJob);
    lLine_ = label("lLine", gbJob);
    job->addWidget(bPrint_, 0, 0);
    job->addWidget(bPause_, 0, 1);
    job->addWidget(bCancel_, 0, 2);
    job->addWidget(pbPrint_, 1, 0, 1, 3);
    job->addWidget(lTimeRemaining_, 2, 0, 1, 3);
    job->addWidget(lLayer_, 3, 0, 1, 3);
    job->addWidget(lLine_, 4, 0, 1, 3);
    top->addWidget(gbJob);
    top->addStretch(1);

    connect(bRefreshPorts_, &QPushButton::clicked, this, &PrinterPanel::refreshPorts);
    connect(bConnect_, &QPushButton::clicked, this, &PrinterPanel::connectOrDisconnect);
    connect(bHomeX_, &QPushButton::clicked, this, [this] { home("G28 X0"); });
    connect(bHomeY_, &QPushButton::clicked, this, [this] { home("G28 Y0"); });
    connect(bHomeZ_, &QPushButton::clicked, this, [this] { home("G28 Z0"); });
    connect(bHomeAll_, &QPushButton::clicked, this, [this] { home("G28 X0 Y0 Z0"); });
    connect(bSetNozzle_, &QPushButton::clicked, this,
            [this] { link_->sendCommand("M104 S" + QString::number(seNozzle_->value())); });
    connect(bSetBed_, &QPushButton::clicked, this,
            [this] { link_->sendCommand("M140 S" + QString::number(seBed_->value())); });
    connect(bPrint_, &QPushButton::clicked, this, &PrinterPanel::print);
    connect(bPause_, &QPushButton::clicked, this, &PrinterPanel::pauseOrResume);
    connect(bCancel_, &QPushButton::clicked, link_, &PrinterLink::cancel);

    connect(link_, &PrinterLink::statusChanged, this, &PrinterPanel::updateState);
    connect(link_, &PrinterLink::progressChanged, this, &PrinterPanel::updateState);
    connect(link_, &PrinterLink::temperaturesChanged, this, &PrinterPanel::updateState);
    connect(link_, &PrinterLink::errorOccurred, this, &PrinterPanel::message);

    // ", busy" fades on its own and the remaining time moves between acknowledgements.
    auto *tick = new QTimer(this);
    connect(tick, &QTimer::timeout, this, &PrinterPanel::updateState);
    tick->start(500);

    refreshPorts();
    updateState();
}

PrinterPanel::~PrinterPanel() = default;

void PrinterPanel::refreshPorts()
{
    const QString typed = cbPort_->currentText();
    cbPort_->clear();
    for (const QSerialPortInfo &p : QSerialPortInfo::availablePorts()) {
        cbPort_->addItem(p.systemLocation());
        if (!p.description().isEmpty())
            cbPort_->setItemData(cbPort_->count() - 1, p.description(), Qt::ToolTipRole);
    }
    if (!typed.isEmpty())
        cbPort_->setCurrentText(typed);
}

void PrinterPanel::connectOrDisconnect()
{
    if (link_->isOpen()) {
        link_->close();
        updateState();
        return;
    }
    const QString port = cbPort_->currentText().trimmed();
    if (port.isEmpty()) {
        emit message("Choose the printer's serial port first.");
        return;
    }
    link_->open(port, cbBaud_->currentData().toInt());
    updateState();
}

void PrinterPanel::home(const char *command) { link_->sendCommand(QString::fromLatin1(command)); }

void PrinterPanel::print()
{
    const QByteArray gcode = gcodeSource_ ? gcodeSource_() : QByteArray();
    if (gcode.isEmpty()) {
        emit message("There is no G-code to print: slice or open a G-code file first.");
        return;
    }
    if (!link_->startJob(gcode))
        emit message("The G-code holds no command to send.");
    updateState();
}

void PrinterPanel::pauseOrResume()
{
    if (link_->jobState() == PrinterLink::Paused)
        link_->resume();
    else
        link_->pause();
    updateState();
}

void PrinterPanel::updateState()
{
    const bool open = link_->status() == PrinterLink::Online;
    const bool portOpen = link_->isOpen(); // also while the printer has not answered yet
    const bool active = link_->jobActive();
    lStatus_->setText(link_->statusText());
    bConnect_->setText(portOpen ? "Disconnect" : "Connect");
    cbPort_->setEnabled(!portOpen);
    cbBaud_->setEnabled(!portOpen);
    bRefreshPorts_->setEnabled(!portOpen);
    for (QPushButton *b : {bHomeX_, bHomeY_, bHomeZ_, bHomeAll_})
        b->setEnabled(open && !active); // never move the head under a running print
    bSetNozzle_->setEnabled(open);
    bSetBed_->setEnabled(open);
    bPrint_->setEnabled(open && !active);
    bPause_->setEnabled(active);
    bPause_->setText(link_->jobState() == PrinterLink::Paused ? "Resume" : "Pause");
    bCancel_->setEnabled(active);
    lNozzle_->setText(link_->nozzleTemp() < 0 ? "—" : QString("%1 °C").arg(double(link_->nozzleTemp()), 0, 'f', 1));
    lBed_->setText(link_->bedTemp() < 0 ? "—" : QString("%1 °C").arg(double(link_->bedTemp()), 0, 'f', 1));
    const int total = link_->jobLinesTotal();
    pbPrint_->setValue(total > 0 ? int(qint64(link_->jobLinesDone()) * 1000 / total) : 0);
    const bool shown = link_->jobState() != PrinterLink::NoJob;
    lTimeRemaining_->setText(shown ? "Time remaining: " + hms(link_->timeRemaining()) : "Time remaining:");
    lLayer_->setText(shown ? QString("Layer: %1 / %2").arg(link_->currentLayer()).arg(link_->layerCount()) : "Layer:");
    lLine_->setText(shown ? QString("Line: %1 / %2").arg(link_->currentSourceLine()).arg(link_->sourceLineCount())
                          : "Line:");
}

PrinterPanelLoan::PrinterPanelLoan(PrinterPanel *panel, QWidget *place)
    : panel_(place ? panel : nullptr), owner_(panel ? panel->parentWidget() : nullptr)
{
    if (!panel_)
        return;
    QLayout *l = place->layout();
    if (!l)
        l = new QVBoxLayout(place);
    l->addWidget(panel_);
    panel_->show();
}

PrinterPanelLoan::~PrinterPanelLoan()
{
    if (!panel_)
        return;
    panel_->hide();
    panel_->setParent(owner_);
}
