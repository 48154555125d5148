#pragma once
// A USB-serial link to a printer that speaks the common RepRap dialect: one
// numbered, checksummed command in flight, acknowledged by "ok"; "Resend: N"
// rewinds to line N; "busy:" and "echo:" lines are tolerated; temperatures are
// polled with M105 every 2 s. A print job streams a G-code text with comments
// and blank lines stripped. GUI-free: the panel and `tessavo-cli print` share it.
//
// Nothing is ever written to a port other than the one passed to open().
// Failures are reported through errorOccurred() and the Error status, never
// thrown: a pulled cable is an ordinary event here.
#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVector>

#include <deque>
#include <memory>

class QSerialPort;

// One command of a print job.
struct PrinterJobLine {
    QByteArray command; // without comment, line end or surrounding blanks
    int sourceLine = 0; // 1-based line in the G-code text
    int layer = 0;      // 1-based layer the command belongs to (0 before the first)
    double timeAfter = 0; // s of simulated print time once the command has run
};

// Splits a G-code text into the commands a printer is sent: ';' comments and
// blank lines dropped, each command annotated with its source line, layer and
// the simulated time at its end (the statistics' time model).
QVector<PrinterJobLine> printerJobLines(const QByteArray &gcode, double *totalTime = nullptr,
                                        int *layerCount = nullptr);

// "N<line> <command>*<checksum>": the checksum is the XOR of every byte before '*'.
QByteArray numberedLine(int lineNumber, const QByteArray &command);

class PrinterLink : public QObject {
    Q_OBJECT
public:
    enum Status { Offline, Online, Error };
    enum JobState { NoJob, Printing, Paused, Finished, Cancelled, Failed };
    Q_ENUM(JobState)

    explicit PrinterLink(QObject *parent = nullptr);
    ~PrinterLink() override;

    // Baud rates offered to the user.
    static QVector<int> baudRates() { return {115200, 250000}; }

    // Opens `portName` (a name such as "ttyUSB0" or a path) and starts the
    // handshake; Online follows the printer's first "ok". False, with
    // errorOccurred() and status Error, when the port cannot be opened.
    bool open(const QString &portName, int baud);
    // Closes the port; a running job ends as Cancelled (no commands sent).
    void close();

    Status status() const { return status_; }
    // A port is open (the printer may not have answered yet).
    bool isOpen() const { return port_ != nullptr; }
    // True while the printer has said "busy:" within the last 3 s.
    bool busy() const;
    // "Online", "Offline" or "Error", with ", busy" appended while busy.
    QString statusText() const;
    QString portName() const { return portName_; }
    QString lastError() const { return lastError_; }

    // Queues one command from the user (sent before job lines). Ignored
    // unless a port is open.
    void sendCommand(const QString &command);

    // Starts printing `gcode`. False (and nothing sent) when the link is not
    // Online, a job is running, or the text holds no command.
    bool startJob(const QByteArray &gcode);
    void pause();
    void resume();
    // Drops the rest of the job and turns the heaters off ("M104 S0", "M140 S0").
    void cancel();

    JobState jobState() const { return jobState_; }
    // Nothing in flight and nothing queued.
    bool idle() const { return !inFlight_ && userQueue_.empty() && resendCursor_ < 0; }
    bool jobActive() const { return jobState_ == Printing || jobState_ == Paused; }
    int jobLinesTotal() const { return job_.size(); }
    int jobLinesDone() const { return jobAcked_; }      // acknowledged job commands
    int currentSourceLine() const; // 1-based; 0 before the first, the last line once finished
    int sourceLineCount() const { return sourceLines_; }
    int currentLayer() const;
    int layerCount() const { return layerCount_; }
    double timeRemaining() const;                      // s, from the time model

    // Last reported temperatures (°C); -1 until the first report.
    float nozzleTemp() const { return nozzle_; }
    float bedTemp() const { return bed_; }

    // Every acknowledged line as sent (numbered and checksummed), in order;
    // kept only when recording is on (tests and diagnostics).
    void setRecordAcknowledged(bool on) { record_ = on; }
    const QList<QByteArray> &acknowledged() const { return acked_; }

    // Timing knobs (ms); the defaults suit real printers.
    void setStartupWait(int ms) { startupWaitMs_ = ms; }
    void setPollInterval(int ms);
    void setResponseTimeout(int ms) { responseTimeoutMs_ = ms; }

signals:
    void statusChanged();
    void temperaturesChanged(float nozzle, float bed);
    void progressChanged();
    void lineReceived(const QString &line);
    void errorOccurred(const QString &message);
    void jobEnded(JobState state, const QString &message);

private:
    struct Pending {
        QByteArray command;
        int jobIndex = -1; // index into job_, or -1 for user and poll commands
        bool poll = false;
    };

    void onReadyRead();
    void onPortError(int error);
    void handleLine(const QByteArray &line);
    void acknowledge();
    void pump();
    void transmit(const QByteArray &command, int number);
    void fail(const QString &message);
    void setStatus(Status s);
    void endJob(JobState state, const QString &message);
    void parseTemperatures(const QByteArray &line);
    void startHandshake();
    void onWatchdog();
    void onPollTimer();

    std::unique_ptr<QSerialPort> port_;
    QString portName_;
    QString lastError_;
    Status status_ = Offline;
    bool handshaking_ = false;

    QByteArray rx_;
    // Line numbers: the next to assign, and every numbered line sent since
    // the last reset so a resend can repeat it exactly.
    int nextNumber_ = 0;
    QVector<QByteArray> sentByNumber_;
    std::deque<Pending> userQueue_;
    bool pollDue_ = false;
    bool inFlight_ = false;
    Pending current_;
    int currentNumber_ = -1;
    int resendFrom_ = -1; // line the printer asked for, or -1
    int resendCursor_ = -1; // next line to repeat, or -1
    int resendLast_ = -1;   // last line of the repeat run
    int repeats_ = 0;       // resends of the same line in a row

    QVector<PrinterJobLine> job_;
    int jobNext_ = 0;  // next job line to send
    int jobAcked_ = 0; // job lines acknowledged
    int sourceLines_ = 0;
    int layerCount_ = 0;
    double jobTotalTime_ = 0;
    JobState jobState_ = NoJob;

    float nozzle_ = -1, bed_ = -1;
    QElapsedTimer busyClock_;
    bool busySeen_ = false;

    bool record_ = false;
    QList<QByteArray> acked_;

    QTimer pollTimer_;
    QTimer watchdog_;
    QTimer startupTimer_;
    int startupWaitMs_ = 2000;
    int responseTimeoutMs_ = 30000;
    int handshakeTries_ = 0;
};
