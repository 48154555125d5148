#pragma once
// The printer control panel of the expert slicer dialog: pick a serial port,
// connect, home, set temperatures and print the current G-code, with the
// link's status, temperatures and job progress ("Time remaining:", "Layer:",
// "Line:") on show.
#include <QWidget>

#include <functional>

class PrinterLink;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;

class PrinterPanel : public QWidget {
    Q_OBJECT
public:
    explicit PrinterPanel(QWidget *parent = nullptr);
    ~PrinterPanel() override;

    // Where "Print" takes its G-code from (the main window's current text).
    void setGCodeSource(std::function<QByteArray()> source) { gcodeSource_ = std::move(source); }
    PrinterLink *link() const { return link_; }

    // Lists the serial ports the system knows; a typed path stays selectable.
    void refreshPorts();

signals:
    // A message for the user (failures of the port or the printer).
    void message(const QString &text);

private:
    void updateState();
    void connectOrDisconnect();
    void print();
    void pauseOrResume();
    void home(const char *command);

    PrinterLink *link_;
    std::function<QByteArray()> gcodeSource_;
    QComboBox *cbPort_, *cbBaud_;
    QPushButton *bRefreshPorts_, *bConnect_;
    QLabel *lStatus_, *lNozzle_, *lBed_, *lTimeRemaining_, *lLayer_, *lLine_;
    QPushButton *bHomeX_, *bHomeY_, *bHomeZ_, *bHomeAll_;
    QSpinBox *seNozzle_, *seBed_;
    QPushButton *bSetNozzle_, *bSetBed_;
    QPushButton *bPrint_, *bPause_, *bCancel_;
    QProgressBar *pbPrint_;
};

// Shows the window's printer panel in a dialog's place for the dialog's
// lifetime, then takes it back, so the connection and a running print
// outlive the dialog.
class PrinterPanelLoan {
public:
    PrinterPanelLoan(PrinterPanel *panel, QWidget *place);
    ~PrinterPanelLoan();
    PrinterPanelLoan(const PrinterPanelLoan &) = delete;
    PrinterPanelLoan &operator=(const PrinterPanelLoan &) = delete;

private:
    PrinterPanel *panel_;
    QWidget *owner_;
};
