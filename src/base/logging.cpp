#include "base/logging.h"

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <cstdio>
#include <cstdlib>

#include "base/mutexlocker.h"

Q_LOGGING_CATEGORY(lcNet, "zv.net")
Q_LOGGING_CATEGORY(lcCommand, "zv.command")
Q_LOGGING_CATEGORY(lcController, "zv.controller")
Q_LOGGING_CATEGORY(lcDownload, "zv.download")

namespace {
// The line last printed and how often it came again since. Created once and
// never destroyed: messages may come from any thread until the very end.
struct MessageRun
{
    QMutex mutex;
    QByteArray lastLine;
    qint64 repeats = 0;
};

MessageRun *messageRun = nullptr;

void printLine(const QByteArray &line)
{
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

// Called with the run's mutex held.
void endRun(MessageRun *run)
{
    if (run->repeats > 0)
        printLine(QStringLiteral("\u2026 repeated %1 times").arg(run->repeats).toUtf8());
    run->repeats = 0;
}

void handleMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QByteArray line = qFormatLogMessage(type, context, message).toLocal8Bit();
    {
        MutexLocker locker(messageRun->mutex);
        if (line == messageRun->lastLine && type != QtFatalMsg) {
            ++messageRun->repeats;
            return;
        }
        endRun(messageRun);
        messageRun->lastLine = line;
        printLine(line);
    }
    if (type == QtFatalMsg)
        std::abort();
}
} // namespace

void setupMessageLog()
{
    if (!messageRun) {
        messageRun = new MessageRun;
        std::atexit(flushMessageLog);
    }
    if (qEnvironmentVariableIsEmpty("QT_MESSAGE_PATTERN"))
        qSetMessagePattern(QStringLiteral("%{message}"));
    // Rules from QT_LOGGING_RULES come later and win over these.
    QLoggingCategory::setFilterRules(QStringLiteral("zv.*.debug=false"));
    qInstallMessageHandler(handleMessage);
}

void flushMessageLog()
{
    if (!messageRun)
        return;
    MutexLocker locker(messageRun->mutex);
    endRun(messageRun);
    messageRun->lastLine.clear();
}
