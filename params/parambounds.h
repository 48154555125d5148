#pragma once
// The range a real printer can use, per numeric parameter key. The slicer
// refuses a set with a value outside it (validateParams), and the settings
// dialogs use the same table to limit and check their fields, so a value
// the dialog accepts is always one the slicer accepts.
//
// Booleans and texts have no bounds; enumerations are bounded by their list.
// Fraction keys (densities, InitialLayerSpeed, the factors) are in their
// stored unit, not the dialog's percent.
#include <QString>
#include <QStringList>

struct ParamBounds {
    double min = 0;
    double max = 0;
    bool isInteger = false; // int or enum field
    const char *unit = "";  // "mm", "mm/s", "s", "degrees", ... for messages and tool tips
};

// Bounds of a numeric key; false for booleans, texts and unknown keys.
bool paramBounds(const QString &key, ParamBounds &out);

// Every key that has bounds, in key order.
QStringList boundedParamKeys();

// Why `value` is not acceptable for `key`, or an empty text when it is (and
// for keys without bounds). Non-finite values are never acceptable; an int
// key also refuses a value that is not a whole number. The text names
// neither the key nor the set, e.g. "must be from 0.01 to 5 mm (is 9)".
QString paramValueProblem(const QString &key, double value);
