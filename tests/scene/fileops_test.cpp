#include "fixtures/meshes.h"
#include "scene/fileops.h"
#include "scene/project.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct FakeUi : FileOpsUi {
    QString openName, saveName;
    Answer answer = Cancel;
    QStringList calls;
    QString openFileName(const QString &title, const QString &filter) override
    {
        calls << title + "|" + filter;
        return openName;
    }
    QString saveFileName(const QString &title, const QString &filter, const QString &) override
    {
        calls << title + "|" + filter;
        return saveName;
    }
    Answer askModified(const QString &text, const QString &info) override
    {
        calls << text + "|" + info;
        return answer;
    }
};

// The owner's side, as the main window serves the requests.
struct Doc {
    Project prj;
    FakeUi ui;
    FileOps ops{".tvprj", "Tessavo project",
                [this](int code, QByteArray &buf) {
                    switch (code) {
                    case FileOps::LoadFull: prj.loadFile(buf); break;
                    case FileOps::SaveFull: buf = prj.saveToStr(false); break;
                    case FileOps::LoadSnapshot: prj.loadFromStr(buf, true); break;
                    case FileOps::SaveSnapshot: buf = prj.saveToStr(true); break;
                    }
                },
                &ui};
    void edit(const char *what)
    {
        prj.addObject(boxMesh({0, 0, 0}, {5, 5, 5}), what, false);
        ops.record(what);
    }
};

} // namespace

TEST(FileOps, UndoRedoAndChangeCount)
{
    Doc d;
    d.edit("a");
    d.edit("b");
    d.ops.undo();
    d.ops.undo();
    EXPECT_EQ(d.prj.objs.size(), 0u);
    d.ops.redo();
    EXPECT_EQ(d.prj.objs.size(), 1u);
    EXPECT_EQ(d.ops.undoList().size(), 1);
    EXPECT_EQ(d.ops.redoList().size(), 1);
    EXPECT_EQ(d.ops.changeCount(), 1);
    const QString before = d.ops.stateText();
    Doc empty;
    empty.ops.undo();
    EXPECT_EQ(empty.ops.stateText(), "undoCnt:0 redoCnt:0 isChanged:0 isNew:1 undoSize:0 savedCnt:0 fileName:");
    EXPECT_EQ(before, QString("undoCnt:1 redoCnt:1 isChanged:1 isNew:0 undoSize:%1 savedCnt:1 fileName:")
                          .arg(d.ops.undoList()[0].snapshot.size()));
}

TEST(FileOps, SavedStateAndNegativeCount)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("p.tvprj");
    Doc d;
    d.edit("a");
    EXPECT_EQ(d.ops.undoList()[0].description, "a");
    ASSERT_TRUE(d.ops.saveAs(path));
    EXPECT_FALSE(d.ops.isChanged());
    d.ops.undo();
    d.ops.redo();
    EXPECT_EQ(d.ops.changeCount(), 0);
    d.ops.undo();
    d.edit("b");
    EXPECT_EQ(d.ops.changeCount(), -1);
    EXPECT_TRUE(d.ops.isChanged());
    d.edit("c");
    EXPECT_EQ(d.ops.changeCount(), -1);
}

TEST(FileOps, OpenSaveAndAsk)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("p.tvprj");
    Doc d;
    d.edit("a");
    // Cancel at the prompt stops "new"; Discard goes on.
    EXPECT_FALSE(d.ops.newDocument(true));
    EXPECT_EQ(d.ui.calls.last(), "The Tessavo project has been modified.|Do you want to save your changes?");
    d.ui.answer = FileOpsUi::Save;
    d.ui.saveName = path;
    EXPECT_TRUE(d.ops.newDocument(true));
    EXPECT_EQ(d.ui.calls.last(), "Save Tessavo project|Tessavo project (*.tvprj)");
    EXPECT_TRUE(d.prj.objs.empty());
    EXPECT_TRUE(d.ops.isNewAndUnchanged());

    d.ui.openName = path;
    ASSERT_TRUE(d.ops.open(QString(), true));
    EXPECT_EQ(d.ui.calls.last(), "Open Tessavo project|Tessavo project (*.tvprj)");
    EXPECT_EQ(d.prj.objs.size(), 1u);
    EXPECT_EQ(d.ops.fileName(), path);
    // Unchanged after open: save writes nothing.
    QFile::remove(path);
    EXPECT_TRUE(d.ops.save());
    EXPECT_FALSE(QFile::exists(path));
    d.edit("b");
    EXPECT_TRUE(d.ops.save());
    EXPECT_TRUE(QFile::exists(path));
}

TEST(FileOps, FailedOpenKeepsDocumentAndScene)
{
    QTemporaryDir dir;
    const QString bad = dir.filePath("bad.tvprj");
    QFile f(bad);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray::fromHex("98EDDAEE01000000") + QByteArray(100, 'x'));
    f.close();
    Doc d;
    d.edit("a");
    const QString missing = dir.filePath("missing.tvprj");
    for (const QString &name : {missing, bad}) {
        try {
            d.ops.open(name, false);
            ADD_FAILURE() << "no error for " << qPrintable(name);
        } catch (const QString &e) {
            if (name == missing) {
                EXPECT_EQ(e, QString("File not found \"%1\"").arg(missing));
            }
        }
        EXPECT_EQ(d.prj.objs.size(), 1u);
        EXPECT_EQ(d.ops.changeCount(), 1);
        EXPECT_TRUE(d.ops.fileName().isEmpty());
        EXPECT_EQ(d.ops.undoList().size(), 1);
    }
}

TEST(FileOps, FailedSaveLeavesOldFileWhole)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("p.tvprj");
    Doc d;
    d.edit("a");
    d.ops.saveAs(path);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray saved = f.readAll();
    f.close();
    // The owner fails while producing the bytes: nothing is written.
    FileOps failing(".tvprj", "Tessavo project", [](int, QByteArray &) { throw QString("boom"); }, nullptr);
    EXPECT_THROW(failing.saveAs(path), QString);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), saved);
    EXPECT_THROW(d.ops.saveAs(dir.filePath("no/such/dir/p.tvprj")), QString);
}

TEST(FileOps, UndoOfAnUnloadableSnapshotKeepsHistory)
{
    Doc d;
    d.edit("a");
    d.edit("b");
    d.prj.cache.clear(); // the snapshots' meshes are gone
    const QString before = d.ops.stateText();
    EXPECT_THROW(d.ops.undo(), QString);
    EXPECT_EQ(d.ops.stateText(), before);
    EXPECT_EQ(d.prj.objs.size(), 2u);
}

TEST(FileOps, TakeSnapshotMakesUndoRestoreTheSelectionOfThatMomentWithoutAnEntry)
{
    Doc d;
    d.edit("a");
    d.prj.objs[0]->selected = true; // a selection change: no edit of its own
    d.ops.takeSnapshot();
    const QByteArray selected = d.prj.saveToStr(false);
    EXPECT_EQ(d.ops.undoList().size(), 1);
    EXPECT_EQ(d.ops.changeCount(), 1);
    d.prj.objs[0]->moveBy(Vec3(5, 0, 0));
    d.ops.record("move");
    d.ops.undo();
    EXPECT_EQ(d.prj.saveToStr(false), selected);
    d.ops.undo();
    EXPECT_EQ(d.prj.objs.size(), 0u);
    EXPECT_EQ(d.ops.changeCount(), 0);
}
