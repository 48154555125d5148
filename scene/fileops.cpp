#include "scene/fileops.h"
#include "common/utils.h"

#include <QFileInfo>

FileOps::FileOps(const QString &extension, const QString &description, RequestFn request, FileOpsUi *ui)
    : m_extension(extension), m_description(description), m_request(std::move(request)), m_ui(ui)
{
}

QByteArray FileOps::requestBytes(int code)
{
    QByteArray buf;
    m_request(code, buf);
    return buf;
}

void FileOps::requestLoad(int code, const QByteArray &bytes)
{
    QByteArray buf = bytes;
    m_busy = true;
    try {
        m_request(code, buf);
    } catch (...) {
        m_busy = false;
        throw;
    }
    m_busy = false;
}

QString FileOps::filter() const { return m_description + " (*" + m_extension + ")"; }

void FileOps::record(const QString &description)
{
    m_redo.clear();
    m_undo.append(Entry{m_current, description});
    m_current = requestBytes(SaveSnapshot);
    if (m_changeCount >= 0)
        ++m_changeCount;
}

void FileOps::takeSnapshot()
{
    m_current = requestBytes(SaveSnapshot);
}

void FileOps::undo()
{
    if (m_undo.isEmpty())
        return;
    // Loaded first, so a snapshot the owner cannot load leaves the history as it was.
    requestLoad(LoadSnapshot, m_undo.last().snapshot);
    m_redo.append(Entry{m_current, QString()});
    m_current = m_undo.takeLast().snapshot;
    --m_changeCount;
}

void FileOps::redo()
{
    if (m_redo.isEmpty())
        return;
    requestLoad(LoadSnapshot, m_redo.last().snapshot);
    m_undo.append(Entry{m_current, QString()});
    m_current = m_redo.takeLast().snapshot;
    ++m_changeCount;
}

bool FileOps::newDocument(bool ask)
{
    if (ask && !askToSave())
        return false;
    m_fileName.clear();
    m_isNew = true;
    m_current.clear();
    requestLoad(LoadFull, QByteArray());
    m_undo.clear();
    m_redo.clear();
    m_changeCount = 0;
    return true;
}

bool FileOps::open(const QString &fileName, bool ask)
{
    if (ask && !askToSave())
        return false;
    QString name = fileName;
    if (name.isEmpty()) {
        name = m_ui ? m_ui->openFileName("Open " + m_description, filter()) : QString();
        if (name.isEmpty())
            return false;
    }
    // The document state changes only once the file was read and loaded, so
    // a missing or corrupt file leaves the previous project in place.
    const QFileInfo info(name);
    if (info.exists() && (!info.isFile() || info.size() > qint64(2000000000)))
        throw QString("Not a project file \"%1\"").arg(name);
    const QByteArray bytes = readFile(name);
    // An empty buffer means "clear the scene" to the owner; an empty file is
    // no project at all.
    if (bytes.isEmpty())
        throw QString("Invalid file signature.");
    requestLoad(LoadFull, bytes);
    m_fileName = name;
    m_isNew = false;
    m_current = requestBytes(SaveSnapshot);
    m_undo.clear();
    m_redo.clear();
    m_changeCount = 0;
    return true;
}

bool FileOps::save()
{
    if (m_fileName.isEmpty())
        return saveAs(QString());
    if (m_changeCount == 0 && !m_isNew)
        return true;
    return saveAs(m_fileName);
}

bool FileOps::saveAs(const QString &fileName)
{
    QString name = fileName;
    if (name.isEmpty()) {
        name = m_ui ? m_ui->saveFileName("Save " + m_description, filter(), m_fileName) : QString();
        if (name.isEmpty())
            return false;
    }
    const QByteArray bytes = requestBytes(SaveFull);
    writeFile(name, bytes); // replaced only once the whole project is on disk
    m_fileName = name;
    m_isNew = false;
    m_changeCount = 0;
    return true;
}

bool FileOps::askToSave()
{
    if (m_changeCount == 0)
        return true;
    const FileOpsUi::Answer a = m_ui ? m_ui->askModified("The " + m_description + " has been modified.",
                                                         "Do you want to save your changes?")
                                     : FileOpsUi::Cancel;
    if (a == FileOpsUi::Save)
        return saveAs(m_fileName);
    return a == FileOpsUi::Discard;
}

QString FileOps::stateText() const
{
    qint64 undoSize = 0;
    for (const Entry &e : m_undo)
        undoSize += e.snapshot.size();
    return QString::asprintf("undoCnt:%d redoCnt:%d isChanged:%d isNew:%d undoSize:%d savedCnt:%d fileName:%s",
                             int(m_undo.size()), int(m_redo.size()), int(isChanged()), int(isNewAndUnchanged()),
                             int(undoSize), m_changeCount, m_fileName.toUtf8().constData());
}
