#include "getcommand.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <algorithm>
#include <cstdio>
#include <unistd.h>

#include "console.h"
#include "exitcode.h"
#include "fetchplan.h"
#include "recorder/samenamerule.h"
#include "sessionrun.h"

namespace {
// Whether standard output is a terminal a progress bar can be redrawn on.
bool drawsInPlace()
{
    return isatty(fileno(stdout)) && Console::atLeast(Console::Verbosity::Normal);
}

QString joinedPath(const QStringList &path)
{
    return path.isEmpty() ? QStringLiteral(".") : path.join(QLatin1Char('/'));
}
} // namespace

GetCommand::GetCommand(RecorderSession &session, const Options &options)
    : session(session)
    , options(options)
    , progress(drawsInPlace(), Console::atLeast(Console::Verbosity::Normal) ? options.statsSeconds * 1000 : 0)
{
    total.start();
}

int GetCommand::run()
{
    takeLeadingFolder();
    if (const auto early = SessionRun::enterFolder(session, options.path))
        return *early;
    if (options.dryRun)
        return preview();
    return options.all ? runAll(options.dest) : runNamed(options.names, options.dest);
}

void GetCommand::takeLeadingFolder()
{
    if (options.names.size() < 2)
        return;
    for (const auto &e : session.entries()) {
        if (e.isFolder && e.name == options.names.first()) {
            const QString folder = options.names.takeFirst();
            for (QString &name : options.names)
                name = folder + QLatin1Char('/') + name;
            return;
        }
    }
}

// The folder is made only once there is something to put in it.
bool GetCommand::makeDest(const QString &dest)
{
    if (QDir().mkpath(dest))
        return true;
    Console::err(QStringLiteral("zv-transfer: cannot create %1").arg(dest));
    return false;
}

int GetCommand::runAll(const QString &dest)
{
    QList<RecorderSession::Entry> files;
    for (const auto &e : session.entries()) {
        if (!e.isFolder)
            files << e;
        else
            foldersLeftOut << Console::visibleName(e.name);
    }
    if (files.isEmpty()) {
        Console::err(QStringLiteral("zv-transfer: no recordings in this folder%1")
                         .arg(foldersLeftOut.isEmpty() ? QString()
                                                       : QStringLiteral(", only folders (get -r takes them): ")
                                      + foldersLeftOut.join(QStringLiteral(", "))));
        return ExitNothingMatched;
    }
    if (!makeDest(dest))
        return ExitUsage;
    fetch(files, dest);
    return summary();
}

// Tells what a run would download: every recording of the folder, or each
// named one in its folder ("PATH/NAME"; a name listed as it stands is that
// recording, slashes and all).
int GetCommand::preview()
{
    FetchPlan plan(options.rule);
    QList<RecorderSession::Entry> files;
    for (const auto &e : session.entries()) {
        if (e.isFolder && options.all)
            foldersLeftOut << Console::visibleName(e.name);
        else if (!e.isFolder && options.all)
            files << e;
    }
    int seen = files.size();
    plan.show(QDir(options.dest), QString(), files);
    int missing = 0;
    for (const QString &name : qAsConst(options.names)) {
        QString label;
        const auto file = findPlanned(name, &label);
        if (!file) {
            Console::err(QStringLiteral("zv-transfer: %1: no such recording").arg(Console::visibleName(name)));
            ++missing;
            continue;
        }
        ++seen;
        plan.show(QDir(options.dest), Console::visibleName(label), {*file});
    }
    if (!foldersLeftOut.isEmpty())
        Console::out(leftOutLine());
    plan.printSummary();
    Console::printErrors(session.errors());
    if (seen == 0)
        return ExitNothingMatched;
    if (session.interruption())
        return ExitBySignal + session.interruption();
    return missing > 0 ? ExitSomeFailed : ExitDone;
}

// The recording `name` names, looked for in its folder, which is entered and
// left again; `label` is set to its folder path as given ("PATH/").
std::optional<RecorderSession::Entry> GetCommand::findPlanned(const QString &name, QString *label)
{
    const auto here = [this](const QString &wanted) {
        const auto listed = session.entries();
        const auto found = std::find_if(listed.cbegin(), listed.cend(), [&](const RecorderSession::Entry &e) {
            return !e.isFolder && e.name == wanted;
        });
        return found == listed.cend() ? std::optional<RecorderSession::Entry>() : *found;
    };
    std::optional<RecorderSession::Entry> file = here(name);
    const int slash = name.lastIndexOf(QLatin1Char('/'));
    const QStringList steps = name.left(qMax(slash, 0)).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    const bool plainSteps = !steps.contains(QStringLiteral("..")) && !steps.contains(QStringLiteral("."));
    if (file || slash < 0 || !plainSteps)
        return file;
    QString notThere;
    int entered = 0;
    for (const QString &step : steps) {
        if (!session.enterPath(step, &notThere))
            break;
        ++entered;
    }
    if (entered == steps.size()) {
        file = here(name.mid(slash + 1));
        *label = name.left(slash + 1);
    }
    for (; entered > 0; --entered)
        session.enterPath(QStringLiteral(".."), &notThere);
    return file;
}

// First every folder named is looked at, so that the progress knows the
// whole run; then each one's recordings are fetched.
int GetCommand::runNamed(const QStringList &names, const QString &dest)
{
    QList<Group> groups = groupByFolder(names, session.entries());
    QStringList here;
    int found = 0;
    for (Group &group : groups) {
        if (!enterGroup(group.path, group.names, &here))
            continue;
        const auto entries = session.entries();
        for (const QString &name : qAsConst(group.names)) {
            const auto entry = std::find_if(entries.cbegin(), entries.cend(),
                                            [&name](const auto &e) { return !e.isFolder && e.name == name; });
            if (entry == entries.cend())
                notFound(joinedPath(group.path + QStringList{name}), QStringLiteral("no such recording"));
            else
                group.found << *entry;
        }
        found += group.found.size();
    }
    if (found == 0 || session.interruption())
        return session.interruption() ? summary() : ExitNothingMatched;
    if (!makeDest(dest))
        return ExitUsage;
    fetchGroups(groups, found, dest, &here);
    return summary();
}

void GetCommand::fetchGroups(const QList<Group> &groups, int found, const QString &dest, QStringList *here)
{
    RunTotals totals;
    totals.filesTotal = found;
    for (const Group &group : groups) {
        for (const auto &e : group.found)
            totals.bytesTotal += qulonglong(e.size);
    }
    for (const Group &group : groups) {
        if (group.found.isEmpty())
            continue;
        QStringList wanted;
        for (const auto &e : group.found)
            wanted << e.name;
        if (groups.size() > 1 && !enterGroup(group.path, wanted, here))
            continue;
        setRunTotals(totals);
        const int before = settledFiles;
        const qulonglong bytesBefore = settledBytes;
        if (!fetch(group.found, dest))
            break;
        totals.filesBefore += settledFiles - before;
        totals.bytesBefore += settledBytes - bytesBefore;
    }
}

// The names in order of their folders' first mention; "." and ".." are
// resolved, so "A/../B/X.WAV" is in B. A name listed in the current folder
// as it stands is that recording, slashes and all: the engine names it as
// refused rather than looking for it elsewhere.
QList<GetCommand::Group> GetCommand::groupByFolder(const QStringList &names,
                                                   const QList<RecorderSession::Entry> &entries)
{
    QList<Group> groups;
    for (const QString &name : names) {
        QStringList path;
        const bool listed = std::any_of(entries.cbegin(), entries.cend(),
                                        [&name](const auto &e) { return !e.isFolder && e.name == name; });
        const QStringList parts = listed ? QStringList{name} : name.split(QLatin1Char('/'), Qt::SkipEmptyParts);
        for (int i = 0; i + 1 < parts.size(); ++i) {
            if (parts.at(i) == QLatin1String(".."))
                path.isEmpty() || path.last() == QLatin1String("..") ? path.append(parts.at(i)) : path.removeLast();
            else if (parts.at(i) != QLatin1String("."))
                path << parts.at(i);
        }
        const QString base = parts.isEmpty() ? name : parts.last();
        auto group = std::find_if(groups.begin(), groups.end(), [&path](const Group &g) { return g.path == path; });
        if (group == groups.end())
            group = groups.insert(groups.end(), Group{path, {}, {}});
        group->names << base;
    }
    return groups;
}

// Moves from the folder `here` (relative to the starting one) into the
// group's, one folder at a time; when a step fails, the group's names are
// reported as not found.
bool GetCommand::enterGroup(const QStringList &path, const QStringList &names, QStringList *here)
{
    int common = 0;
    while (common < here->size() && common < path.size() && here->at(common) == path.at(common))
        ++common;
    QString why;
    QString missing;
    while (why.isEmpty() && here->size() > common) {
        // Up from above the starting folder, the way back down is unknown.
        if (here->last() == QLatin1String(".."))
            why = QStringLiteral("its folder cannot be reached from the one before");
        else if (session.enterPath(QStringLiteral(".."), &missing))
            here->removeLast();
        else
            why = QStringLiteral("cannot leave folder \"%1\"").arg(Console::visibleName(here->last()));
    }
    for (int i = common; why.isEmpty() && i < path.size(); ++i) {
        if (session.enterPath(path.at(i), &missing))
            *here << path.at(i);
        else
            why = QStringLiteral("no folder \"%1\" on the recorder").arg(Console::visibleName(path.at(i)));
    }
    if (why.isEmpty())
        return true;
    if (session.interruption())
        return false;
    Console::printErrors(session.errors());
    for (const QString &name : names)
        notFound(joinedPath(path + QStringList{name}), why);
    return false;
}

void GetCommand::setRunTotals(const RunTotals &totals)
{
    runTotals = totals;
}

bool GetCommand::fetch(const QList<RecorderSession::Entry> &entries, const QString &folder)
{
    dest = folder;
    fetchFirstFile = settledFiles;
    fetchFirstBytes = settledBytes;
    const int first = targets.size();
    for (const auto &e : entries) {
        if (!e.isFolder) {
            targets.append({e, Target::Pending, QString(), label});
            targetBytes += qulonglong(e.size);
        }
    }
    if (!QDir().mkpath(dest)) {
        batch.clear();
        for (int i = first; i < targets.size(); ++i)
            batch << i;
        failRest(QStringLiteral("cannot create %1").arg(dest));
        return true;
    }
    stopped = false;
    while (downloadPending()) { }
    return !stopped;
}

void GetCommand::notFound(const QString &name, const QString &why)
{
    RecorderSession::Entry entry;
    entry.name = name;
    targets.append({entry, Target::Failed, QString(), QString()});
    Console::err(QStringLiteral("zv-transfer: %1: %2").arg(Console::visibleName(name), why));
    ++tally.failed;
    ++settledFiles;
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
    foreseeRenames();
    const int settledBefore = settledFiles;
    const auto end = session.download(dest, indexes, options.rule, observer());
    const ErrorTally::Item ending = session.lastEndingError();
    bool stop = settleEnd(end, ending);
    // A download that settled nothing would only be asked for again.
    if (!stop && settledFiles == settledBefore) {
        failRest(Console::codeText(ending));
        stop = true;
    }
    progress.clear();
    Console::printErrors(session.errors());
    return !stop;
}

// The names the same-name rule will write under, asked of the rule itself:
// every target before one in the download is written by then (one that
// fails ends the download).
void GetCommand::foreseeRenames()
{
    const QDir folder(dest);
    const SameNameRule sameName(options.rule);
    QHash<QString, qint64> written;
    for (int position : qAsConst(batch)) {
        Target &target = targets[position];
        const QString path = SameNameRule::filePathIn(folder, target.entry.name);
        QString writtenAs = path;
        if (sameName.foresee(&writtenAs, target.entry.size, written) == SameNameRule::Action::Write)
            written.insert(writtenAs, target.entry.size);
        target.writtenAs = writtenAs == path ? QString() : QFileInfo(writtenAs).fileName();
    }
}

RecorderSession::DownloadObserver GetCommand::observer()
{
    RecorderSession::DownloadObserver observer;
    observer.skipped = [this](const QString &) { pendingSkip = true; };
    observer.refused = [this](int index, const ErrorTally::Item &error) { refused(index, error); };
    observer.started = [this](const QString &name, qulonglong) { fileStarted(name); };
    observer.progress = [this](qulonglong received) {
        currentBytes = received;
        showProgress(received);
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
    progress.restart();
}

void GetCommand::showProgress(qulonglong received)
{
    if (current < 0 || currentSkipped)
        return;
    ProgressLine::State state;
    state.name = targets.at(current).label + Console::visibleName(targets.at(current).entry.name);
    state.fileBytes = received;
    state.fileSize = qulonglong(targets.at(current).entry.size);
    if (runTotals.filesTotal > 0) {
        state.file = runTotals.filesBefore + settledFiles - fetchFirstFile + 1;
        state.files = runTotals.filesTotal;
        state.runBytes = runTotals.bytesBefore + settledBytes - fetchFirstBytes + received;
        state.runSize = runTotals.bytesTotal;
    } else {
        state.file = settledFiles + 1;
        state.files = targets.size();
        state.runBytes = settledBytes + received;
        state.runSize = targetBytes;
    }
    state.rate = received / qMax<double>(fileClock.elapsed() / 1000.0, 0.001);
    progress.show(state);
}

// The file before the next one started (or the download finished) went
// through: written, or kept by the rule.
void GetCommand::closeCurrent()
{
    if (current >= 0)
        settle(current, currentSkipped ? Target::Kept : Target::Written, QString(), currentBytes);
    current = -1;
}

// The file under way when the download ended is settled as written (or
// kept) if all of it had arrived: the engine completed it before the end.
void GetCommand::closeCurrentIfComplete()
{
    if (current >= 0 && currentBytes == qulonglong(targets.at(current).entry.size))
        closeCurrent();
}

// The engine refused a target's name before asking for it: that file fails,
// the download goes on. The one before it had completed.
void GetCommand::refused(int index, const ErrorTally::Item &error)
{
    closeCurrentIfComplete();
    for (int position : qAsConst(batch)) {
        if (targets.at(position).state == Target::Pending && targets.at(position).entry.index == index) {
            settle(position, Target::Failed, Console::codeText(error));
            return;
        }
    }
}

bool GetCommand::settleEnd(RecorderSession::DownloadEnd end, const ErrorTally::Item &ending)
{
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
        closeCurrentIfComplete();
        if (current >= 0)
            settle(current, Target::Failed, QStringLiteral("the recorder stopped sending"));
        failRest(QStringLiteral("not started: the recorder stopped answering"));
        stopped = true;
        return true;
    case RecorderSession::DownloadEnd::TooSlow:
        if (current >= 0) {
            settle(current, Target::Failed,
                   QStringLiteral("too slow: %1 bytes/s, below --min-rate").arg(session.lastRate()));
        }
        failRest(QStringLiteral("not started: the recorder is too slow"));
        stopped = true;
        return true;
    case RecorderSession::DownloadEnd::Interrupted:
        if (current >= 0) {
            settle(current, Target::Failed,
                   QStringLiteral("interrupted after %1 of %2 bytes")
                       .arg(currentBytes)
                       .arg(targets.at(current).entry.size));
        }
        failRest(QStringLiteral("not started: interrupted"));
        stopped = true;
        return true;
    }
    return true;
}

// An error ended the download: the file under way fails, the others are
// asked for again unless nothing could start or the recorder stopped.
bool GetCommand::settleFailure(const ErrorTally::Item &ending)
{
    bool stop = false;
    if (ending.code == DownloadStoppedByRecorder) {
        // Asking again would go against the recorder's own stop.
        closeCurrentIfComplete();
        if (current >= 0)
            settle(current, Target::Failed,
                   QStringLiteral("stopped by the recorder, %1").arg(Console::codeText(ending)));
        failRest(QStringLiteral("not started: the recorder stopped the download"));
        stop = true;
        stopped = true;
    } else if (ending.code == DownloadNoSpace) {
        // Nothing of this download was started; asking again would only be
        // refused again.
        failRest(Console::codeText(ending));
        stop = true;
        stopped = true;
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
                                              : Result::Failed,
                  target.writtenAs.isEmpty() ? target.entry.name : target.writtenAs);
    }
    ++settledFiles;
    settledBytes += qulonglong(target.entry.size);
    switch (state) {
    case Target::Written:
        ++tally.downloaded;
        tally.bytes += received;
        break;
    case Target::Kept:
        ++tally.skipped;
        break;
    default:
        ++tally.failed;
        break;
    }
    printSettled(target, why, received);
}

// "NAME  SIZE  done", "done as NAME(1).EXT", "skipped (exists)" or
// "FAILED (why)"; -v adds where it went and how fast, -q only tells failures
// (on standard error).
void GetCommand::printSettled(const Target &target, const QString &why, qulonglong received)
{
    progress.clear();
    const QString name = target.label + Console::visibleName(target.entry.name);
    if (!Console::atLeast(Console::Verbosity::Normal)) {
        if (target.state == Target::Failed)
            Console::err(QStringLiteral("zv-transfer: %1: FAILED (%2)").arg(name, why));
        return;
    }
    const QString path = QDir(dest).filePath(target.writtenAs.isEmpty() ? target.entry.name : target.writtenAs);
    QString status;
    QString detail;
    switch (target.state) {
    case Target::Written: {
        status = target.writtenAs.isEmpty() ? QStringLiteral("done")
                                            : QStringLiteral("done as ") + Console::visibleName(target.writtenAs);
        const double seconds = qMax<double>(fileClock.elapsed() / 1000.0, 0.001);
        detail = QStringLiteral("-> %1, %2 s, %3/s")
                     .arg(Console::visibleName(path))
                     .arg(seconds, 0, 'f', 1)
                     .arg(Console::humanBytes(received / seconds));
        break;
    }
    case Target::Kept:
        status = QStringLiteral("skipped (exists)");
        detail = QStringLiteral("kept %1").arg(Console::visibleName(path));
        break;
    default:
        status = QStringLiteral("FAILED (%1)").arg(why);
        break;
    }
    if (!Console::atLeast(Console::Verbosity::Detail) || detail.isEmpty())
        Console::out(QStringLiteral("%1  %2  %3\n").arg(name, Console::humanBytes(double(target.entry.size)), status));
    else
        Console::out(QStringLiteral("%1  %2  %3  %4\n")
                         .arg(name, Console::humanBytes(double(target.entry.size)), status, detail));
}

// Every target of this download not settled yet fails with `why`.
void GetCommand::failRest(const QString &why)
{
    for (int position : qAsConst(batch))
        settle(position, Target::Failed, why);
}

int GetCommand::summary()
{
    progress.clear();
    if (Console::atLeast(Console::Verbosity::Normal)) {
        const double seconds = total.elapsed() / 1000.0;
        Console::out(QStringLiteral("downloaded %1, skipped %2, failed %3, %4 bytes in %5 s\n")
                         .arg(tally.downloaded)
                         .arg(tally.skipped)
                         .arg(tally.failed)
                         .arg(tally.bytes)
                         .arg(seconds, 0, 'f', 1));
        for (const Target &target : qAsConst(targets)) {
            if (target.state == Target::Written && !target.writtenAs.isEmpty())
                Console::out(QStringLiteral("renamed: %1 written as %2\n")
                                 .arg(target.label + Console::visibleName(target.entry.name),
                                      Console::visibleName(target.writtenAs)));
        }
        // Folders are never left out without a word.
        if (!foldersLeftOut.isEmpty())
            Console::out(leftOutLine());
    }
    if (session.interruption())
        return ExitBySignal + session.interruption();
    return tally.failed ? ExitSomeFailed : ExitDone;
}

QString GetCommand::leftOutLine() const
{
    return QStringLiteral("left out %1 %2 (get -r takes them): %3\n")
        .arg(foldersLeftOut.size())
        .arg(foldersLeftOut.size() == 1 ? QStringLiteral("folder") : QStringLiteral("folders"),
             foldersLeftOut.join(QStringLiteral(", ")));
}
