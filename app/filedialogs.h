#pragma once
// Open and save dialogs that start in the folder remembered for their
// category ("model", "gcode", "project", ...) and remember the chosen one;
// and the dialogs FileOps asks for.
#include "scene/fileops.h"

#include <QString>

class QWidget;

// Empty when cancelled. `defaultFolder` is used when the category has none yet.
QString openFileDialog(const QString &title, const QString &filter, const QString &category,
                       const QString &defaultFolder = QString());
// A default name "./x" loses the "./"; a bare name starts in the category's folder.
QString saveFileDialog(const QString &title, const QString &filter, const QString &category,
                       const QString &defaultName = QString());

class GuiFileOpsUi : public FileOpsUi {
public:
    explicit GuiFileOpsUi(QWidget *parent) : m_parent(parent) {}
    QString openFileName(const QString &title, const QString &filter) override;
    QString saveFileName(const QString &title, const QString &filter, const QString &current) override;
    Answer askModified(const QString &text, const QString &informativeText) override;

private:
    QWidget *m_parent;
};
