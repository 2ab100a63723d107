#include "treecommand.h"

#include <QDateTime>
#include <QFileInfo>

#include "console.h"
#include "exitcode.h"
#include "recorder/samenamerule.h"

namespace {
QString plural(int count, const char *one, const char *many)
{
    return QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? one : many));
}
} // namespace

namespace {
// What the GetCommand that fetches each folder needs to know.
GetCommand::Options fetchOptions(const TreeCommand::Options &options)
{
    GetCommand::Options fetch;
    fetch.rule = options.rule;
    fetch.statsSeconds = options.statsSeconds;
    return fetch;
}
} // namespace

TreeCommand::TreeCommand(RecorderSession &session, const Options &options)
    : session(session)
    , options(options)
    , sync(options.sync)
    , get(session, fetchOptions(options))
    , plan(options.rule)
{
}

QList<TreeCommand::Tree> TreeCommand::trees() const
{
    const Tree music{QStringLiteral("music"), QStringLiteral("MUSIC"), RecordModeMusic, true};
    const Tree mtr{QStringLiteral("mtr"), QStringLiteral("MTR"), RecordModeMTR, true};
    // The multitrack tree first: a recorder found on its music tree (or on
    // trees that list alike) then ends on it without a switch back.
    if (options.both)
        return {mtr, music};
    // One tree named on the command line: the session is in it already and
    // get -r writes straight into the destination; sync keeps the tree's
    // subfolder, so that its record reads the same whichever trees a run takes.
    Tree one = options.named == RecordModeMTR ? mtr : music;
    one.switchTo = false;
    if (!sync) {
        one.subfolder.clear();
        if (!options.named)
            one.name.clear();
    }
    return {one};
}

int TreeCommand::run()
{
    if (sync && !openManifest())
        return ExitSomeFailed;
    for (const Tree &tree : trees()) {
        if (!runTree(tree))
            break;
    }
    return summary();
}

bool TreeCommand::runTree(const Tree &tree)
{
    if (tree.switchTo && !session.changeRecordMode(tree.mode)) {
        stopReason = QStringLiteral("the recorder did not switch to its %1 tree").arg(tree.name);
        return false;
    }
    QString missing;
    if (!options.path.isEmpty() && !session.enterPath(options.path, &missing)) {
        stopReason = QStringLiteral("no folder \"%1\" on the recorder").arg(Console::visibleName(missing));
        stopCode = ExitUsage;
        return false;
    }
    Tree placed = tree;
    if (const QString top = topFolder(); !top.isEmpty()) {
        if (!SameNameRule::isSafeFileName(top, QDir(options.dest))) {
            stopReason = QStringLiteral("the folder name \"%1\" cannot be used safely here (%2); \"%3/\" takes "
                                        "what it holds")
                             .arg(Console::visibleName(top), Console::codeText({DownloadIllegalFileName, 0, 0, 1}),
                                  Console::visibleName(options.path));
            return false;
        }
        placed.subfolder = tree.subfolder.isEmpty() ? top : tree.subfolder + QLatin1Char('/') + top;
    }
    return walkTree(placed);
}

// As rsync and scp take a source folder: "get -r A/B" makes DEST/B, while
// "A/B/" (and "..", which names no folder of its own) puts what it holds into
// DEST itself.
QString TreeCommand::topFolder() const
{
    if (options.path.endsWith(QLatin1Char('/')))
        return QString();
    const QString last = options.path.section(QLatin1Char('/'), -1);
    return last == QLatin1String("..") ? QString() : last;
}

bool TreeCommand::walkTree(const Tree &tree)
{
    const QDir base(tree.subfolder.isEmpty() ? options.dest : QDir(options.dest).filePath(tree.subfolder));
    TreeWalk walk(session, base);
    const bool through = walk.walk([&](const QString &path, const QList<RecorderSession::Entry> &files) {
        return visit(tree, base, path, files);
    });
    const QString label = tree.subfolder.isEmpty() ? QString() : tree.subfolder + QLatin1Char('/');
    for (const auto &refusal : walk.refused())
        notes << QStringLiteral("%1%2: %3").arg(label, refusal.path, refusal.why);
    if (!through && stopReason.isEmpty())
        stopReason = walk.failure();
    return through;
}

bool TreeCommand::visit(const Tree &tree, const QDir &base, const QString &path,
                        const QList<RecorderSession::Entry> &files)
{
    seen += files.size();
    const QString label = (tree.subfolder.isEmpty() ? QString() : tree.subfolder + QLatin1Char('/')) + path;
    const QDir folder(base.filePath(path.isEmpty() ? QStringLiteral(".") : path));
    QList<RecorderSession::Entry> wanted;
    for (const auto &file : files) {
        switch (sync ? need(tree, path, file) : Need::Fetch) {
        case Need::Fetch:
            wanted << file;
            break;
        case Need::UpToDate:
            ++upToDate;
            break;
        case Need::Gone:
            gone << label + Console::visibleName(file.name);
            break;
        }
    }
    if (options.dryRun) {
        plan.show(folder, label, wanted);
        return true;
    }
    // get -r mirrors empty folders too; sync makes only what it fills.
    if (wanted.isEmpty() && sync)
        return true;
    if (!insideDestination(folder) || !QDir().mkpath(folder.path()) || !insideDestination(folder)) {
        notes << QStringLiteral("%1: not written, %2 cannot be made a folder inside %3")
                     .arg(label.isEmpty() ? QStringLiteral(".") : label, folder.path(), options.dest);
        failed += wanted.size();
        return true;
    }
    return wanted.isEmpty() || fetch(tree, folder, path, label, wanted);
}

TreeCommand::Need TreeCommand::need(const Tree &tree, const QString &path, const RecorderSession::Entry &file) const
{
    const SyncManifest::Record *taken = manifest->find(tree.name, path + file.name);
    // Not taken before, or changed on the recorder since.
    if (!taken || taken->size != file.size || taken->recorded != Console::isoDate(file.dateTime))
        return Need::Fetch;
    if (QFileInfo::exists(QDir(options.dest).filePath(taken->local)))
        return Need::UpToDate;
    return options.again ? Need::Fetch : Need::Gone;
}

bool TreeCommand::fetch(const Tree &tree, const QDir &folder, const QString &path, const QString &label,
                        const QList<RecorderSession::Entry> &files)
{
    get.setLabel(label);
    get.setSettled([&](const RecorderSession::Entry &file, GetCommand::Result result, const QString &localName) {
        // Kept by the rule counts as taken: the file is there.
        if (sync && result != GetCommand::Result::Failed)
            record(tree, path, file, localName);
    });
    const bool goOn = get.fetch(files, folder.path());
    get.setSettled(nullptr);
    return goOn;
}

// Notes a recording as taken, at once on disk: a run that ends after this
// file starts with the next one.
void TreeCommand::record(const Tree &tree, const QString &path, const RecorderSession::Entry &file,
                         const QString &written)
{
    SyncManifest::Record r;
    r.tree = tree.name;
    r.path = path + file.name;
    r.size = file.size;
    r.recorded = Console::isoDate(file.dateTime);
    r.local = tree.subfolder + QLatin1Char('/') + path + written;
    r.when = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    manifest->put(r);
    if (!manifest->save() && !manifestTrouble) {
        manifestTrouble = true;
        Console::err(QStringLiteral("zv-transfer: cannot write the sync record %1: %2")
                         .arg(manifest->filePath(), manifest->problem()));
    }
}

bool TreeCommand::openManifest()
{
    manifest = std::make_unique<SyncManifest>(options.dest);
    switch (manifest->load(options.dryRun)) {
    case SyncManifest::Load::Fresh:
    case SyncManifest::Load::Loaded:
        return true;
    case SyncManifest::Load::SetAside:
        Console::err(QStringLiteral("zv-transfer: the sync record %1 is damaged (%2); %3")
                         .arg(manifest->filePath(), manifest->problem(),
                              options.dryRun
                                  ? QStringLiteral("a run would set it aside and start afresh")
                                  : QStringLiteral("set aside as %1, starting afresh").arg(manifest->setAsidePath())));
        return true;
    case SyncManifest::Load::Unreadable:
        break;
    }
    Console::err(QStringLiteral("zv-transfer: the sync record %1 is damaged (%2) and cannot be set aside")
                     .arg(manifest->filePath(), manifest->problem()));
    return false;
}

// Checked before the folder is made (by its path) and after (by where its
// links lead).
bool TreeCommand::insideDestination(const QDir &folder) const
{
    const auto inside = [](const QString &top, const QString &here) {
        return !top.isEmpty() && (here == top || here.startsWith(top + QLatin1Char('/')));
    };
    if (!folder.exists())
        return inside(QDir::cleanPath(QDir(options.dest).absolutePath()), QDir::cleanPath(folder.absolutePath()));
    return inside(QFileInfo(options.dest).canonicalFilePath(), folder.canonicalPath());
}

void TreeCommand::note(const QString &line, bool trouble)
{
    if (Console::atLeast(Console::Verbosity::Normal))
        Console::out(line + QLatin1Char('\n'));
    else if (trouble)
        Console::err(QStringLiteral("zv-transfer: ") + line);
}

int TreeCommand::summary()
{
    int code = ExitDone;
    if (options.dryRun)
        plan.printSummary();
    else
        code = get.summary();
    if (sync && upToDate > 0)
        note(QStringLiteral("up to date: %1 taken before").arg(plural(upToDate, "recording", "recordings")), false);
    if (!gone.isEmpty()) {
        note(QStringLiteral("not fetched again: %1 taken before and no longer in %2 (--again fetches them): %3")
                 .arg(plural(gone.size(), "recording", "recordings"), options.dest, gone.join(QStringLiteral(", "))),
             false);
    }
    for (const QString &line : qAsConst(notes))
        note(QStringLiteral("skipped ") + line, true);
    Console::printErrors(session.errors());
    if (session.interruption())
        return ExitBySignal + session.interruption();
    if (!stopReason.isEmpty()) {
        Console::err(QStringLiteral("zv-transfer: ") + stopReason);
        return stopCode;
    }
    if (code != ExitDone || failed > 0 || !notes.isEmpty() || manifestTrouble)
        return ExitSomeFailed;
    return seen == 0 && !sync ? ExitNothingMatched : ExitDone;
}
