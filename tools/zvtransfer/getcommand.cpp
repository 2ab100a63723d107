#include "getcommand.h"

#include <QDir>
#include <algorithm>
#include <cstdio>
#include <unistd.h>

#include "console.h"
#include "exitcode.h"

namespace {
// The progress line is drawn at most this often.
constexpr qint64 DrawIntervalMs = 100;
constexpr int BarWidth = 30;
} // namespace

GetCommand::GetCommand(RecorderSession &session, const QString &dest, SameNameOption rule)
    : session(session)
    , dest(dest)
    , rule(rule)
    , terminal(isatty(fileno(stdout)))
{
}

int GetCommand::run(const QStringList &names, bool all)
{
    if (!chooseTargets(names, all))
        return ExitUsage;
    if (!QDir().mkpath(dest)) {
        Console::err(QStringLiteral("zv-transfer: cannot create %1").arg(dest));
        return ExitUsage;
    }
    total.start();
    while (downloadPending()) { }
    return summary();
}

bool GetCommand::fetch(const QList<RecorderSession::Entry> &files, const QString &folderLabel, const Settled &settled)
{
    label = folderLabel;
    onSettled = settled;
    for (const auto &e : files)
        targets.append({e});
    total.start();
    while (downloadPending()) { }
    return !broken;
}

bool GetCommand::chooseTargets(const QStringList &names, bool all)
{
    const auto entries = session.entries();
    if (all) {
        for (const auto &e : entries) {
            if (!e.isFolder)
                targets.append({e});
            else
                foldersLeftOut << Console::visibleName(e.name);
        }
        return true;
    }
    for (const QString &name : names) {
        const auto found = std::find_if(entries.cbegin(), entries.cend(), [&name](const RecorderSession::Entry &e) {
            return !e.isFolder && e.name == name;
        });
        if (found == entries.cend()) {
            Console::err(QStringLiteral("zv-transfer: no file named \"%1\" here").arg(name));
            return false;
        }
        targets.append({*found});
    }
    return true;
}

bool GetCommand::downloadPending()
{
    batch.clear();
    QList<int> indexes;
    for (int i = 0; i < targets.size(); ++i) {
        if (targets.at(i).state == Target::Pending) {
            batch << i;
            indexes << targets.at(i).entry.index;
        }
    }
    if (batch.isEmpty())
        return false;

    current = -1;
    currentBytes = 0;
    currentSkipped = false;
    pendingSkip = false;
    const int settledBefore = downloaded + skipped + failed;
    const auto end = session.download(dest, indexes, rule, observer());
    const ErrorTally::Item ending = session.lastEndingError();
    bool stop = settleEnd(end, ending);
    // A download that settled nothing would only be asked for again.
    if (!stop && downloaded + skipped + failed == settledBefore) {
        failRest(Console::codeText(ending));
        stop = true;
    }
    Console::printErrors(session.errors());
    return !stop;
}

RecorderSession::DownloadObserver GetCommand::observer()
{
    RecorderSession::DownloadObserver observer;
    observer.skipped = [this](const QString &) { pendingSkip = true; };
    observer.started = [this](const QString &name, qulonglong) { fileStarted(name); };
    observer.progress = [this](qulonglong received) {
        currentBytes = received;
        drawProgress(received);
    };
    return observer;
}

void GetCommand::fileStarted(const QString &name)
{
    closeCurrent();
    for (int position : qAsConst(batch)) {
        if (targets.at(position).state == Target::Pending && targets.at(position).entry.name == name) {
            current = position;
            break;
        }
    }
    currentBytes = 0;
    currentSkipped = pendingSkip;
    pendingSkip = false;
    fileClock.start();
    lastDraw = -DrawIntervalMs; // the first count draws at once
}

void GetCommand::drawProgress(qulonglong received)
{
    if (current < 0 || currentSkipped || !terminal || fileClock.elapsed() - lastDraw < DrawIntervalMs)
        return;
    const qulonglong size = qulonglong(targets.at(current).entry.size);
    lastDraw = fileClock.elapsed();
    const double seconds = qMax<double>(fileClock.elapsed() / 1000.0, 0.001);
    const double rate = received / seconds;
    const int percent = size ? int(qMin(received, size) * 100 / size) : 100;
    const int filled = percent * BarWidth / 100;
    const qint64 eta = rate > 0 && size > received ? qint64((size - received) / rate) : 0;
    Console::out(QStringLiteral("\r\033[K[%1%2] %3%  %4/s  ETA %5  %6")
                     .arg(QString(filled, QLatin1Char('#')), QString(BarWidth - filled, QLatin1Char('.')))
                     .arg(percent, 3)
                     .arg(Console::humanBytes(rate), Console::clockText(eta),
                          Console::visibleName(targets.at(current).entry.name)));
}

// The file before the next one started (or the download finished) went
// through: written, or kept by the rule.
void GetCommand::closeCurrent()
{
    if (current >= 0)
        settle(current, currentSkipped ? Target::Kept : Target::Written, QString(), currentBytes);
    current = -1;
}

bool GetCommand::settleEnd(RecorderSession::DownloadEnd end, const ErrorTally::Item &ending)
{
    broken = end != RecorderSession::DownloadEnd::Finished && end != RecorderSession::DownloadEnd::Failed;
    switch (end) {
    case RecorderSession::DownloadEnd::Finished:
        closeCurrent();
        // A target the engine never started was no longer listed after the
        // recorder's listing changed.
        failRest(QStringLiteral("no longer listed on the recorder"));
        return true;
    case RecorderSession::DownloadEnd::Failed:
        return settleFailure(ending);
    case RecorderSession::DownloadEnd::Lost:
        if (current >= 0)
            settle(current, Target::Failed, QStringLiteral("the recorder stopped sending"));
        failRest(QStringLiteral("not started: the recorder stopped answering"));
        return true;
    case RecorderSession::DownloadEnd::TooSlow:
        if (current >= 0) {
            settle(current, Target::Failed,
                   QStringLiteral("too slow: %1 bytes/s, below --min-rate").arg(session.lastRate()));
        }
        failRest(QStringLiteral("not started: the recorder is too slow"));
        return true;
    case RecorderSession::DownloadEnd::Interrupted:
        if (current >= 0) {
            settle(current, Target::Failed,
                   QStringLiteral("interrupted after %1 of %2 bytes")
                       .arg(currentBytes)
                       .arg(targets.at(current).entry.size));
        }
        failRest(QStringLiteral("not started: interrupted"));
        return true;
    }
    return true;
}

// An error ended the download: the file it names (or the one under way)
// fails, the others are asked for again unless nothing could start.
bool GetCommand::settleFailure(const ErrorTally::Item &ending)
{
    bool stop = false;
    if (ending.code == DownloadIllegalFileName) {
        // Refused before it started: the code names the entry.
        if (current >= 0 && currentBytes == qulonglong(targets.at(current).entry.size))
            closeCurrent();
        for (int position : qAsConst(batch)) {
            if (targets.at(position).state == Target::Pending && targets.at(position).entry.index == ending.param1) {
                settle(position, Target::Failed, Console::codeText(ending));
                break;
            }
        }
    } else if (ending.code == DownloadNoSpace) {
        // Nothing of this download was started; asking again would only be
        // refused again.
        failRest(Console::codeText(ending));
        stop = true;
        broken = true;
    } else {
        settle(current >= 0 ? current : batch.first(), Target::Failed, Console::codeText(ending));
    }
    current = -1;
    return stop;
}

// Settles a target once, with its line.
void GetCommand::settle(int position, Target::State state, const QString &why, qulonglong received)
{
    Target &target = targets[position];
    if (target.state != Target::Pending)
        return;
    target.state = state;
    if (onSettled) {
        onSettled(target.entry,
                  state == Target::Written    ? Result::Written
                      : state == Target::Kept ? Result::Kept
                                              : Result::Failed);
    }
    QString status;
    switch (state) {
    case Target::Written:
        ++downloaded;
        bytes += received;
        status = QStringLiteral("done");
        break;
    case Target::Kept:
        ++skipped;
        status = QStringLiteral("skipped (exists)");
        break;
    default:
        ++failed;
        status = QStringLiteral("FAILED (%1)").arg(why);
        break;
    }
    if (terminal)
        Console::out(QStringLiteral("\r\033[K"));
    Console::out(QStringLiteral("%1  %2  %3\n")
                     .arg(label + Console::visibleName(target.entry.name),
                          Console::humanBytes(double(target.entry.size)), status));
}

// Every target of this download not settled yet fails with `why`.
void GetCommand::failRest(const QString &why)
{
    for (int position : qAsConst(batch))
        settle(position, Target::Failed, why);
}

int GetCommand::summary()
{
    const double seconds = total.elapsed() / 1000.0;
    Console::out(QStringLiteral("downloaded %1, skipped %2, failed %3, %4 bytes in %5 s\n")
                     .arg(downloaded)
                     .arg(skipped)
                     .arg(failed)
                     .arg(bytes)
                     .arg(seconds, 0, 'f', 1));
    // Folders are never left out without a word.
    if (!foldersLeftOut.isEmpty()) {
        Console::out(QStringLiteral("left out %1 %2 (get -r takes them): %3\n")
                         .arg(foldersLeftOut.size())
                         .arg(foldersLeftOut.size() == 1 ? QStringLiteral("folder") : QStringLiteral("folders"),
                              foldersLeftOut.join(QStringLiteral(", "))));
    }
    if (session.interruption())
        return ExitBySignal + session.interruption();
    return failed ? ExitSomeFailed : ExitDone;
}
