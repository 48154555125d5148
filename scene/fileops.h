#pragma once
// Document controller of the project: file name, new/changed state,
// open/save of project files, the "has been modified" prompt and the undo
// history of whole cache-mode snapshots. It never reads project data itself:
// the owner converts between scene and bytes when asked through `request`.
#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>

// What FileOps needs from the user; the GUI shows dialogs, tests fake it.
class FileOpsUi {
public:
    enum Answer { Save, Discard, Cancel };
    virtual ~FileOpsUi() = default;
    // Empty result: cancelled.
    virtual QString openFileName(const QString &title, const QString &filter) = 0;
    virtual QString saveFileName(const QString &title, const QString &filter, const QString &current) = 0;
    // Buttons Save, Discard, Cancel; Save is the default.
    virtual Answer askModified(const QString &text, const QString &informativeText) = 0;
};

class FileOps {
public:
    // Request codes to the owner, which answers through the buffer.
    enum Request {
        LoadFull = 0,       // load buffer as a full project stream (empty: clear the scene)
        SaveFull = 1,       // write the scene as a full stream into buffer
        LoadSnapshot = 2,   // load buffer as a cache-mode snapshot
        SaveSnapshot = 3,   // write a cache-mode snapshot into buffer
    };
    using RequestFn = std::function<void(int code, QByteArray &buffer)>;

    struct Entry {
        QByteArray snapshot;
        QString description; // the action that followed this state
    };

    FileOps(const QString &extension, const QString &description, RequestFn request, FileOpsUi *ui);

    void record(const QString &description);
    // The present state becomes the current snapshot without an undo entry.
    // Selection changes are no edits of their own; taken before an edit, it
    // makes undoing that edit bring the selection back as it was then.
    void takeSnapshot();
    void undo();
    void redo();
    // Each returns whether it went through (false: cancelled by the user).
    bool newDocument(bool ask);
    bool open(const QString &fileName, bool ask);
    bool save();
    bool saveAs(const QString &fileName);
    bool askToSave();
    QString stateText() const;

    QString fileName() const { return m_fileName; }
    // The content stays, but counts as never saved (a built-in or a recovered
    // project that must not be written back where it came from).
    void forgetFileName() { m_fileName.clear(); }
    bool isNew() const { return m_isNew; }
    bool isChanged() const { return m_changeCount != 0; }
    bool isNewAndUnchanged() const { return m_isNew && m_changeCount == 0; }
    bool busy() const { return m_busy; }
    int changeCount() const { return m_changeCount; }
    const QList<Entry> &undoList() const { return m_undo; }
    const QList<Entry> &redoList() const { return m_redo; }
    QString extension() const { return m_extension; }
    QString description() const { return m_description; }

private:
    QByteArray requestBytes(int code);
    void requestLoad(int code, const QByteArray &bytes);
    QString filter() const;

    QString m_extension, m_description;
    RequestFn m_request;
    FileOpsUi *m_ui; // not owned
    QString m_fileName;
    bool m_isNew = true;
    bool m_busy = false;
    QByteArray m_current;
    QList<Entry> m_undo, m_redo;
    int m_changeCount = 0;
};
