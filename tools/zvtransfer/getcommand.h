#ifndef GETCOMMAND_H
#define GETCOMMAND_H

#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "base/samenameoption.h"
#include "errortally.h"
#include "progressline.h"
#include "recordersession.h"

// "get": downloads recordings. Each one gets its line once it is settled
// (written, kept by the same-name rule, or failed), the run a progress line
// while a file arrives and a summary at the end. A download that one file
// ends early goes on with the others in a new one; one the recorder stops or
// the link ends is not asked for again. With --dry-run it only tells what it
// would do.
//
// For the get command, run() does it all. A caller that goes over several
// folders (a tree) keeps one GetCommand for the whole run: for each folder
// it enters the folder, says where the run stands with setRunTotals(),
// calls fetch(), and at the end summary().
class GetCommand
{
public:
    struct Options
    {
        QString path;      // --all: the folder, "/"-separated; empty: the current one
        QStringList names; // the recordings ("NAME" or "PATH/NAME"), unless all
        bool all = false;
        bool dryRun = false;
        QString dest;
        SameNameOption rule = SaveNewer;
        int statsSeconds = ProgressLine::DefaultPlainIntervalSeconds; // 0: no plain progress lines
    };
    // Where one fetch() stands in the run, for the progress line: file n of
    // N and the run's bytes. When filesTotal is 0 (never set) the command's
    // own targets make the run.
    struct RunTotals
    {
        int filesBefore = 0;        // files of the run settled before this fetch
        int filesTotal = 0;         // files of the whole run
        qulonglong bytesBefore = 0; // listed bytes of those settled files
        qulonglong bytesTotal = 0;  // listed bytes of the whole run
    };
    struct Counts
    {
        int downloaded = 0;
        int skipped = 0;
        int failed = 0;
        qulonglong bytes = 0; // bytes written
    };

    // A caller of fetch() needs only the rule and the stats interval.
    GetCommand(RecorderSession &session, const Options &options);

    // The get command on an opened session: downloads the names (PATH
    // relative to the current folder), or every recording of the folder,
    // into the destination; prints the summary and gives the exit code.
    int run();

    void setRunTotals(const RunTotals &totals);
    // Downloads `entries` of the recorder's current folder into `dest`
    // (created when missing); folders among them are left out. False when
    // the run should stop: interrupted, too slow, the recorder lost or
    // stopping, or no room for any of them.
    bool fetch(const QList<RecorderSession::Entry> &entries, const QString &dest);
    // Names a requested recording that could not be found as failed.
    void notFound(const QString &name, const QString &why);
    const Counts &counts() const { return tally; }
    // Prints the run's summary, naming each file written under a new name;
    // the exit code.
    int summary();

    // What became of one file, for a caller that keeps its own account:
    // `localName` is its name in the folder (counted under the rename rule).
    enum class Result { Written, Kept, Failed };
    using Settled = std::function<void(const RecorderSession::Entry &entry, Result result, const QString &localName)>;
    void setSettled(const Settled &settled) { onSettled = settled; }
    // Printed before each file's name (a tree's folder path).
    void setLabel(const QString &text) { label = text; }

private:
    // One requested recording and what became of it.
    struct Target
    {
        enum State { Pending, Written, Kept, Failed };
        RecorderSession::Entry entry;
        State state = Pending;
        QString writtenAs; // the counted name the rename rule chose
        QString label;     // printed before the name (setLabel())
    };
    // The requested names of one folder.
    struct Group
    {
        QStringList path; // folders below the starting one
        QStringList names;
        QList<RecorderSession::Entry> found;
    };

    // "get FOLDER NAME...": a leading folder of the listing holds the names.
    void takeLeadingFolder();
    static QList<Group> groupByFolder(const QStringList &names, const QList<RecorderSession::Entry> &entries);
    bool enterGroup(const QStringList &path, const QStringList &names, QStringList *here);
    static bool makeDest(const QString &dest);
    int runAll(const QString &dest);
    int runNamed(const QStringList &names, const QString &dest);
    int preview();
    std::optional<RecorderSession::Entry> findPlanned(const QString &name, QString *label);
    void fetchGroups(const QList<Group> &groups, int found, const QString &dest, QStringList *here);
    // Asks for every target still pending in one download; false when no
    // further download is to follow.
    bool downloadPending();
    void foreseeRenames();
    RecorderSession::DownloadObserver observer();
    void fileStarted(const QString &name);
    void showProgress(qulonglong received);
    void closeCurrent();
    void closeCurrentIfComplete();
    void refused(int index, const ErrorTally::Item &error);
    // Settles what the end of a download decides; true when it ends the run.
    bool settleEnd(RecorderSession::DownloadEnd end, const ErrorTally::Item &ending);
    bool settleFailure(const ErrorTally::Item &ending);
    void settle(int position, Target::State state, const QString &why, qulonglong received = 0);
    void printSettled(const Target &target, const QString &why, qulonglong received);
    void failRest(const QString &why);
    // get --all: the folders not taken, as one line.
    QString leftOutLine() const;

    RecorderSession &session;
    Options options;
    ProgressLine progress;
    QString dest; // of the fetch under way
    QList<Target> targets;
    QStringList foldersLeftOut; // get --all: the folder's folders, not taken
    Settled onSettled;
    QString label;
    Counts tally;
    int settledFiles = 0;
    qulonglong settledBytes = 0; // listed sizes of the settled targets
    qulonglong targetBytes = 0;  // listed sizes of all targets
    RunTotals runTotals;
    int fetchFirstFile = 0; // settledFiles when the fetch began
    qulonglong fetchFirstBytes = 0;
    bool stopped = false;
    QElapsedTimer total;

    // The download under way.
    QList<int> batch; // positions in `targets` handed to it
    int current = -1; // the position being received
    qulonglong currentBytes = 0;
    bool currentSkipped = false;
    bool pendingSkip = false;
    QElapsedTimer fileClock;
};

#endif // GETCOMMAND_H
