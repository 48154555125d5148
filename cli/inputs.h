#pragma once
// Shared by the tessavo-cli commands that read a scene: input files into a
// Project, and option handling.
#include <QString>
#include <QStringList>

class Project;
struct SlicerParams;

// One .tvprj, or any number of .stl/.obj files added like the Add command
// (bottom centre at the origin, unit guess) and then laid side by side
// along X, 5 mm apart, the row centred on the origin. Throws a message for
// a missing or unreadable file, an unknown extension, or a project mixed
// with other inputs.
void loadInputs(Project &project, const QStringList &inputs);

// Removes every "NAME VALUE" pair of an option from args and returns the
// values in order. Throws when the option is last without a value.
QStringList takeOption(QStringList &args, const QString &name);
// The same for an option given at most once; `fallback` when absent.
QString takeSingleOption(QStringList &args, const QString &name, const QString &fallback = QString());

// Applies "--set Key=Value" overrides in order (SlicerParams::applyOverride).
void applySets(SlicerParams &params, const QStringList &keyValues);

// Throws "unknown option" for anything left in args that starts with "--".
void rejectUnknownOptions(const QStringList &args);
