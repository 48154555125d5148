#include "gcode/gcodewriter.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

// Decimal digits of n at p; returns the end.
char *putUnsigned(char *p, std::uint64_t n)
{
    char tmp[20];
    int k = 0;
    do {
        tmp[k++] = char('0' + n % 10);
        n /= 10;
    } while (n);
    while (k)
        *p++ = tmp[--k];
    return p;
}

// What QByteArray::number(n) gives.
char *putInt(char *p, long long n)
{
    if (n < 0) {
        *p++ = '-';
        return putUnsigned(p, std::uint64_t(0) - std::uint64_t(n));
    }
    return putUnsigned(p, std::uint64_t(n));
}

// "00" .. "99".
constexpr char kTwoDigits[] = "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
                              "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
                              "8081828384858687888990919293949596979899";

// At most 26 characters.
char *putFixed3(char *p, float v)
{
    float r = std::floor(v * 1000.0f + 0.5f);
    if (r > -2.0e9f && r < 2.0e9f) {
        // Every coordinate: 32-bit arithmetic and two digits at a time.
        const int n = int(r);
        if (n < 0)
            *p++ = '-';
        const unsigned u = n < 0 ? 0u - unsigned(n) : unsigned(n);
        const unsigned whole = u / 1000, frac = u % 1000;
        if (whole < 10) {
            *p++ = char('0' + whole);
        } else if (whole < 100) {
            p[0] = kTwoDigits[2 * whole];
            p[1] = kTwoDigits[2 * whole + 1];
            p += 2;
        } else if (whole < 1000) {
            *p++ = char('0' + whole / 100);
            p[0] = kTwoDigits[2 * (whole % 100)];
            p[1] = kTwoDigits[2 * (whole % 100) + 1];
            p += 2;
        } else {
            p = putUnsigned(p, whole);
        }
        p[0] = '.';
        p[1] = char('0' + frac / 100);
        p[2] = kTwoDigits[2 * (frac % 100)];
        p[3] = kTwoDigits[2 * (frac % 100) + 1];
        return p + 4;
    }
    // Validated parameters never get here with such values; the clamp only
    // keeps the integer conversion defined.
    if (!(r == r))
        r = 0;
    if (r > 9.0e18f)
        r = 9.0e18f;
    if (r < -9.0e18f)
        r = -9.0e18f;
    int64_t n = int64_t(r);
    if (n < 0) {
        *p++ = '-';
        n = -n;
    }
    p = putUnsigned(p, std::uint64_t(n / 1000));
    const int frac = int(n % 1000);
    *p++ = '.';
    *p++ = char('0' + frac / 100);
    *p++ = char('0' + frac / 10 % 10);
    *p++ = char('0' + frac % 10);
    return p;
}

char *putText(char *p, const char *text)
{
    while (*text)
        *p++ = *text++;
    return p;
}

// One G-code line composed in place (a move is well under 160 characters),
// then appended to the layer's text with its "\r\n".
class Line {
public:
    explicit Line(const char *start) : m_end(putText(m_buf, start)) {}
    Line &text(const char *t)
    {
        m_end = putText(m_end, t);
        return *this;
    }
    Line &num(long long n)
    {
        m_end = putInt(m_end, n);
        return *this;
    }
    Line &fixed3(float v)
    {
        m_end = putFixed3(m_end, v);
        return *this;
    }
    void appendTo(QByteArray &out)
    {
        m_end = putText(m_end, "\r\n");
        out.append(m_buf, int(m_end - m_buf));
    }

private:
    char m_buf[192];
    char *m_end;
};

} // namespace

void appendFixed3(QByteArray &out, float v)
{
    char buf[32];
    out.append(buf, int(putFixed3(buf, v) - buf));
}

QByteArray formatFixed3(float v)
{
    QByteArray s;
    appendFixed3(s, v);
    return s;
}

namespace {

int roundHalfUp(float v)
{
    const float r = std::floor(v + 0.5f);
    if (!(r == r))
        return 0;
    if (r >= 2147483520.0f)
        return 2147483520;
    if (r <= -2147483520.0f)
        return -2147483520;
    return int(r);
}

int truncToInt(float v)
{
    if (!(v == v))
        return 0;
    if (v >= 2147483520.0f)
        return 2147483520;
    if (v <= -2147483520.0f)
        return -2147483520;
    return int(v);
}

PolyPoint unitOf(PolyPoint v)
{
    const float len = std::sqrt(v.x * v.x + v.y * v.y);
    return {v.x / len, v.y / len}; // NaN for a zero-length segment: no wipe then
}

// Vertices that map to non-finite or absurd machine coordinates (a km off
// the bed) would poison E for the rest of the layer: they are left out.
bool usable(PolyPoint m)
{
    return std::fabs(m.x) <= 1e6f && std::fabs(m.y) <= 1e6f;
}

PolyLine withoutUnusableVertices(const PolyLine &path, const GCodeTransform &xf)
{
    PolyLine clean = path;
    clean.pts.clear();
    clean.w.clear();
    const bool widths = path.w.size() == path.pts.size();
    for (int k = 0; k < path.pts.size(); ++k) {
        if (!usable(xf.toMachine(path.pts[k])))
            continue;
        clean.pts.append(path.pts[k]);
        if (widths)
            clean.w.append(path.w[k]);
    }
    return clean;
}

bool wipesAfter(int type)
{
    return type == Perimeter || type == Support || type == Skirt || type == Raft ||
           type == OuterHair;
}

bool farAfter(int type)
{
    return type == Support || type == OuterHair || type == Skirt || type == Raft;
}

// One pass over the layer with speed factor s. Writer state lives here.
class LayerPass {
public:
    LayerPass(const SlicerParams &sp, int layer, float layerZ, const GCodeTransform &xf, float u, float zr)
        : sp(sp), layer(layer), xf(xf), u(u)
    {
        firstLayer = zr == 0 && layer == 0;
        const float h = layer == 0 ? sp.FirstLayerHeight : sp.LayerHeight;
        z = layerZ + zr + sp.ZAdjust;
        Ft = roundHalfUp(sp.TravelSpeed * 60.0f);
        Fz = roundHalfUp(sp.VerticalSpeed * 60.0f);
        Fr = roundHalfUp(sp.RetractSpeed * 60.0f);
        Fw = roundHalfUp(sp.WipeSpeed * 60.0f);
        Fd = 60.0f * (firstLayer ? sp.FirstLayerDrawSpeed : sp.DrawSpeed);
        const float ratio = firstLayer ? sp.FirstLayerExtruderSpeedRatio : sp.ExtruderSpeedRatio;
        const float rad = sp.FilamentDiameter * 0.5f;
        e0 = (h * sp.ExtrusionWidth) / (rad * rad * 3.1415927f) * ratio * 0.01f;
        Lw = sp.WipeLength / u;
    }

    QByteArray run(const PathList &paths, float s);
    float layerTime() const { return T; }

private:
    static Line &xy(Line &l, PolyPoint p) { return l.text(" X").fixed3(p.x).text(" Y").fixed3(p.y); }
    void emove() { Line("G0 F").num(Fr).text(" E").fixed3(E).appendTo(out); }
    void zmove(float zz) { Line("G0 F").num(Fz).text(" Z").fixed3(zz).appendTo(out); }
    void farMove(PolyPoint p)
    {
        Line l("G0 F");
        xy(l.num(Ft), p).appendTo(out);
    }
    void writeWipe()
    {
        Line l("G0 F");
        xy(l.num(Fw), wipe).appendTo(out);
        hasWipe = false;
    }
    // Far-travel steps 1-3: retract, wipe, lift.
    void farTravelBegin()
    {
        if (sp.TravelRetract > 0) {
            E -= sp.TravelRetract;
            emove();
        }
        if (hasWipe)
            writeWipe();
        if (sp.TravelHeight > 0 || firstMove)
            zmove(z + sp.TravelHeight);
    }
    // Far-travel steps 5-6: lower, prime.
    void farTravelEnd()
    {
        if (sp.TravelHeight > 0)
            zmove(z);
        if (sp.TravelPrime > 0) {
            E += sp.TravelPrime;
            emove();
        }
    }
    void setType(int t, float s)
    {
        out += ";segType:";
        out += segTypeName(t, 0);
        out += "\r\n";
        curType = t;
        et = e0 * sp.eFactor(t);
        if (t == HShell && sp.HShellType == 0)
            et /= sp.HShellDensity;
        // At least 1 mm/min: a feed that truncates to "F0" stops the machine.
        Fcur = std::max(1.0f, sp.fFactor(t) * Fd * s);
        q = 60.0f / Fcur;
    }
    void travelTo(PolyPoint P);
    void explicitTravel(const PolyLine &path);
    void draw(const PolyLine &path, float s);

    const SlicerParams &sp;
    const int layer;
    const GCodeTransform &xf;
    const float u;
    bool firstLayer = false;
    float z = 0;
    int Ft = 0, Fz = 0, Fr = 0, Fw = 0;
    float Fd = 0, e0 = 0, Lw = 0;

    QByteArray out;
    float E = 0;
    PolyPoint pos{-9999, -9999};
    int curType = 0;
    float et = 0, Fcur = 0, q = 0;
    bool far = true;
    bool firstMove = true;
    bool hasWipe = false;
    PolyPoint wipe;
    float T = 0;
};

void LayerPass::travelTo(PolyPoint P)
{
    const float dx = P.x - pos.x, dy = P.y - pos.y;
    const float d = std::sqrt(dx * dx + dy * dy);
    if (!far || d <= sp.TravelMinDist) {
        if (d > 0.05f) {
            if (hasWipe)
                writeWipe();
            Line l("G0");
            xy(l, P).text(" F").num(Ft).appendTo(out);
        }
    } else {
        farTravelBegin();
        farMove(P);
        farTravelEnd();
    }
    pos = P;
    firstMove = false;
}

void LayerPass::explicitTravel(const PolyLine &path)
{
    far = far || path.farTravelAfter;
    const bool wasFar = far;
    if (far)
        farTravelBegin();
    if (hasWipe)
        writeWipe();
    for (int k = 1; k < path.pts.size(); ++k) {
        const PolyPoint P = xf.toMachine(path.pts[k]);
        if (k == 1) {
            farMove(P);
        } else {
            Line l("G0");
            xy(l, P).appendTo(out);
        }
        pos = P;
    }
    if (wasFar)
        farTravelEnd();
    far = false;
    firstMove = false;
}

void LayerPass::draw(const PolyLine &path, float s)
{
    // A Perimeter's wipe would smear across the part it is followed into.
    if (hasWipe && curType == Perimeter &&
        (path.type == OuterHair || path.type == HShell || path.type == Infill))
        hasWipe = false;
    if (path.type != curType)
        setType(path.type, s);
    travelTo(xf.toMachine(path.pts[0]));

    const bool widths = path.w.size() == path.pts.size();
    const int feed = truncToInt(Fcur);
    for (int k = 1; k < path.pts.size(); ++k) {
        const PolyPoint P = xf.toMachine(path.pts[k]);
        const float dx = P.x - pos.x, dy = P.y - pos.y;
        const float len = std::sqrt(dx * dx + dy * dy);
        // Widths are full bead widths in raster units (a one-width wall
        // gives w near 1/u), so w * u is the bead in extrusion widths. The
        // historical "/ 2" here printed every hair with half its material.
        if (widths)
            E += len * et * path.w[k] * u;
        else
            E += len * et;
        Line l("G1");
        if (k == 1)
            l.text(" F").num(feed);
        xy(l, P).text(" E").fixed3(E).appendTo(out);
        if (T < sp.MinLayerTime)
            T += len * q;
        pos = P;
    }

    hasWipe = false;
    const int n = path.pts.size();
    if (wipesAfter(path.type) && n >= 2 && Lw > 0) {
        PolyPoint dir = unitOf(path.pts[n - 1] - path.pts[n - 2]);
        if (path.type == Perimeter && path.closed) {
            auto perp = [](PolyPoint v) {
                PolyPoint p{v.y, -v.x};
                const float len = std::sqrt(p.x * p.x + p.y * p.y);
                return len > 0 ? PolyPoint{p.x / len, p.y / len} : p;
            };
            const PolyPoint a = perp(unitOf(path.pts[1] - path.pts[0]));
            const PolyPoint b = perp(dir);
            dir = {(a.x + b.x) * 0.5f, (a.y + b.y) * 0.5f};
        }
        const PolyPoint w = xf.toMachine(path.pts[n - 1] - dir * Lw);
        if (!std::isnan(w.x)) {
            wipe = w;
            hasWipe = true;
        }
    }
    far = path.farTravelAfter || farAfter(path.type) || hasWipe;
}

QByteArray LayerPass::run(const PathList &paths, float s)
{
    static const char dashes[] = "; ------------------------------------\r\n";
    out.clear();
    // A move line is some 35 characters: room for a line a vertex, made
    // once instead of grown step by step.
    qsizetype points = 0;
    for (const PolyLine &path : paths)
        points += path.pts.size();
    out.reserve(int(std::min<qsizetype>(points * 36 + 1024, 1 << 30)));
    out += dashes;
    out += "; Layer #" + QByteArray::number(layer) + "\r\n";
    out += dashes;
    out += "G21 ; mm\r\nG90 ; abs\r\nG92 E0 ; reset extr\r\n";
    if (sp.FanEnable) {
        const int f = fanValue(sp, layer);
        out += "M106 S" + QByteArray::number(f >= 1 ? f : 0) + "\r\n";
    }
    for (const PolyLine &given : paths) {
        bool clean = true;
        for (const PolyPoint &q : given.pts)
            clean = clean && usable(xf.toMachine(q));
        const PolyLine cleaned = clean ? PolyLine() : withoutUnusableVertices(given, xf);
        const PolyLine &path = clean ? given : cleaned;
        if (path.type == Travel) {
            if (path.pts.size() >= 2)
                explicitTravel(path);
        } else if (!path.pts.isEmpty()) {
            draw(path, s);
        }
    }
    if (hasWipe)
        writeWipe();
    return out;
}

} // namespace

int fanValue(const SlicerParams &sp, int i)
{
    if (i == 0)
        return sp.FanFirstLayer;
    if (i == 1)
        return sp.FanSecondLayer;
    if (i < sp.FanN) {
        // The difference in float: in int it overflows for far-apart values.
        const float f = float(sp.FanSecondLayer) +
                         (float(sp.FanNthLayer) - float(sp.FanSecondLayer)) * float(i - 1) / float(sp.FanN - 1);
        return roundHalfUp(f);
    }
    return sp.FanNthLayer;
}

float initialLayerSpeedFactor(const SlicerParams &sp, int i)
{
    if (sp.InitialLayerCnt < 1)
        return 1.0f;
    const float s = sp.InitialLayerSpeed +
                    (1.0f - sp.InitialLayerSpeed) * float(i) / float(sp.InitialLayerCnt);
    return s > 1.0f ? 1.0f : s;
}

QByteArray writeLayerGCode(const SlicerParams &sp, int layerIndex, float layerZ, const PathList &paths,
                           const LayerGrid &grid, const BuildVolume &volume, float zOffset)
{
    if (paths.isEmpty())
        return QByteArray();
    const GCodeTransform xf = GCodeTransform::of(grid, volume);
    const float rasterUnit = grid.pixelFactor;
    LayerPass pass(sp, layerIndex, layerZ, xf, rasterUnit, zOffset);
    const float s1 = initialLayerSpeedFactor(sp, layerIndex);
    QByteArray text = pass.run(paths, s1);
    const float T = pass.layerTime();
    if (T >= sp.MinLayerTime)
        return text;
    // Too fast: slow the whole layer down so it takes MinLayerTime. T was
    // measured at s1, so the slow-down scales s1; it never speeds a layer up
    // (a slow initial layer stays at least as slow as s1 made it).
    const float ratio = std::min(1.0f, T / std::max(sp.MinLayerTime, 0.1f));
    float s = ratio * s1;
    if (s < 0.025f)
        s = std::min(0.025f, s1);
    if (s >= s1)
        return text;
    LayerPass second(sp, layerIndex, layerZ, xf, rasterUnit, zOffset);
    return second.run(paths, s);
}

QByteArray normalizeLineEnds(const QByteArray &text)
{
    QByteArray t = text;
    if (t.contains('\n'))
        t.replace("\r", "");
    else
        t.replace('\r', '\n');
    t.replace("\n", "\r\n");
    return t;
}

QByteArray gcodeHeaderBlock(const SlicerParams &sp, const QByteArray &raftText)
{
    QByteArray h = normalizeLineEnds(sp.GCodeHeader);
    if (sp.BedTempEnabled) {
        if (sp.BedTemp > 60) {
            // Waiting for a hot bed takes long: wait for 60 only, heat on.
            h += "\r\nM190 S" + QByteArray::number(60) + " ;set and wait bed temperature";
            h += "\r\nM140 S" + QByteArray::number(sp.BedTemp) + " ;set bed temperature";
        } else {
            h += "\r\nM190 S" + QByteArray::number(sp.BedTemp) + " ;set and wait bed temperature";
        }
    }
    if (sp.HeadTempEnabled)
        h += "\r\nM109 S" + QByteArray::number(sp.HeadTemp) + " ;set and wait head temperature";
    if (!raftText.isEmpty()) {
        h += "\r\n";
        h += raftText;
    }
    return h;
}

QByteArray gcodeFooterBlock(const SlicerParams &sp)
{
    QByteArray f = normalizeLineEnds(sp.GCodeFooter);
    if (sp.HeadTempEnabled)
        f += "\r\nM104 S0 ;turn off head heater";
    if (sp.BedTempEnabled)
        f += "\r\nM140 S0 ;turn off bed heater";
    if (sp.FanEnable)
        f += "\r\nM106 S0";
    f += "\r\n;Tessavo_Settings=";
    f += qCompress(sp.toText(), 9).toBase64();
    return f;
}

QByteArray gcodeFilePrefix(const SlicerParams &sp, const QByteArray &raftText)
{
    return "; GCode generated by Tessavo\r\n" + gcodeHeaderBlock(sp, raftText) + "\r\n";
}

QByteArray gcodeFileSuffix(const SlicerParams &sp)
{
    return "\r\n" + gcodeFooterBlock(sp) + "\r\n";
}

QByteArray assembleGCode(const SlicerParams &sp, const QByteArray &raftText,
                         const QList<QByteArray> &layerTexts)
{
    QByteArray out = gcodeFilePrefix(sp, raftText);
    for (const QByteArray &t : layerTexts)
        out += t;
    out += gcodeFileSuffix(sp);
    return out;
}
