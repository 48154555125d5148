#include "gcode/gcodesim.h"

#include "gcode/strnum.h"
#include "common/utils.h"
#include "geometry/polyline.h"

#include <QLocale>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

const char *const kDefaultFilamentPrices = "PLA=0.091; ABS=0.075";

bool GCodeMove::operator==(const GCodeMove &o) const
{
    return x == o.x && y == o.y && z == o.z && e == o.e && f == o.f && fan == o.fan
        && segType == o.segType && time == o.time && line == o.line && lineEnd == o.lineEnd;
}

int GCodeLayer::moveCount() const
{
    int n = 0;
    for (const GCodeRange &r : ranges)
        n += r.end - r.begin;
    return n;
}

// ---------------------------------------------------------------- tokenizer

namespace {

enum CharClass : std::uint8_t { Other = 0, Blank, Paren, Terminator, Letter };

struct CharTables {
    std::uint8_t cls[256];
    bool lineStop[256];    // NUL, LF, CR
    bool commentStop[256]; // NUL, LF, CR, ";"
    CharTables()
    {
        for (int c = 0; c < 256; ++c) {
            cls[c] = Other;
            lineStop[c] = commentStop[c] = false;
        }
        cls[unsigned(' ')] = cls[unsigned('\t')] = Blank;
        cls[unsigned('(')] = Paren;
        for (unsigned char c : {'\0', '\n', '\r', ';', '*'})
            cls[c] = Terminator;
        for (int c = 'A'; c <= 'Z'; ++c)
            cls[c] = cls[c + 32] = Letter;
        for (unsigned char c : {'\0', '\n', '\r'})
            lineStop[c] = commentStop[c] = true;
        commentStop[unsigned(';')] = true;
    }
};

const CharTables &chars()
{
    static const CharTables t;
    return t;
}

inline bool isNumberStart(char c)
{
    return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.';
}

inline bool isNameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// A byte for a message: printable ASCII as itself, anything else as \xNN so
// that a NUL or a control byte cannot cut or garble the text.
QString charText(unsigned char c)
{
    if (c >= 0x20 && c < 0x7F)
        return QString(QChar(c));
    return QString::asprintf("\\x%02X", c);
}

// G/M numbers are rounded; the clamp keeps absurd values defined.
int commandNumber(float v)
{
    if (!(v > -1e9f))
        v = -1e9f;
    if (v > 1e9f)
        v = 1e9f;
    return int(std::lround(v));
}

// Comment tag forms in the order they are tried. `scheme` selects the names
// column of SegTypeNames.
struct TagForm {
    const char *tag;
    int len;
    int scheme;
    bool generic;
};
const TagForm kTagForms[] = {
    {";segType:", 9, 0, false},
    {";TYPE:", 6, 1, false},
    {"; TYPE:", 7, 1, false},
    {"; '", 3, 3, false},
    {"; ", 2, 2, true},
};

// Further ";TYPE:" labels other slicers write, tried after the standard
// names of that form.
struct ExtraName {
    const char *name;
    int type;
};
const ExtraName kExtraTypeNames[] = {
    {"SKIN", HShell},
    {"External perimeter", Perimeter},
    {"Overhang perimeter", Perimeter},
    {"Perimeter", Loop},
    {"Internal infill", Infill},
    {"Solid infill", HShell},
    {"Top solid infill", HShell},
    {"Bridge infill", HShell},
    {"Internal bridge infill", HShell},
    {"Gap fill", HShell},
    {"Ironing", HShell},
    {"Support material interface", Support},
    {"Support material", Support},
    {"Skirt", Skirt},
};

// Whether the text at p starts with `name` followed by a non-name character.
// Stops at the first mismatch, so it never runs past a line end or the NUL.
inline bool startsWithName(const char *p, const char *name)
{
    while (*name) {
        if (*p != *name)
            return false;
        ++p;
        ++name;
    }
    return !isNameChar(*p);
}

inline bool startsWith(const char *p, const char *tag, int len)
{
    for (int i = 0; i < len; ++i)
        if (p[i] != tag[i])
            return false;
    return true;
}

} // namespace

GCodeParser::GCodeParser()
{
    chars();
}

void GCodeParser::setText(const char *begin, const char *end)
{
    base_ = begin;
    end_ = end;
    lineEnd_ = nullptr; // the buffer may have moved
    lineEndFor_ = -1;
}

void GCodeParser::error(const QString &msg, int line)
{
    if (error_.isEmpty())
        error_ = QStringLiteral("GCodeParser error at line(%1): %2").arg(line).arg(msg);
}

// To the line end (CR, LF or the text end); a NUL inside the text is part of
// the line.
const char *GCodeParser::skipLine(const char *p) const
{
    const bool *stop = chars().lineStop;
    for (;;) {
        while (!stop[static_cast<unsigned char>(*p)])
            ++p;
        if (*p || p == end_)
            return p;
        ++p;
    }
}

// The line end of the line p is on, found once per line: a line of many
// commands ("G1 X1 G1 X2 ...") asks for it at every command, and scanning
// to the end each time was quadratic in the line length.
const char *GCodeParser::lineEndOf(const char *p)
{
    if (lineEndFor_ != lineNo_ || !lineEnd_ || lineEnd_ < p) {
        lineEnd_ = skipLine(p);
        lineEndFor_ = lineNo_;
    }
    return lineEnd_;
}

// p is on the ";" or "*" ending the command part: matches tags at every ";"
// and returns the line end.
const char *GCodeParser::scanComment(const char *p)
{
    const bool *stop = chars().commentStop;
    for (;;) {
        if (*p == ';') {
            matchTags(p);
        } else if (*p != '*') {
            if (*p || p == end_)
                return p;
        }
        ++p;
        while (!stop[static_cast<unsigned char>(*p)])
            ++p;
    }
}

const char *GCodeParser::consumeLineEnd(const char *p)
{
    pendingPartner_ = 0;
    atLineStart_ = true;
    const char c = *p;
    if (c != '\n' && c != '\r')
        return p; // the text end
    ++lineNo_;
    const char partner = c == '\n' ? '\r' : '\n';
    ++p;
    if (*p == partner)
        ++p;
    else if (p == end_)
        pendingPartner_ = partner;
    return p;
}

void GCodeParser::matchTags(const char *p)
{
    for (const TagForm &form : kTagForms) {
        if (!startsWith(p, form.tag, form.len))
            continue;
        const char *q = p + form.len;
        for (int t = 1; t <= InnerHair; ++t) {
            const char *name = SegTypeNames[form.scheme * SegTypeCount + t];
            if (*name && startsWithName(q, name)) {
                st_.segType = t;
                tagGeneric_ = form.generic;
                return;
            }
        }
        if (form.scheme == 1) {
            for (const ExtraName &x : kExtraTypeNames) {
                if (startsWithName(q, x.name)) {
                    st_.segType = x.type;
                    tagGeneric_ = false;
                    return;
                }
            }
        }
    }
}

GCodeParser::Result GCodeParser::parse(const char *&cur, const char *limit)
{
    const std::uint8_t *cls = chars().cls;
    const char *p = cur;
    for (;;) {
        if (atLineStart_) {
            if (p >= limit) {
                cur = p;
                return NoCommand;
            }
            if (lineNo_ < 20
                && ((p[0] == 'd' && p[1] == 'o') || (p[0] == 'p' && p[1] == 'l')
                    || (p[0] == 'n' && p[1] == 'u'))) {
                p = consumeLineEnd(skipLine(p));
                continue;
            }
            atLineStart_ = false;
        }

        present_ = 0;
        char cmd = 0;
        bool failed = false;
        bool textLine = false; // M117: the rest of the line is display text
        for (;;) {
            const unsigned char c = static_cast<unsigned char>(*p);
            const std::uint8_t k = cls[c];
            if (k == Blank) {
                ++p;
                continue;
            }
            if (k == Paren) {
                // Up to ")"; an unclosed one ends with its line.
                ++p;
                while (*p != ')' && *p != '\n' && *p != '\r' && (*p || p != end_))
                    ++p;
                if (*p == ')')
                    ++p;
                continue;
            }
            if (k == Terminator && (c || p == end_))
                break;
            if (k != Letter) {
                error(QStringLiteral("Invalid Char '%1' in GCode stream.").arg(charText(c)), lineNo_);
                failed = true;
                break;
            }
            const char u = char(c & ~0x20);
            const bool isCmdLetter = u == 'G' || u == 'M' || u == 'T';
            if (!cmd) {
                if (!isCmdLetter) {
                    error(QStringLiteral("Invalid gcode command (first param) '%1'. "
                                         "Valid commands are [G, M, T].")
                              .arg(QChar(u)),
                          lineNo_);
                    failed = true;
                    break;
                }
                cmd = u;
            } else if (isCmdLetter && !(u == 'T' && cmd == 'M' && !has('T'))) {
                // The next command on this line: run this one, stop on the letter.
                const int line = lineNo_;
                const Result r = execute(cmd, line, lineEndOf(p));
                if (r != NoCommand) {
                    cur = p;
                    return r;
                }
                failed = true;
                break;
            } else if (has(u)) {
                error(QStringLiteral("Param already specified '%1'.").arg(QChar(u)), lineNo_);
                failed = true;
                break;
            }
            ++p;
            float v = 0;
            if (isNumberStart(*p) && !strnum::strToNormalFloat(p, v)) {
                error(QStringLiteral("Invalid float format."), lineNo_);
                failed = true;
                break;
            }
            present_ |= 1u << (u - 'A');
            value_[u - 'A'] = v;
            if (u == cmd && cmd == 'M' && commandNumber(v) == 117) {
                textLine = true;
                break;
            }
        }

        if (failed || textLine) {
            p = skipLine(p);
        } else if (*p == ';' || *p == '*') {
            p = scanComment(p);
        }
        const int line = lineNo_;
        const char *lineEndAt = p;
        p = consumeLineEnd(p);
        if (cmd && !failed) {
            const Result r = execute(cmd, line, lineEndAt);
            if (r != NoCommand) {
                cur = p;
                return r;
            }
        }
    }
}

// Runs the command read into the parameter table. NoCommand when it was
// refused (an unknown G).
GCodeParser::Result GCodeParser::execute(char cmd, int line, const char *lineEndAt)
{
    const int code = commandNumber(val(cmd));
    Result r = Unchanged;
    if (cmd == 'G')
        r = executeG(code, line);
    else if (cmd == 'M')
        r = executeM(code);
    if (r != NoCommand) {
        st_.line = line;
        st_.lineEnd = std::uint32_t(lineEndAt - base_);
    }
    return r;
}

GCodeParser::Result GCodeParser::executeG(int code, int line)
{
    const GCodeState prev = st_;
    const float unit = inch_ ? 25.4f : 1.f;
    switch (code) {
    case 0:
    case 1:
        return move();
    case 4:
        if (has('P') && val('P') > 0)
            st_.time += double(val('P')) * 0.001;
        return Unchanged;
    case 20:
        inch_ = true;
        return Unchanged;
    case 21:
        inch_ = false;
        return Unchanged;
    case 28:
    case 161:
    case 162:
        if (!has('X') && !has('Y') && !has('Z')) {
            st_.x = st_.y = st_.z = 0;
        } else {
            if (has('X'))
                st_.x = val('X');
            if (has('Y'))
                st_.y = val('Y');
            if (has('Z'))
                st_.z = val('Z');
        }
        st_.time += 4.0;
        break;
    case 29:
    case 130:
        return Unchanged;
    case 90:
        relXYZ_ = relE_ = false;
        return Unchanged;
    case 91:
        relXYZ_ = relE_ = true;
        return Unchanged;
    case 92:
        if (has('X'))
            st_.x = val('X') * unit;
        if (has('Y'))
            st_.y = val('Y') * unit;
        if (has('Z'))
            st_.z = val('Z') * unit;
        if (has('E'))
            st_.e = val('E') * unit;
        if (has('A'))
            st_.e = val('A') * unit;
        break;
    default:
        error(QStringLiteral("Unknown GCode '%1'").arg(QStringLiteral("G%1").arg(code)), line);
        return NoCommand;
    }
    return (st_.x != prev.x || st_.y != prev.y || st_.z != prev.z || st_.e != prev.e) ? Changed
                                                                                       : Unchanged;
}

GCodeParser::Result GCodeParser::executeM(int code)
{
    switch (code) {
    case 82:
        relE_ = false;
        break;
    case 83:
        relE_ = true;
        break;
    case 104:
    case 109:
        if (has('S'))
            st_.headTemp = val('S');
        break;
    case 140:
    case 190:
        if (has('S'))
            st_.bedTemp = val('S');
        break;
    case 106: {
        // Without S the fan runs at full speed, as firmware does.
        float s = has('S') ? val('S') : 255.f;
        s = std::min(std::max(s, 0.f), 255.f);
        if (!(s == s))
            s = 0;
        st_.fan = std::uint8_t(std::lround(s));
        return Changed;
    }
    case 107:
    case 127:
        st_.fan = 0;
        return Changed;
    case 126:
        st_.fan = 255;
        return Changed;
    default:
        break;
    }
    return Unchanged;
}

GCodeParser::Result GCodeParser::move()
{
    const float px = st_.x, py = st_.y, pz = st_.z, pe = st_.e;
    const float unit = inch_ ? 25.4f : 1.f;
    auto axis = [&](char letter, float &coord, bool rel) {
        if (!has(letter))
            return;
        const float v = val(letter) * unit;
        coord = rel ? coord + v : v;
    };
    axis('X', st_.x, relXYZ_);
    axis('Y', st_.y, relXYZ_);
    axis('Z', st_.z, relXYZ_);
    axis('E', st_.e, relE_);
    axis('A', st_.e, relE_);
    // A pure extruder move (retract, prime) keeps the feed rate for timing.
    const bool hasXYZ = has('X') || has('Y') || has('Z');
    if (has('F') && (hasXYZ || !(has('A') || has('E'))))
        st_.f = val('F') * unit;

    const double dx = double(st_.x) - px, dy = double(st_.y) - py;
    const double dist = std::sqrt(dx * dx + dy * dy);
    const double de = double(st_.e) - pe;
    st_.filament += de;
    if (de > 0)
        st_.printDist += dist;
    else
        st_.travelDist += dist;
    double feed = st_.f;
    if (!(feed >= 0.01)) // also catches NaN
        feed = 0.01;
    if (feed > 1e7)
        feed = 1e7;
    st_.time += dist * 60.0 / feed;
    return (st_.x != px || st_.y != py || st_.z != pz || st_.e != pe) ? Changed : Unchanged;
}

// ---------------------------------------------------------------- loader

namespace {

const char kZCode[] = "ZCode";
constexpr qsizetype kMaxText = 0x7FFF0000;

// Layers are keyed by the exact Z: -0 equals +0, and all NaNs share one key
// (a NaN never equals the last Z, so each would look again).
std::uint32_t zKey(float z)
{
    if (z == 0)
        return 0;
    if (z != z)
        return 0x7FC00000u;
    std::uint32_t k;
    std::memcpy(&k, &z, sizeof k);
    return k;
}

} // namespace

void GCodeSim::clear()
{
    const bool keep = keepRecords_;
    *this = GCodeSim();
    keepRecords_ = keep;
}

void GCodeSim::setKeepRecords(bool keep)
{
    keepRecords_ = keep;
}

// Counting mode: the parsed text is not needed again; only the unparsed
// tail (part of a line) stays.
void GCodeSim::dropParsed()
{
    if (keepRecords_ || cursor_ == 0)
        return;
    text_.remove(0, cursor_);
    cursor_ = 0;
}

QString GCodeSim::binaryRefusal()
{
    return QStringLiteral("Binary G-code (data starting with \"ZCode\") is not supported; "
                          "convert it to G-code text first.");
}

void GCodeSim::append(const QByteArray &chunk)
{
    if (chunk.isEmpty() || !rejected_.isEmpty())
        return;
    // A byte array holds less than 2 GB; refuse instead of failing to grow.
    if (chunk.size() > kMaxText - text_.size()) {
        rejected_ = QStringLiteral("G-code text larger than 2 GB is not supported.");
        return;
    }
    dropParsed();
    const qsizetype oldSize = text_.size();
    text_.append(chunk);
    if (!decided_) {
        // Wait until five bytes show whether this is binary G-code.
        const int n = int(std::min<qsizetype>(text_.size(), 5));
        if (std::memcmp(text_.constData(), kZCode, size_t(n)) != 0) {
            decided_ = true;
        } else if (n == 5) {
            decided_ = true;
            rejected_ = binaryRefusal();
        } else {
            return;
        }
    }
    if (!rejected_.isEmpty())
        return;
    // A CR or LF that ended the previous piece pairs with its partner here.
    if (const char partner = parser_.pendingPartner()) {
        parser_.clearPendingPartner();
        if (cursor_ == oldSize && text_.at(cursor_) == partner)
            ++cursor_;
    }
    // Only complete lines are parsed: up to the last line end among the new
    // bytes (lines before them ended earlier).
    const char *d = text_.constData();
    for (qsizetype i = text_.size(); i > std::max(oldSize, cursor_); --i) {
        if (d[i - 1] == '\n' || d[i - 1] == '\r') {
            parseUpTo(i);
            break;
        }
    }
}

void GCodeSim::finish()
{
    if (!decided_) {
        // Fewer than five bytes: not binary G-code.
        decided_ = true;
    }
    if (!rejected_.isEmpty())
        return;
    parseUpTo(text_.size());
}

void GCodeSim::startWhole(const QByteArray &text)
{
    clear();
    text_ = text; // implicitly shared: the caller's bytes, no copy
    decided_ = true;
    if (text_.size() >= 5 && std::memcmp(text_.constData(), kZCode, 5) == 0) {
        rejected_ = binaryRefusal();
        return;
    }
    // Sliced G-code has a command every 25-40 bytes: one reservation for the
    // whole text spares copying the records as they grow. Pages the records
    // never reach are never touched, so a generous guess costs no memory.
    // Only a guess: where the system refuses it, the records grow as needed.
    if (keepRecords_) {
        try {
            moves_.reserve(std::size_t(text_.size()) / 24);
        } catch (const std::bad_alloc &) {
        }
    }
}

int GCodeSim::parseStep(qsizetype bytes)
{
    const qsizetype size = text_.size();
    if (!rejected_.isEmpty() || cursor_ >= size) {
        if (!finished_) {
            finished_ = true;
            finish();
        }
        return 100;
    }
    // Up to the last line end within the step; the parser sees the whole
    // text, so a CR LF pair split by the step's end still pairs.
    // Only the step's new bytes are searched: a line longer than a step
    // costs no more than its length.
    const qsizetype from = std::max(cursor_, stepAt_);
    const qsizetype limit = std::min(size, from + std::max<qsizetype>(bytes, 1));
    stepAt_ = limit;
    const char *d = text_.constData();
    qsizetype i = limit;
    while (i > from && d[i - 1] != '\n' && d[i - 1] != '\r')
        --i;
    if (i > from)
        parseUpTo(i);
    if (limit == size) {
        finished_ = true;
        finish();
        return 100;
    }
    return int(std::min<qsizetype>(99, limit * 100 / size));
}

void GCodeSim::load(const QByteArray &text)
{
    startWhole(text);
    parseStep(text.size());
}

void GCodeSim::parseUpTo(qsizetype limit)
{
    const char *base = text_.constData();
    parser_.setText(base, base + text_.size());
    const char *cur = base + cursor_;
    const char *lim = base + limit;
    if (!keepRecords_) {
        while (cur < lim) {
            if (parser_.parse(cur, lim) == GCodeParser::NoCommand)
                break;
            ++counted_;
            countLayer(parser_.state().z);
        }
        cursor_ = cur - base;
        return;
    }
    // Sliced G-code has a command every 25-40 bytes; one reservation spares
    // the repeated copying of a large load.
    const std::size_t expected = moves_.size() + std::size_t(limit - cursor_) / 32;
    if (moves_.capacity() < expected)
        moves_.reserve(std::max(expected, moves_.capacity() * 2));
    while (cur < lim) {
        if (parser_.parse(cur, lim) == GCodeParser::NoCommand)
            break;
        moves_.push_back(GCodeMove::fromState(parser_.state()));
        // In the generic convention the tag follows the first move of its
        // section, so that move belongs to the section too.
        const std::size_t n = moves_.size();
        if (parser_.tagIsGeneric() && n >= 2)
            moves_[n - 2].segType = moves_[n - 1].segType;
    }
    cursor_ = cur - base;
    assignLayers();
}

// The layer bookkeeping of assignLayers for one move, without ranges.
void GCodeSim::countLayer(float z)
{
    if (z == lastZ_ && curLayer_ >= 0)
        return;
    lastZ_ = z;
    const std::uint32_t key = zKey(z);
    auto it = layerByZ_.constFind(key);
    if (it != layerByZ_.constEnd()) {
        curLayer_ = it.value();
        return;
    }
    curLayer_ = layers_.size();
    GCodeLayer l;
    l.z = z;
    layers_.append(l);
    layerByZ_.insert(key, curLayer_);
}

void GCodeSim::assignLayers()
{
    for (std::size_t i = layered_; i < moves_.size(); ++i) {
        const float z = moves_[i].z;
        if (!(z == lastZ_) || curLayer_ < 0) {
            lastZ_ = z;
            const std::uint32_t key = zKey(z);
            auto it = layerByZ_.constFind(key);
            if (it != layerByZ_.constEnd()) {
                curLayer_ = it.value();
            } else {
                curLayer_ = layers_.size();
                GCodeLayer l;
                l.z = z;
                layers_.append(l);
                layerByZ_.insert(key, curLayer_);
            }
        }
        QVector<GCodeRange> &ranges = layers_[curLayer_].ranges;
        const int idx = int(i);
        if (!ranges.isEmpty() && ranges.last().end == idx)
            ++ranges.last().end;
        else
            ranges.append({idx, idx + 1});
    }
    layered_ = moves_.size();
}

QString GCodeSim::statsText(bool multiLine, const QString &prices, const QDateTime &now,
                           ClockFormat clock) const
{
    const GCodeState &s = parser_.state();
    return gcodeStatsText(s.time, s.filament, s.printDist, s.travelDist, prices, multiLine, now, clock);
}

// ---------------------------------------------------------------- statistics

bool localeUses24HourClock(const QLocale &locale)
{
    // An "a"/"A"/"ap"/"AP" outside quoted text is the AM/PM marker.
    const QString f = locale.timeFormat(QLocale::ShortFormat);
    bool quoted = false;
    for (const QChar c : f) {
        if (c == '\'')
            quoted = !quoted;
        else if (!quoted && (c == 'a' || c == 'A'))
            return false;
    }
    return true;
}

QString finishTimeText(const QDateTime &t, ClockFormat clock)
{
    if (clock == ClockFormat::System)
        clock = localeUses24HourClock(QLocale::system()) ? ClockFormat::TwentyFourHour
                                                         : ClockFormat::TwelveHour;
    // The C locale writes the digits and "AM"/"PM" the same on every system;
    // "H:m a" gave "13:2 pm" for 13:02.
    return QLocale::c().toString(t, clock == ClockFormat::TwentyFourHour ? QStringLiteral("HH:mm")
                                                                         : QStringLiteral("h:mm AP"));
}

QString gcodeStatsText(double time, double filament, double printDist, double travelDist,
                       const QString &prices, bool multiLine, const QDateTime &now, ClockFormat clock)
{
    const QString duration = formatDuration(float(time));
    // Bounded so that an absurd total cannot overflow the date arithmetic.
    const double secs = std::isfinite(time) ? std::min(std::max(time, 0.0), 1e11) : 0.0;
    const QString finish = finishTimeText(now.addSecs(qint64(secs)), clock);
    const double metres = filament / 1000.0;
    const QString length = QString::number(metres, 'f', 1);
    const QString travel =
        QString::number(travelDist / std::max(printDist + travelDist, 1.0) * 100.0, 'f', 1);
    if (!multiLine)
        return "Time: " + duration + "  Finish: " + finish + "  Length: " + length
            + " m  Travel: " + travel + "%";
    QString s = "Time: " + duration + "\r\nFinish: " + finish + "\r\nLength: " + length
        + " m\r\nTravel: " + travel + "%";
    for (const QString &part : prices.split(';')) {
        const QStringList pieces = part.trimmed().split('=');
        if (pieces.size() < 2)
            continue;
        const QString name = pieces[0].trimmed();
        bool ok = false;
        const double price = pieces[1].trimmed().toDouble(&ok);
        if (name.isEmpty() || !ok)
            continue;
        s += "\r\n  " + name + " : " + QString::number(price * metres, 'g', 3);
    }
    return s;
}
