#pragma once
// Shared by the tessavo-cli commands that read a scene: input files into a
// Project, and option handling.
#include <QString>
#include <QStringList>

#include <functional>

class Project;
struct BuildVolume;
struct SlicerParams;

// The largest mesh, project or G-code file the commands read (a QByteArray
// holds at most 2 GB).
constexpr qint64 kMaxInputFileSize = 2000000000;

// All bytes of `path`, or of standard input when path is "-", read until the
// end (pipes and FIFOs included). Throws "<path>: not a regular file" for
// folders and devices, "<path>: larger than ..." past maxSize, and the
// read error.
QByteArray readInput(const QString &path, qint64 maxSize = kMaxInputFileSize);
// The same, handing the bytes over in pieces as they arrive.
void readInputChunks(const QString &path, qint64 maxSize,
                     const std::function<void(const QByteArray &)> &take);

// The one reader of .tvprj inputs (slice, layers and info): size and type
// checks of readInput, then the project stream.
void loadProjectFile(Project &project, const QString &path);

// One .tvprj, or any number of .stl/.obj files added like the Add command
// (bottom centre at the origin, unit guess) and then laid side by side
// along X, 5 mm apart, the row centred on the origin. Throws a message for
// a missing or unreadable file, an unknown extension, or a project mixed
// with other inputs, and for a mesh file that holds no triangles.
void loadInputs(Project &project, const QStringList &inputs);

// Removes every "NAME VALUE" pair of an option from args and returns the
// values in order. Throws when the option is last without a value.
QStringList takeOption(QStringList &args, const QString &name);
// The same for an option given at most once; `fallback` when absent.
QString takeSingleOption(QStringList &args, const QString &name, const QString &fallback = QString());

// Reads a --params file (.json or .tvsp: both are one parameter text) onto
// the defaults. Unlike stored settings, a file named on the command line must
// be what it claims: anything fromText would skip silently throws
// "<file>: <what is wrong>"; unknown keys are a warning on stderr.
void loadParamsFile(SlicerParams &params, const QString &path);

// One "warning: ..." line on stderr for each setting that is on but has no
// effect because another takes precedence.
void warnOverriddenSettings(const SlicerParams &params);

// Throws "the scene does not fit the build volume (...)" naming how far the
// objects and support bars reach beyond each side of the bed, below it or
// above its height.
void checkFitsBuildVolume(const Project &project, const BuildVolume &volume);

// Applies "--set Key=Value" overrides in order (SlicerParams::applyOverride).
void applySets(SlicerParams &params, const QStringList &keyValues);

// Throws "unknown option" for anything left in args that starts with "--".
void rejectUnknownOptions(const QStringList &args);
