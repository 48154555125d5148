#include "common/crc32.h"
#include "common/utils.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <sys/resource.h>
#include <limits>

TEST(Crc32, KnownValues)
{
    EXPECT_EQ(crc32(QByteArray("abc")), 0x352441C2u);
    EXPECT_EQ(crc32(QByteArray("123456789")), 0xCBF43926u);
    EXPECT_EQ(crc32(QByteArray()), 0u);
    const QByteArray zeros(32, '\0');
    EXPECT_EQ(crc32(zeros), 0x190A55ADu);
}

TEST(Crc32, ChainsLikeOneBuffer)
{
    const QByteArray all = "The quick brown fox jumps over the lazy dog";
    for (int split : {0, 1, 10, all.size()}) {
        const quint32 head = crc32(all.constData(), size_t(split));
        EXPECT_EQ(crc32(all.constData() + split, size_t(all.size() - split), head), crc32(all))
            << "split at " << split;
    }
    EXPECT_EQ(crc32(all), 0x414FA339u);
}

// Bit-at-a-time definition the table-driven code must agree with.
static quint32 crc32Reference(const unsigned char *p, size_t n)
{
    quint32 c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    return ~c;
}

TEST(Crc32, MatchesReferenceForAllLengthsAndAlignments)
{
    unsigned char buf[80];
    for (int i = 0; i < 80; ++i)
        buf[i] = (unsigned char)(i * 167 + 13);
    for (size_t start = 0; start < 8; ++start)
        for (size_t n = 0; start + n <= sizeof buf; ++n)
            ASSERT_EQ(crc32(buf + start, n), crc32Reference(buf + start, n)) << start << " " << n;
}

TEST(FormatDuration, Table)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const struct { float s; const char *want; } cases[] = {
        {0, "0:00:00"},
        {59, "0:00:59"},
        {59.99f, "0:00:59"},          // truncated, not rounded
        {3600, "1:00:00"},
        {86399, "23:59:59"},
        {86400, "1 days, 0:00:00"},
        {90061, "1 days, 1:01:01"},
        {3 * 86400 + 45296, "3 days, 12:34:56"},
        {nan, "0:00:00"},
        {inf, "0:00:00"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(formatDuration(c.s), QString(c.want)) << c.s;
}

TEST(FileHelpers, WriteReadAndErrors)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("a.bin");
    QByteArray bytes("x\0y\r\n", 5);
    writeFile(path, bytes);
    EXPECT_EQ(readFile(path), bytes);
    writeFile(path, "z"); // truncates the longer content
    EXPECT_EQ(readFile(path), QByteArray("z"));

    const QString missing = dir.filePath("missing.txt");
    try {
        readFile(missing);
        FAIL() << "no exception";
    } catch (const QString &msg) {
        EXPECT_EQ(msg, QString("File not found \"%1\"").arg(missing));
    }
    // A folder exists but cannot be read or written as a file.
    EXPECT_THROW(readFile(dir.path()), QString);
    EXPECT_THROW(writeFile(dir.filePath("no/such/folder/f"), "x"), QString);
}

// Replacing a file goes through a temporary beside it; a file that a reader
// has open keeps its old bytes (same inode) while the new one takes the name.
TEST(FileHelpers, WriteReplacesWholeFileNotInPlace)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("m.stl");
    writeFile(path, "old contents");
    QFile reader(path);
    ASSERT_TRUE(reader.open(QIODevice::ReadOnly));
    writeFile(path, "new");
    EXPECT_EQ(reader.readAll(), QByteArray("old contents"));
    EXPECT_EQ(readFile(path), QByteArray("new"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 1); // no temporary left
}

// A write that fails on the way (here a file size limit, as a full disk
// does) throws and keeps the old file: the replace-on-commit write once
// committed an empty file and reported success.
TEST(FileHelpers, FailedWriteThrowsAndKeepsTheOldFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("m.png");
    writeFile(path, "old contents");
    const QByteArray big(100000, 'x');

    struct sigaction ignore = {}, before = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &before);
    rlimit limit = {}, saved = {};
    getrlimit(RLIMIT_FSIZE, &saved);
    limit = saved;
    limit.rlim_cur = 10;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    QString thrown;
    try {
        writeFile(path, big);
    } catch (const QString &msg) {
        thrown = msg;
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    sigaction(SIGXFSZ, &before, nullptr);

    EXPECT_TRUE(thrown.startsWith("Cannot write file")) << thrown.toStdString();
    EXPECT_EQ(readFile(path), QByteArray("old contents"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 1); // no temporary left
}

TEST(ResourcePath, FileBesideExecutableOverridesElseError)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString d = dir.path() + "/";
    writeFile(d + "hints.htm", "<html/>");
    EXPECT_EQ(resourcePath(d, "hints.htm"), d + "hints.htm");
    try {
        resourcePath(d, "nothing.here");
        FAIL() << "no exception";
    } catch (const QString &msg) {
        EXPECT_EQ(msg, QString("Resouce not found: nothing.here"));
    }
}

TEST(PerUserFolders, EndInSlash)
{
    EXPECT_TRUE(appDir().endsWith('/'));
    EXPECT_TRUE(dataDir().endsWith('/'));
    EXPECT_TRUE(tempDir().endsWith('/'));
}
