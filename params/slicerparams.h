#pragma once
// The complete parameter set of one slicing run: a plain value, copied into
// every job. Units: mm, mm/s, degrees, °C, fan values 0-255; "fraction"
// fields are 0..1 (the dialog shows them as percent). Enumerations hold the
// index of the dialog's list and are not range-checked here.
#include <QByteArray>
#include <QString>
#include <QStringList>

struct SlicerParams {
    // Members in key order (also the order of the text form's reading).
    float ExtrusionWidth = 0.4f;        // mm
    float LayerHeight = 0.2f;           // mm
    float FirstLayerHeight = 0.2f;      // mm
    float ZAdjust = 0;                  // mm
    bool UseVectorOffseter = false;
    int HShellCnt = 3;                  // layers
    int VShellCnt = 2;                  // loops
    float VShellOffset = 0;             // mm
    float PathSmoothing = 0.08f;
    bool RepairCorners = false;
    int PolyFillerAlg = 0;              // 0 NonZero, 1 Positive, 2 Odd
    float PerimeterGap = 0.1f;          // extrusion widths
    int HShellType = 0;                 // 0 Paralell lines, 1 Concentric
    float HShellDensity = 1.0f;         // fraction
    float HShellMinLineLen = 0.7f;      // extrusion widths
    float HShellAngle = 45;             // degrees
    float HShellAngleInc = 90;          // degrees
    float InfillDensity = 0.1f;         // fraction
    int InfillType = 3;                 // 0 Disabled, 1 Paralell lines, 2 Square grid, 3 Triangle grid
    int InfillThickness = 1;            // lines
    float InfillAngle = 0;              // degrees
    float InfillAngleInc = 0;           // degrees
    int LoopFillOverlap = 0;            // thirds of an extrusion width
    bool SkirtEnable = true;
    float SkirtOffset = 5;              // mm
    int SkirtMinCount = 0;              // loops
    float SkirtMinLength = 200;         // mm
    bool BrimEnable = false;
    int BrimCount = 4;                  // loops
    bool RaftEnable = false;
    float RaftOffset = 10;              // mm
    QByteArray RaftConfig = defaultRaftConfig(); // raft layer table, UTF-8
    float DrawSpeed = 50;               // mm/s
    float FirstLayerDrawSpeed = 20;     // mm/s
    float VerticalSpeed = 10;           // mm/s
    float RetractSpeed = 40;            // mm/s
    float FilamentDiameter = 1.75f;     // mm
    float ExtruderSpeedRatio = 100;     // percent
    float FirstLayerExtruderSpeedRatio = 100; // percent
    float TravelSpeed = 90;             // mm/s
    float TravelMinDist = 1;            // mm
    float TravelHeight = 0;             // mm
    float TravelRetract = 4.5f;         // mm
    float TravelPrime = 4.5f;           // mm
    float WipeLength = 2;               // mm
    float WipeSpeed = 30;               // mm/s
    int InitialLayerCnt = 5;            // layers
    float InitialLayerSpeed = 0.5f;     // fraction
    float MinLayerTime = 5;             // s
    int LayerStartPos = 0;              // 0 Last head position, 1 Random position, 2 North,
                                        // 3 South, 4 East, 5 West, 6 Spinning
    bool OuterHair = true;
    bool InnerHair = true;
    bool HeadTempEnabled = true;
    int HeadTemp = 220;                 // °C
    bool BedTempEnabled = true;
    int BedTemp = 60;                   // °C
    bool FanEnable = true;
    int FanFirstLayer = 0;              // fan value
    int FanSecondLayer = 33;            // fan value
    int FanNthLayer = 100;              // fan value
    int FanN = 3;                       // layer number
    QByteArray GCodeHeader = "G28 X0 Y0\nG28 Z0\n";
    QByteArray GCodeFooter = "G0X0Y0\n";

    // Per path type feed-rate (F) and extrusion (E) factors, fractions.
    float FFactor_Perimeter = 1, EFactor_Perimeter = 1;
    float FFactor_Loop = 1, EFactor_Loop = 1;
    float FFactor_HShell = 1, EFactor_HShell = 1;
    float FFactor_Infill = 1, EFactor_Infill = 1;
    float FFactor_Support = 1.5f, EFactor_Support = 1;
    float FFactor_SoftSupport = 1.5f, EFactor_SoftSupport = 0.5f;
    float FFactor_Skirt = 1, EFactor_Skirt = 2;
    float FFactor_Raft = 1, EFactor_Raft = 2;
    float FFactor_OuterHair = 1, EFactor_OuterHair = 1;
    float FFactor_InnerHair = 1, EFactor_InnerHair = 1;

    // Sliced height range in mm, handed to the cross-section step. Not part of
    // the text form: they always keep these values.
    float MinSliceHeight = 0;
    float MaxSliceHeight = 1000;

    static QByteArray defaultRaftConfig();

    void resetToDefaults() { *this = SlicerParams(); }

    // Factors by segment type number (1 Perimeter .. 10 InnerHair); other
    // types (Unknown, Travel, out of range) get 1.
    float fFactor(int segType) const;
    float eFactor(int segType) const;

    // Indented JSON object with every key (sorted); floats widened to double.
    QByteArray toText() const;
    // Resets to defaults, then applies each known member of a JSON object.
    // Never throws: unparsable text, missing or mistyped members keep defaults;
    // numbers that do not fit an int field (or are not finite) count as mistyped.
    void fromText(const QByteArray &text);

    // For a parameter file a user names on purpose (tessavo-cli --params):
    // what fromText would pass over silently. Empty when the text is a JSON
    // object whose known members all fit their key's type; otherwise e.g.
    // "not valid JSON (unterminated object at offset 12)", "not a JSON
    // object", "LayerHeight: expected a number, got a string". Members that
    // are not keys are no problem; they are listed in unknownKeys.
    static QString textProblem(const QByteArray &text, QStringList *unknownKeys = nullptr);

    // Applies one "Key=Value" override (tessavo-cli --set). Floats and ints
    // take numbers (ints rounded halves up), bools true/false/1/0, text takes
    // the value with "\n" turned into line breaks. Throws QString on an unknown
    // key, a missing "=", or a value that does not fit the key's type.
    void applyOverride(const QString &keyValue);

    // Calls f(key, member) for every key in table order; f is called with a
    // float&, int&, bool& or QByteArray& (const when *this is const).
    template <class P, class F> static void forEachField(P &p, F &&f);
    template <class F> void forEachField(F &&f) { forEachField(*this, f); }
    template <class F> void forEachField(F &&f) const { forEachField(*this, f); }

    bool operator==(const SlicerParams &o) const;
    bool operator!=(const SlicerParams &o) const { return !(*this == o); }
};

// Ints are not distinguished from enums: both are `int` members.
template <class P, class F> void SlicerParams::forEachField(P &p, F &&f)
{
    f("ExtrusionWidth", p.ExtrusionWidth);
    f("LayerHeight", p.LayerHeight);
    f("FirstLayerHeight", p.FirstLayerHeight);
    f("ZAdjust", p.ZAdjust);
    f("UseVectorOffseter", p.UseVectorOffseter);
    f("HShellCnt", p.HShellCnt);
    f("VShellCnt", p.VShellCnt);
    f("VShellOffset", p.VShellOffset);
    f("PathSmoothing", p.PathSmoothing);
    f("RepairCorners", p.RepairCorners);
    f("PolyFillerAlg", p.PolyFillerAlg);
    f("PerimeterGap", p.PerimeterGap);
    f("HShellType", p.HShellType);
    f("HShellDensity", p.HShellDensity);
    f("HShellMinLineLen", p.HShellMinLineLen);
    f("HShellAngle", p.HShellAngle);
    f("HShellAngleInc", p.HShellAngleInc);
    f("InfillDensity", p.InfillDensity);
    f("InfillType", p.InfillType);
    f("InfillThickness", p.InfillThickness);
    f("InfillAngle", p.InfillAngle);
    f("InfillAngleInc", p.InfillAngleInc);
    f("LoopFillOverlap", p.LoopFillOverlap);
    f("SkirtEnable", p.SkirtEnable);
    f("SkirtOffset", p.SkirtOffset);
    f("SkirtMinCount", p.SkirtMinCount);
    f("SkirtMinLength", p.SkirtMinLength);
    f("BrimEnable", p.BrimEnable);
    f("BrimCount", p.BrimCount);
    f("RaftEnable", p.RaftEnable);
    f("RaftOffset", p.RaftOffset);
    f("RaftConfig", p.RaftConfig);
    f("DrawSpeed", p.DrawSpeed);
    f("FirstLayerDrawSpeed", p.FirstLayerDrawSpeed);
    f("VerticalSpeed", p.VerticalSpeed);
    f("RetractSpeed", p.RetractSpeed);
    f("FilamentDiameter", p.FilamentDiameter);
    f("ExtruderSpeedRatio", p.ExtruderSpeedRatio);
    f("FirstLayerExtruderSpeedRatio", p.FirstLayerExtruderSpeedRatio);
    f("TravelSpeed", p.TravelSpeed);
    f("TravelMinDist", p.TravelMinDist);
    f("TravelHeight", p.TravelHeight);
    f("TravelRetract", p.TravelRetract);
    f("TravelPrime", p.TravelPrime);
    f("WipeLength", p.WipeLength);
    f("WipeSpeed", p.WipeSpeed);
    f("InitialLayerCnt", p.InitialLayerCnt);
    f("InitialLayerSpeed", p.InitialLayerSpeed);
    f("MinLayerTime", p.MinLayerTime);
    f("LayerStartPos", p.LayerStartPos);
    f("OuterHair", p.OuterHair);
    f("InnerHair", p.InnerHair);
    f("HeadTempEnabled", p.HeadTempEnabled);
    f("HeadTemp", p.HeadTemp);
    f("BedTempEnabled", p.BedTempEnabled);
    f("BedTemp", p.BedTemp);
    f("FanEnable", p.FanEnable);
    f("FanFirstLayer", p.FanFirstLayer);
    f("FanSecondLayer", p.FanSecondLayer);
    f("FanNthLayer", p.FanNthLayer);
    f("FanN", p.FanN);
    f("GCodeHeader", p.GCodeHeader);
    f("GCodeFooter", p.GCodeFooter);
    f("FFactor_Perimeter", p.FFactor_Perimeter);
    f("FFactor_Loop", p.FFactor_Loop);
    f("FFactor_HShell", p.FFactor_HShell);
    f("FFactor_Infill", p.FFactor_Infill);
    f("FFactor_Support", p.FFactor_Support);
    f("FFactor_SoftSupport", p.FFactor_SoftSupport);
    f("FFactor_Skirt", p.FFactor_Skirt);
    f("FFactor_Raft", p.FFactor_Raft);
    f("FFactor_OuterHair", p.FFactor_OuterHair);
    f("FFactor_InnerHair", p.FFactor_InnerHair);
    f("EFactor_Perimeter", p.EFactor_Perimeter);
    f("EFactor_Loop", p.EFactor_Loop);
    f("EFactor_HShell", p.EFactor_HShell);
    f("EFactor_Infill", p.EFactor_Infill);
    f("EFactor_Support", p.EFactor_Support);
    f("EFactor_SoftSupport", p.EFactor_SoftSupport);
    f("EFactor_Skirt", p.EFactor_Skirt);
    f("EFactor_Raft", p.EFactor_Raft);
    f("EFactor_OuterHair", p.EFactor_OuterHair);
    f("EFactor_InnerHair", p.EFactor_InnerHair);
}
