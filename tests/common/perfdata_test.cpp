#include "common/perfdata.h"

#include <QRegExp>
#include <QStringList>
#include <QtGlobal>

#include <gtest/gtest.h>

namespace {

QStringList g_log;
void captureLog(QtMsgType, const QMessageLogContext &, const QString &msg) { g_log << msg; }

struct PerfTest : ::testing::Test {
    QtMessageHandler old = nullptr;
    void SetUp() override
    {
        perfClear();
        g_log.clear();
        old = qInstallMessageHandler(captureLog);
    }
    void TearDown() override
    {
        qInstallMessageHandler(old);
        perfClear();
    }
    static void run(const char *name) { perfBegin(name); perfEnd(name); }
};

} // namespace

TEST_F(PerfTest, ReportFormatAndOrder)
{
    run("b.second");
    run("a.first");
    run("a.first");
    const QString report = perfReport();
    const QStringList lines = report.split("\r\n");
    ASSERT_EQ(lines.size(), 5) << qPrintable(report); // header, 2 records, TOTAL, "" after last \r\n
    EXPECT_EQ(lines[0], QString(" % | msecs  | cnt | name"));
    // "%3d%9.2f%6d %s": count right-aligned in columns 12..17, name after one space.
    EXPECT_EQ(lines[1].mid(12), QString("     2 a.first"));
    EXPECT_EQ(lines[2].mid(12), QString("     1 b.second"));
    EXPECT_EQ(lines[3], QString::asprintf("100%9.2f       TOTAL", lines[3].mid(3, 9).toDouble()));
    EXPECT_TRUE(QRegExp("[ 0-9]{3}[ 0-9]{5}[0-9]\\.[0-9]{2}     2 a\\.first").exactMatch(lines[1]))
        << qPrintable(lines[1]);
    EXPECT_TRUE(lines[4].isEmpty());
    EXPECT_TRUE(report.endsWith("\r\n"));
}

TEST_F(PerfTest, SingleRecordHasNoTotalLine)
{
    run("only");
    const QStringList lines = perfReport().split("\r\n");
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[1].endsWith("     1 only"));
}

TEST_F(PerfTest, PercentagesFollowTheTimes)
{
    perfBegin("long");
    volatile double x = 0;
    for (int i = 0; i < 3000000; ++i)
        x = x + i * 0.5;
    perfEnd("long");
    run("short");
    const QStringList lines = perfReport().split("\r\n");
    EXPECT_GE(lines[1].left(3).trimmed().toInt(), 90) << qPrintable(lines[1]); // "long"
    EXPECT_LE(lines[2].left(3).trimmed().toInt(), 10) << qPrintable(lines[2]); // "short"
}

TEST_F(PerfTest, MisuseIsLoggedNotCounted)
{
    perfBegin("s");
    perfBegin("s");
    perfEnd("s");
    perfEnd("t");
    EXPECT_EQ(perfLastStarted(), QString("s"));
    ASSERT_EQ(g_log.size(), 2);
    EXPECT_TRUE(g_log[0].contains("perfBegin() 's' is already running.")) << qPrintable(g_log[0]);
    EXPECT_TRUE(g_log[1].contains("perfEnd() 't' hasn't started.")) << qPrintable(g_log[1]);
    const QStringList lines = perfReport().split("\r\n");
    EXPECT_TRUE(lines[1].endsWith("     1 s")) << qPrintable(lines[1]);
    EXPECT_TRUE(lines[2].endsWith("     0 t")) << qPrintable(lines[2]);
}

TEST_F(PerfTest, ReportWhileRunningThrowsAndLogs)
{
    perfBegin("open");
    try {
        perfReport();
        FAIL() << "no exception";
    } catch (const QString &msg) {
        EXPECT_EQ(msg, QString("perfReport() hasn't stopped while generating report"));
    }
    ASSERT_EQ(g_log.size(), 1);
    EXPECT_TRUE(g_log[0].contains("perfReport() 'open' hasn't stopped when generating report."));
    perfEnd("open");
    EXPECT_NO_THROW(perfReport());
}

TEST_F(PerfTest, ScopeEndsOnException)
{
    try {
        PerfScope s("scoped");
        throw 1;
    } catch (int) {
    }
    EXPECT_NO_THROW(perfReport());
}

// Stages timed on worker threads inside a parallel region are kept per
// thread and merged after the join: the report names them with the summed
// count (they were dropped, leaving the enclosing stage without a breakdown).
TEST_F(PerfTest, StagesInsideParallelRegionsAreMergedAfterTheJoin)
{
    perfBegin("outer");
    const int n = 64;
#pragma omp parallel for num_threads(4) schedule(static)
    for (int i = 0; i < n; ++i) {
        perfBegin("inner.a");
        if (i % 2 == 0) {
            perfBegin("inner.b");
            perfEnd("inner.b");
        }
        perfEnd("inner.a");
    }
    perfEnd("outer");
    // A second region adds to the same records.
#pragma omp parallel for num_threads(3)
    for (int i = 0; i < 9; ++i)
        run("inner.a");
    const QStringList lines = perfReport().split("\r\n");
    auto countOf = [&](const QString &name) {
        for (const QString &l : lines)
            if (l.mid(19) == name)
                return l.mid(12, 6).trimmed().toInt();
        return -1;
    };
    EXPECT_EQ(countOf("outer"), 1);
    EXPECT_EQ(countOf("inner.a"), n + 9);
    EXPECT_EQ(countOf("inner.b"), n / 2);
    EXPECT_TRUE(g_log.isEmpty()) << qPrintable(g_log.join("\n"));
    // Cleared records stay cleared, thread records included.
    perfClear();
    EXPECT_EQ(perfReport().split("\r\n").size(), 2);
}
