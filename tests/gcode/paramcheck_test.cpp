// The set check the writer relies on refuses out-of-range values by name.
#include "gcode/paramcheck.h"
#include "params/slicerparams.h"

#include <gtest/gtest.h>

namespace {

QString refusal(const SlicerParams &sp)
{
    try {
        validateParams(sp);
    } catch (const QString &msg) {
        return msg;
    }
    return QString();
}

} // namespace

// Values that slipped through before: each wrote absurd G-code (a negative
// filament total, "G1 F0", E9e15) or a negative loop count.
TEST(ParamCheck, AbsurdValuesRefusedByName)
{
    const struct {
        const char *set;
        const char *key;
    } cases[] = {
        {"TravelRetract=1e30", "TravelRetract"},
        {"FFactor_Infill=1e-30", "FFactor_Infill"},
        {"HShellDensity=1e-30", "HShellDensity"},
        {"HShellCnt=-5", "HShellCnt"},
        {"BrimCount=-7", "BrimCount"},
        {"VShellOffset=-1e30", "VShellOffset"},
        {"FilamentDiameter=0", "FilamentDiameter"},
        {"DrawSpeed=1e9", "DrawSpeed"},
        {"FanNthLayer=256", "FanNthLayer"},
        {"LayerStartPos=7", "LayerStartPos"},
        {"InfillType=-1", "InfillType"},
        {"ExtrusionWidth=1e-6", "ExtrusionWidth"},
    };
    for (const auto &c : cases) {
        SlicerParams sp;
        sp.applyOverride(c.set);
        const QString msg = refusal(sp);
        EXPECT_TRUE(msg.startsWith(QString("Invalid parameter %1: must be from ").arg(c.key)))
            << c.set << ": " << msg.toStdString();
    }
    SlicerParams zeroInfill;
    zeroInfill.applyOverride("InfillDensity=0");
    EXPECT_EQ(refusal(zeroInfill), QString());
}
