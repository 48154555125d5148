#pragma once
// G-code reading: the parser with its simulated machine, the move records it
// leaves behind, layers by exact Z, and the statistics text.
//
// Units: millimetres, mm/min for feed rates, seconds, fan 0-255. Nothing here
// throws on bad input: the parser records its first error and goes on.
#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QLocale>
#include <QString>
#include <QVector>

#include <cstdint>
#include <vector>

// The simulated machine after a command. The first ten fields are what a
// move record keeps.
struct GCodeState {
    float x = 0, y = 0, z = 0;
    float e = 0;
    float f = 3000;          // mm/min; a start value so that moves before the first F take time
    std::uint8_t fan = 0;
    std::int32_t segType = 0; // SegType (geometry/polyline.h)
    double time = 0;         // s
    std::int32_t line = 0;   // 0-based line of the last executed command
    std::uint32_t lineEnd = 0; // byte offset where that line's line end starts (or the text end)
    double filament = 0;     // mm, sum of E changes of moves
    double printDist = 0;    // mm, XY length of moves with rising E
    double travelDist = 0;   // mm, XY length of all other moves
    float headTemp = 0, bedTemp = 0;
};

// How the statistics write the finish time: as the system locale does (12-
// or 24-hour), or fixed.
enum class ClockFormat { System, TwelveHour, TwentyFourHour };

// One record per executed command: the state right after it.
struct GCodeMove {
    float x, y, z, e, f;
    std::uint8_t fan;
    std::int32_t segType;
    float time;
    std::int32_t line;
    std::uint32_t lineEnd;

    static GCodeMove fromState(const GCodeState &s)
    {
        return {s.x, s.y, s.z, s.e, s.f, s.fan, s.segType, float(s.time), s.line, s.lineEnd};
    }
    bool operator==(const GCodeMove &o) const;
    bool operator!=(const GCodeMove &o) const { return !(*this == o); }
};
static_assert(sizeof(GCodeMove) == 40, "a move record holds ten fields");

// Records [begin, end) of one layer.
struct GCodeRange {
    int begin = 0, end = 0;
};

struct GCodeLayer {
    float z = 0;
    QVector<GCodeRange> ranges; // ascending; more than one when the print returns to this Z
    int moveCount() const;
};

class GCodeParser {
public:
    enum Result {
        NoCommand, // reached the limit without executing a command
        Unchanged, // executed a command that moved nothing
        Changed,   // X, Y, Z, E or the fan changed (always for M106/M107/M126/M127)
    };

    GCodeParser();

    // The text being parsed: `end` points at its terminating NUL. Call again
    // when the buffer moves or grows; parsing state is kept.
    void setText(const char *begin, const char *end);

    // Reads from `cur` to the end of one command (skipping lines without
    // one), executes it and advances `cur`. Never reads a line that starts at
    // or after `limit`; lines before `limit` must be complete (end with a
    // line end), a line ending at the text end counts as complete.
    Result parse(const char *&cur, const char *limit);

    const GCodeState &state() const { return st_; }
    bool tagIsGeneric() const { return tagGeneric_; }
    bool hasError() const { return !error_.isEmpty(); }
    // "GCodeParser error at line(N): message" of the first error, or empty.
    const QString &firstError() const { return error_; }
    int lineNumber() const { return lineNo_; }

    // When the text so far ended on a lone CR or LF, the character that would
    // have joined it into one line end ("\r\n" or "\n\r"); else 0.
    char pendingPartner() const { return pendingPartner_; }
    void clearPendingPartner() { pendingPartner_ = 0; }

private:
    enum { kLetters = 26 };
    bool has(char upper) const { return present_ & (1u << (upper - 'A')); }
    float val(char upper) const { return value_[upper - 'A']; }

    void error(const QString &msg, int line);
    const char *skipLine(const char *p) const;
    const char *lineEndOf(const char *p);
    const char *scanComment(const char *p);
    const char *consumeLineEnd(const char *p);
    void matchTags(const char *p);
    Result execute(char cmd, int line, const char *lineEndAt);
    Result executeG(int code, int line);
    Result executeM(int code);
    Result move();

    const char *base_ = nullptr;
    const char *end_ = nullptr;
    const char *lineEnd_ = nullptr; // cached line end of line lineEndFor_
    int lineEndFor_ = -1;

    std::uint32_t present_ = 0;
    float value_[kLetters] = {};

    GCodeState st_;
    int lineNo_ = 0;
    bool atLineStart_ = true;
    bool tagGeneric_ = false;
    bool inch_ = false;
    bool relXYZ_ = false;
    bool relE_ = false;
    char pendingPartner_ = 0;
    QString error_;
};

// A G-code text loaded whole or in pieces: the held text, the parser, the
// records and the layers. Pieces may be cut anywhere (inside a number or a
// line end); the result equals one whole load.
class GCodeSim {
public:
    // Discards everything; the next piece starts a new text.
    void clear();
    // Appends bytes and parses every line completed by them.
    void append(const QByteArray &chunk);
    // The text is complete: parses the last line if it has no line end.
    void finish();
    // clear + append + finish.
    void load(const QByteArray &text);
    // A whole text parsed in steps (for progress between them): the text's
    // bytes are shared, not copied. startWhole clears; each parseStep parses
    // the complete lines of about `bytes` more and returns the percentage
    // done; at 100 the load is finished. Same result as load. A text made
    // with QByteArray::fromRawData must outlive the simulation's use of it.
    void startWhole(const QByteArray &text);
    int parseStep(qsizetype bytes);

    // Counting only (call before the first append; clear keeps the choice):
    // no move records and no layer ranges are kept, and the text is dropped
    // once parsed, so memory stays at a line or two of text plus one entry
    // per layer, whatever the file's size. moveCount(), layerCount(), the
    // parser's state and errors and statsText() are what a full load gives;
    // moves() and text() stay empty, layers() keeps each layer's z only, and
    // the state's line end offsets count from an unspecified point.
    void setKeepRecords(bool keep);
    std::size_t moveCount() const { return keepRecords_ ? moves_.size() : counted_; }
    int layerCount() const { return layers_.size(); }

    const QByteArray &text() const { return text_; }
    const std::vector<GCodeMove> &moves() const { return moves_; }
    const QVector<GCodeLayer> &layers() const { return layers_; }
    const GCodeParser &parser() const { return parser_; }
    // Set when the data is binary G-code ("ZCode"; nothing is parsed then) or
    // grows past 2 GB (parsing stops there).
    const QString &rejected() const { return rejected_; }

    // The statistics of the whole run so far (see gcodeStatsText).
    QString statsText(bool multiLine, const QString &prices,
                      const QDateTime &now = QDateTime::currentDateTime(),
                      ClockFormat clock = ClockFormat::System) const;

private:
    void parseUpTo(qsizetype limit);
    void assignLayers();
    void countLayer(float z);
    void dropParsed();

    QByteArray text_;
    qsizetype cursor_ = 0;
    static QString binaryRefusal();
    bool decided_ = false; // whether the "ZCode" check has been made
    bool finished_ = false; // a stepped load has run finish
    qsizetype stepAt_ = 0; // a stepped load has searched up to here
    QString rejected_;
    GCodeParser parser_;
    std::vector<GCodeMove> moves_;
    QVector<GCodeLayer> layers_;
    QHash<std::uint32_t, int> layerByZ_; // exact Z -> layer
    std::size_t layered_ = 0;   // records already placed in layers
    float lastZ_ = -1e30f;
    int curLayer_ = -1;
    bool keepRecords_ = true;
    std::size_t counted_ = 0; // moves parsed when records are not kept
};

// "1:02 PM" (12-hour, "h:mm AP") or "13:02" (24-hour, "HH:mm").
QString finishTimeText(const QDateTime &t, ClockFormat clock);
// Whether the locale's short time format has no AM/PM marker.
bool localeUses24HourClock(const QLocale &locale);

// The statistics text. time in s, lengths in mm; prices is the price list
// setting ("PLA=0.091; ABS=0.075": currency per metre of filament); now is
// the local time the finish time is counted from.
QString gcodeStatsText(double time, double filament, double printDist, double travelDist,
                       const QString &prices, bool multiLine, const QDateTime &now,
                       ClockFormat clock = ClockFormat::System);

extern const char *const kDefaultFilamentPrices; // "PLA=0.091; ABS=0.075"
