#include "printer/printerlink.h"

#include "gcode/gcodesim.h"

#include <QRegularExpression>
#include <QSerialPort>

#include <algorithm>

namespace {

// Lines kept for resends: printers only ask for the last few.
constexpr int kResendHistory = 256;
// Handshake tries before the port is given up as silent.
constexpr int kHandshakeTries = 3;
constexpr int kHandshakeTimeoutMs = 3000;
// A printer that keeps rejecting the same line is not going to take it.
constexpr int kMaxResendsOfOneLine = 10;

// Drops a ';' comment, an existing "N123 " prefix and "*12" checksum, and
// surrounding blanks.
QByteArray cleanCommand(QByteArray line)
{
    const int semi = line.indexOf(';');
    if (semi >= 0)
        line.truncate(semi);
    line = line.trimmed();
    if (line.size() > 1 && (line[0] == 'N' || line[0] == 'n') && line[1] >= '0' && line[1] <= '9') {
        int i = 1;
        while (i < line.size() && line[i] >= '0' && line[i] <= '9')
            ++i;
        line = line.mid(i).trimmed();
    }
    const int star = line.lastIndexOf('*');
    if (star >= 0) {
        bool digits = star + 1 < line.size();
        for (int i = star + 1; i < line.size(); ++i)
            digits = digits && line[i] >= '0' && line[i] <= '9';
        if (digits)
            line = line.left(star).trimmed();
    }
    return line;
}

} // namespace

QByteArray numberedLine(int lineNumber, const QByteArray &command)
{
    QByteArray out = "N" + QByteArray::number(lineNumber) + ' ' + command;
    unsigned char cs = 0;
    for (char c : out)
        cs ^= static_cast<unsigned char>(c);
    out += '*';
    out += QByteArray::number(cs);
    return out;
}

QVector<PrinterJobLine> printerJobLines(const QByteArray &gcode, double *totalTime, int *layerCount)
{
    GCodeSim sim;
    sim.load(gcode);
    const std::vector<GCodeMove> &moves = sim.moves();

    // Layer of every record, numbered in the order the print reaches them.
    std::vector<int> layerOf(moves.size(), 0);
    const QVector<GCodeLayer> &layers = sim.layers();
    for (int l = 0; l < layers.size(); ++l)
        for (const GCodeRange &r : layers[l].ranges)
            for (int i = std::max(0, r.begin); i < r.end && i < int(moves.size()); ++i)
                layerOf[size_t(i)] = l + 1;

    QVector<PrinterJobLine> out;
    std::size_t rec = 0;
    int lineNo = 0; // 0-based
    int start = 0;
    double time = 0;
    int layer = 0;
    while (start < gcode.size()) {
        int end = gcode.indexOf('\n', start);
        if (end < 0)
            end = gcode.size();
        QByteArray cmd = cleanCommand(gcode.mid(start, end - start));
        // Records are in line order; catch up to this line.
        while (rec < moves.size() && moves[rec].line <= lineNo) {
            time = moves[rec].time;
            layer = layerOf[rec];
            ++rec;
        }
        if (!cmd.isEmpty())
            out.append({cmd, lineNo + 1, layer, time});
        ++lineNo;
        start = end + 1;
    }
    if (totalTime)
        *totalTime = sim.parser().state().time;
    if (layerCount)
        *layerCount = layers.size();
    return out;
}

PrinterLink::PrinterLink(QObject *parent) : QObject(parent)
{
    pollTimer_.setInterval(2000);
    connect(&pollTimer_, &QTimer::timeout, this, &PrinterLink::onPollTimer);
    watchdog_.setSingleShot(true);
    connect(&watchdog_, &QTimer::timeout, this, &PrinterLink::onWatchdog);
    startupTimer_.setSingleShot(true);
    connect(&startupTimer_, &QTimer::timeout, this, &PrinterLink::startHandshake);
}

PrinterLink::~PrinterLink()
{
    // Quietly: no signals to half-destroyed listeners.
    blockSignals(true);
    close();
}

void PrinterLink::setPollInterval(int ms) { pollTimer_.setInterval(ms); }

bool PrinterLink::open(const QString &portName, int baud)
{
    close();
    portName_ = portName;
    lastError_.clear();
    port_ = std::make_unique<QSerialPort>();
    port_->setPortName(portName);
    if (!port_->open(QIODevice::ReadWrite)) {
        const QString why = port_->errorString();
        port_.reset();
        fail(QString("Cannot open %1: %2").arg(portName, why));
        return false;
    }
    port_->setBaudRate(baud);
    port_->setDataBits(QSerialPort::Data8);
    port_->setParity(QSerialPort::NoParity);
    port_->setStopBits(QSerialPort::OneStop);
    port_->setFlowControl(QSerialPort::NoFlowControl);
    connect(port_.get(), &QSerialPort::readyRead, this, &PrinterLink::onReadyRead);
    connect(port_.get(), &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError e) { onPortError(int(e)); });
    handshaking_ = true;
    handshakeTries_ = 0;
    // Boards that reset on open announce themselves; others stay silent, so
    // the handshake also starts after a while without a word.
    startupTimer_.start(startupWaitMs_);
    setStatus(Offline);
    return true;
}

void PrinterLink::close()
{
    pollTimer_.stop();
    watchdog_.stop();
    startupTimer_.stop();
    if (jobActive())
        endJob(Cancelled, "Disconnected");
    if (port_) {
        port_->disconnect(this);
        if (port_->isOpen())
            port_->close();
        // Often called from the port's own signal: delete it once that returns.
        port_.release()->deleteLater();
    }
    rx_.clear();
    userQueue_.clear();
    sentByNumber_.clear();
    inFlight_ = false;
    pollDue_ = false;
    handshaking_ = false;
    resendFrom_ = -1;
    resendCursor_ = -1;
    repeats_ = 0;
    busySeen_ = false;
    if (status_ != Error)
        setStatus(Offline);
}

bool PrinterLink::busy() const { return busySeen_ && busyClock_.isValid() && busyClock_.elapsed() < 3000; }

QString PrinterLink::statusText() const
{
    QString s = status_ == Online ? "Online" : status_ == Error ? "Error" : "Offline";
    if (status_ == Online && busy())
        s += ", busy";
    return s;
}

void PrinterLink::sendCommand(const QString &command)
{
    if (!port_)
        return;
    const QByteArray cmd = cleanCommand(command.toLatin1());
    if (cmd.isEmpty())
        return;
    userQueue_.push_back({cmd, -1, false});
    pump();
}

bool PrinterLink::startJob(const QByteArray &gcode)
{
    if (status_ != Online || jobActive())
        return false;
    double total = 0;
    int layers = 0;
    QVector<PrinterJobLine> lines = printerJobLines(gcode, &total, &layers);
    if (lines.isEmpty())
        return false;
    job_ = std::move(lines);
    jobTotalTime_ = total;
    layerCount_ = layers;
    sourceLines_ = int(gcode.count('\n') + (gcode.endsWith('\n') ? 0 : 1));
    jobNext_ = 0;
    jobAcked_ = 0;
    jobState_ = Printing;
    emit progressChanged();
    pump();
    return true;
}

void PrinterLink::pause()
{
    if (jobState_ == Printing) {
        jobState_ = Paused;
        emit progressChanged();
    }
}

void PrinterLink::resume()
{
    if (jobState_ == Paused) {
        jobState_ = Printing;
        emit progressChanged();
        pump();
    }
}

void PrinterLink::cancel()
{
    if (!jobActive())
        return;
    jobNext_ = job_.size();
    userQueue_.clear();
    userQueue_.push_back({"M104 S0", -1, false});
    userQueue_.push_back({"M140 S0", -1, false});
    endJob(Cancelled, "Print cancelled");
    pump();
}

int PrinterLink::currentSourceLine() const
{
    if (jobState_ == Finished)
        return sourceLines_; // trailing comments count as done too
    return jobAcked_ > 0 && jobAcked_ <= job_.size() ? job_[jobAcked_ - 1].sourceLine : 0;
}

int PrinterLink::currentLayer() const
{
    return jobAcked_ > 0 && jobAcked_ <= job_.size() ? job_[jobAcked_ - 1].layer : 0;
}

double PrinterLink::timeRemaining() const
{
    if (job_.isEmpty())
        return 0;
    const double done = jobAcked_ > 0 ? job_[jobAcked_ - 1].timeAfter : 0;
    return std::max(0.0, jobTotalTime_ - done);
}

void PrinterLink::onReadyRead()
{
    if (!port_)
        return;
    rx_ += port_->readAll();
    // A printer that never sends a line end must not grow this without bound.
    if (rx_.size() > (1 << 16) && rx_.indexOf('\n') < 0)
        rx_.clear();
    int nl;
    while (port_ && (nl = rx_.indexOf('\n')) >= 0) {
        const QByteArray line = rx_.left(nl).trimmed();
        rx_.remove(0, nl + 1);
        if (!line.isEmpty())
            handleLine(line);
    }
}

void PrinterLink::handleLine(const QByteArray &line)
{
    emit lineReceived(QString::fromLatin1(line));
    if (inFlight_)
        watchdog_.start(handshaking_ ? kHandshakeTimeoutMs : responseTimeoutMs_);
    if (handshaking_ && !inFlight_) {
        // The board's start-up text: it listens now.
        startupTimer_.stop();
        startHandshake();
        return;
    }
    if (line.startsWith("ok")) {
        parseTemperatures(line);
        acknowledge();
    } else if (line.startsWith("Resend:") || line.startsWith("rs")) {
        static const QRegularExpression num("(\\d+)");
        const QRegularExpressionMatch m = num.match(QString::fromLatin1(line));
        if (m.hasMatch())
            resendFrom_ = m.captured(1).toInt();
    } else if (line.startsWith("busy:")) {
        busySeen_ = true;
        busyClock_.restart();
        emit statusChanged();
    } else if (line.startsWith("echo:")) {
        // Informational.
    } else if (line.startsWith("Error:") || line.startsWith("error:") || line.startsWith("!!")) {
        const QByteArray low = line.toLower();
        // Transmission errors are followed by a resend request; anything else
        // means the printer stopped.
        const bool transmission = low.contains("checksum") || low.contains("line number") ||
                                  low.contains("last line") || low.contains("format error");
        if (!transmission)
            fail(QString("The printer reported an error: %1").arg(QString::fromLatin1(line)));
    } else if (line.contains("T:")) {
        parseTemperatures(line);
    }
}

void PrinterLink::parseTemperatures(const QByteArray &line)
{
    static const QRegularExpression tRe("(?:^|\\s)T:\\s*(-?\\d*\\.?\\d*)");
    static const QRegularExpression bRe("(?:^|\\s)B:\\s*(-?\\d*\\.?\\d*)");
    const QString s = QString::fromLatin1(line);
    bool changed = false;
    bool ok = false;
    QRegularExpressionMatch m = tRe.match(s);
    if (m.hasMatch()) {
        const float v = m.captured(1).toFloat(&ok);
        if (ok && v != nozzle_) {
            nozzle_ = v;
            changed = true;
        }
    }
    m = bRe.match(s);
    if (m.hasMatch()) {
        const float v = m.captured(1).toFloat(&ok);
        if (ok && v != bed_) {
            bed_ = v;
            changed = true;
        }
    }
    if (changed)
        emit temperaturesChanged(nozzle_, bed_);
}

void PrinterLink::startHandshake()
{
    if (!port_ || !handshaking_)
        return;
    if (++handshakeTries_ > kHandshakeTries) {
        fail(QString("No answer from the printer on %1").arg(portName_));
        return;
    }
    sentByNumber_.clear();
    nextNumber_ = 0;
    resendFrom_ = -1;
    current_ = {"M110 N0", -1, false};
    transmit(current_.command, -1);
    watchdog_.start(kHandshakeTimeoutMs);
}

void PrinterLink::transmit(const QByteArray &command, int number)
{
    if (number < 0) {
        number = nextNumber_++;
        sentByNumber_.append(numberedLine(number, command));
        // Keep the recent lines only, indexed by number - first.
        if (sentByNumber_.size() > 2 * kResendHistory)
            sentByNumber_.remove(0, sentByNumber_.size() - kResendHistory);
    }
    const int first = nextNumber_ - sentByNumber_.size();
    const QByteArray &text = sentByNumber_[number - first];
    currentNumber_ = number;
    inFlight_ = true;
    port_->write(text + '\n');
    if (!handshaking_)
        watchdog_.start(responseTimeoutMs_);
}

void PrinterLink::acknowledge()
{
    if (!inFlight_) {
        // An "ok" with nothing outstanding (firmwares add one after a resend request).
        resendFrom_ = -1;
        pump();
        return;
    }
    inFlight_ = false;
    watchdog_.stop();
    const int first = nextNumber_ - sentByNumber_.size();

    if (resendFrom_ >= 0) {
        const int want = resendFrom_;
        resendFrom_ = -1;
        if (want <= currentNumber_) {
            if (want < first) {
                fail(QString("The printer asked for line %1, which is too old to repeat").arg(want));
                return;
            }
            repeats_ = want == currentNumber_ ? repeats_ + 1 : 0;
            if (repeats_ > kMaxResendsOfOneLine) {
                repeats_ = 0;
                fail(QString("The printer keeps rejecting line %1").arg(want));
                return;
            }
            // Repeat from `want` up to the line in hand before taking new work.
            resendCursor_ = want;
            resendLast_ = currentNumber_;
            pump();
            return;
        }
    }
    if (resendCursor_ >= 0 && currentNumber_ < resendLast_) {
        ++resendCursor_;
        pump();
        return;
    }
    resendCursor_ = -1;
    repeats_ = 0;

    if (record_ && currentNumber_ >= first)
        acked_.append(sentByNumber_[currentNumber_ - first]);
    if (handshaking_) {
        handshaking_ = false;
        setStatus(Online);
        pollTimer_.start();
        pollDue_ = true;
    } else if (current_.jobIndex >= 0) {
        jobAcked_ = current_.jobIndex + 1;
        emit progressChanged();
        if (jobState_ != Cancelled && jobAcked_ == job_.size() && jobNext_ >= job_.size())
            endJob(Finished, "Print finished");
    }
    current_ = Pending();
    pump();
}

void PrinterLink::pump()
{
    if (!port_ || inFlight_ || handshaking_)
        return;
    if (resendCursor_ >= 0) {
        transmit(QByteArray(), resendCursor_);
        return;
    }
    if (!userQueue_.empty()) {
        current_ = userQueue_.front();
        userQueue_.pop_front();
    } else if (pollDue_) {
        pollDue_ = false;
        current_ = {"M105", -1, true};
    } else if (jobState_ == Printing && jobNext_ < job_.size()) {
        current_ = {job_[jobNext_].command, jobNext_, false};
        ++jobNext_;
    } else {
        return;
    }
    transmit(current_.command, -1);
}

void PrinterLink::onPollTimer()
{
    // Never pile polls up behind a queue of the user's commands.
    if (status_ != Online || pollDue_ || userQueue_.size() >= 4)
        return;
    pollDue_ = true;
    pump();
}

void PrinterLink::onWatchdog()
{
    if (!inFlight_)
        return;
    if (handshaking_) {
        inFlight_ = false;
        startHandshake();
        return;
    }
    fail(QString("The printer stopped answering on %1 (no reply for %2 s)")
             .arg(portName_)
             .arg(responseTimeoutMs_ / 1000.0));
}

void PrinterLink::onPortError(int error)
{
    if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError || !port_)
        return;
    fail(QString("Lost the connection to %1: %2").arg(portName_, port_->errorString()));
}

void PrinterLink::fail(const QString &message)
{
    lastError_ = message;
    if (jobActive())
        endJob(Failed, message);
    // Closing through close() would report Offline; keep Error instead.
    status_ = Error;
    close();
    setStatus(Error);
    emit statusChanged();
    emit errorOccurred(message);
}

void PrinterLink::setStatus(Status s)
{
    if (s == status_)
        return;
    status_ = s;
    emit statusChanged();
}

void PrinterLink::endJob(JobState state, const QString &message)
{
    jobState_ = state;
    emit progressChanged();
    emit jobEnded(state, message);
}
