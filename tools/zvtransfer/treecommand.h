#ifndef TREECOMMAND_H
#define TREECOMMAND_H

#include <QDir>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

#include "base/samenameoption.h"
#include "base/zvrecordmode.h"
#include "exitcode.h"
#include "fetchplan.h"
#include "getcommand.h"
#include "recorder/syncmanifest.h"
#include "recordersession.h"
#include "treewalk.h"

// "get -r" and "sync": whole folder trees of one or both of the recorder's
// trees mirrored into the destination, each recording through GetCommand (so
// the same lines, rules and checks), and one summary that names everything
// not taken and why. sync keeps a SyncManifest in the destination and takes
// only what it has not taken before; with --dry-run both only say what they
// would fetch.
class TreeCommand
{
public:
    struct Options
    {
        bool sync = false; // sync rather than get -r
        // The one tree named (--mtr, --music), which the session is on;
        // none: the one the recorder was found on, or both.
        std::optional<ZVRecordMode> named;
        bool both = false; // both trees, one subfolder each
        QString path;      // get -r: the folder to start in
        QString dest;
        SameNameOption rule = SaveNewer;
        int statsSeconds = 0;
        bool again = false; // sync: fetch what was deleted here too
        bool dryRun = false;
    };

    TreeCommand(RecorderSession &session, const Options &options);

    // Runs on an opened session; the exit code.
    int run();

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
    // The folder get -r makes in the destination for its PATH; empty: none.
    QString topFolder() const;
    // The walk of one tree from where the session is, into its subfolder.
    bool walkTree(const Tree &tree);
    bool visit(const Tree &tree, const QDir &base, const QString &path, const QList<RecorderSession::Entry> &files);
    Need need(const Tree &tree, const QString &path, const RecorderSession::Entry &file) const;
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
    const Options options;
    const bool sync;
    std::unique_ptr<SyncManifest> manifest;
    QString stopReason;            // why the run ended early
    int stopCode = ExitSomeFailed; // its exit code

    GetCommand get;
    FetchPlan plan; // dry run
    int seen = 0;   // recordings listed in the trees walked
    int failed = 0; // not handed to get: their folder could not be made
    int upToDate = 0;
    QStringList gone;  // sync: taken before, no longer here
    QStringList notes; // folders not taken, each with why
    bool manifestTrouble = false;
};

#endif // TREECOMMAND_H
