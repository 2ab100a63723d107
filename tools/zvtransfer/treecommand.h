#ifndef TREECOMMAND_H
#define TREECOMMAND_H

#include <QDir>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

#include "base/zvrecordmode.h"
#include "exitcode.h"
#include "getcommand.h"
#include "recordersession.h"
#include "syncmanifest.h"
#include "transferoptions.h"
#include "treewalk.h"

// "get -r" and "sync": whole folder trees of one or both of the recorder's
// trees mirrored into the destination, each recording through GetCommand (so
// the same lines, rules and checks), and one summary that names everything
// not taken and why. sync keeps a SyncManifest in the destination and takes
// only what it has not taken before; with --dry-run both only say what they
// would fetch. Also the dry run of a plain "get" in the current folder.
class TreeCommand
{
public:
    TreeCommand(RecorderSession &session, const TransferOptions &options);

    // Whether `options` ask for this command rather than a plain get.
    static bool takes(const TransferOptions &options);

    // Runs on an opened session; the exit code.
    int run();
    // get --dry-run in the current folder: `names`, or every recording.
    int preview(const QStringList &names, bool all);

private:
    struct Tree
    {
        QString name;      // "music", "mtr"; empty: the current one, unnamed
        QString subfolder; // below the destination; empty: the destination itself
        ZVRecordMode mode = RecordModeMusic;
        bool switchTo = false;
    };
    // How sync judges one listed recording.
    enum class Need { Fetch, UpToDate, Gone };

    QList<Tree> trees() const;
    bool runTree(const Tree &tree);
    bool visit(const Tree &tree, const QDir &base, const QString &path, const QList<RecorderSession::Entry> &files);
    Need need(const Tree &tree, const QString &path, const RecorderSession::Entry &file) const;
    void showPlan(const QDir &folder, const QString &label, const QList<RecorderSession::Entry> &files);
    bool fetch(const Tree &tree, const QDir &folder, const QString &path, const QString &label,
               const QList<RecorderSession::Entry> &files);
    // A line of the summary: standard output, or standard error under -q
    // when it tells of something not taken.
    static void note(const QString &line, bool trouble);
    void record(const Tree &tree, const QString &path, const RecorderSession::Entry &file, const QString &written);
    bool openManifest();
    // Whether `folder` (created) still lies inside the destination.
    bool insideDestination(const QDir &folder) const;
    int summary();

    RecorderSession &session;
    const TransferOptions &options;
    const bool sync;
    std::unique_ptr<SyncManifest> manifest;
    QString stopReason;            // why the run ended early
    int stopCode = ExitSomeFailed; // its exit code

    GetCommand get;
    int seen = 0;   // recordings listed in the trees walked
    int failed = 0; // not handed to get: their folder could not be made
    int upToDate = 0;
    QStringList gone;          // sync: taken before, no longer here
    QStringList notes;         // folders not taken, each with why
    int wouldFetch = 0;        // dry run
    qulonglong wouldBytes = 0; // dry run
    int wouldKeep = 0;         // dry run
    bool manifestTrouble = false;
};

#endif // TREECOMMAND_H
