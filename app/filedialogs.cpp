#include "filedialogs.h"

#include "common/ini.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

QString openFileDialog(const QString &title, const QString &filter, const QString &category,
                       const QString &defaultFolder)
{
    DialogFolders &folders = DialogFolders::instance();
    QString start = folders.folder(category);
    if (!defaultFolder.isEmpty() && QDir(start) == QDir::home())
        start = defaultFolder; // nothing remembered yet
    QString path = QFileDialog::getOpenFileName(nullptr, title, start, filter);
    if (!path.isEmpty())
        folders.remember(category, path);
    return path;
}

QString saveFileDialog(const QString &title, const QString &filter, const QString &category,
                       const QString &defaultName)
{
    DialogFolders &folders = DialogFolders::instance();
    QString path = QFileDialog::getSaveFileName(nullptr, title, folders.saveStartPath(category, defaultName), filter);
    if (!path.isEmpty())
        folders.remember(category, path);
    return path;
}

QString GuiFileOpsUi::openFileName(const QString &title, const QString &filter)
{
    return openFileDialog(title, filter, "project");
}

QString GuiFileOpsUi::saveFileName(const QString &title, const QString &filter, const QString &current)
{
    return saveFileDialog(title, filter, "project", current.isEmpty() ? QString() : QFileInfo(current).fileName());
}

FileOpsUi::Answer GuiFileOpsUi::askModified(const QString &text, const QString &informativeText)
{
    QMessageBox box(m_parent);
    box.setText(text);
    box.setInformativeText(informativeText);
    box.setStandardButtons(QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Save);
    switch (box.exec()) {
    case QMessageBox::Save: return Save;
    case QMessageBox::Discard: return Discard;
    default: return Cancel;
    }
}
