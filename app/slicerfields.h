#pragma once
// The expert settings dialog's field table: for every parameter key the
// widget kind, label, range, decimals, step and unit suffix, and how a value
// travels between a SlicerParams member and its widget. Fraction fields are
// shown as percentages (×100).
#include "params/slicerparams.h"

#include <QString>
#include <QStringList>
#include <QVector>

class QWidget;

enum class FieldKind {
    Float,   // QDoubleSpinBox, value as stored
    Percent, // QDoubleSpinBox, fraction shown ×100 with " %"
    Int,     // QSpinBox
    Bool,    // QCheckBox, or the check of a checkable QGroupBox
    Enum,    // QComboBox, stored value = item index
    Text,    // QPlainTextEdit, UTF-8
};

struct FieldDef {
    const char *key;
    FieldKind kind;
    const char *label;   // dialog label (the hint's title)
    double min, max;     // the dialog's range (percent fields: in percent)
    int decimals;
    double step;
    const char *suffix;  // unit shown after the number
    const char *items;   // Enum: item texts separated by '|'
};

// Every key of SlicerParams, in key order.
const QVector<FieldDef> &slicerFields();
const FieldDef *findField(const QString &key);

// The range a field's widget offers: the dialog's range within the bounds
// the slicer accepts (paramBounds), so every value it takes is sliceable.
void fieldRange(const FieldDef &f, double &min, double &max);

// Creates the widget a field is edited with (not for Bool fields shown as a
// group's check), named by type prefix + key ("seLayerHeight", "chRepairCorners",
// "cbInfillType", "mRaftConfig").
QWidget *createFieldWidget(const FieldDef &f, QWidget *parent);

// Value of field `f` of `p` written into / read from `w`. Reading a text
// field whose text the user did not change gives back the exact bytes that
// were written, so scripts survive the widget's line-ending handling.
// writeField returns false when the value lay outside the widget's range or
// list and was clamped into it.
bool writeField(const FieldDef &f, const SlicerParams &p, QWidget *w);
void readField(const FieldDef &f, QWidget *w, SlicerParams &p);

// The value of key `f` in `p` as the dialog shows it ("0.200 mm", "10.00 %",
// "Triangle grid", "true"): used to compare with the defaults.
QString fieldDisplay(const FieldDef &f, const SlicerParams &p);
