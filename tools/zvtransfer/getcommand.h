#ifndef GETCOMMAND_H
#define GETCOMMAND_H

#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

#include "base/samenameoption.h"
#include "errortally.h"
#include "recordersession.h"

// "get": downloads recordings of the current folder. Each one gets its line
// once it is settled (written, kept by the same-name rule, or failed), a
// terminal also a progress line while it arrives, and the run a summary. A
// download that one file ends early goes on with the others in a new one.
class GetCommand
{
public:
    GetCommand(RecorderSession &session, const QString &dest, SameNameOption rule);

    // Downloads `names`, or every recording of the folder; the exit code.
    int run(const QStringList &names, bool all);

    // What became of one recording of fetch().
    enum class Result { Written, Kept, Failed };
    using Settled = std::function<void(const RecorderSession::Entry &entry, Result result)>;
    // Downloads `files` of the current folder for a caller that keeps its own
    // account: each file is handed to `settled` as it is settled (before its
    // line, which starts with `label`), and no summary is printed. False when
    // the run cannot go on (link lost, too slow, no space, a signal).
    bool fetch(const QList<RecorderSession::Entry> &files, const QString &label, const Settled &settled);

private:
    // One requested recording and what became of it.
    struct Target
    {
        enum State { Pending, Written, Kept, Failed };
        RecorderSession::Entry entry;
        State state = Pending;
    };

    bool chooseTargets(const QStringList &names, bool all);
    // Asks for every target still pending in one download; false when no
    // further download is to follow.
    bool downloadPending();
    RecorderSession::DownloadObserver observer();
    void fileStarted(const QString &name);
    void drawProgress(qulonglong received);
    void closeCurrent();
    // Settles what the end of a download decides; true when it ends the run.
    bool settleEnd(RecorderSession::DownloadEnd end, const ErrorTally::Item &ending);
    bool settleFailure(const ErrorTally::Item &ending);
    void settle(int position, Target::State state, const QString &why, qulonglong received = 0);
    void failRest(const QString &why);
    int summary();

    RecorderSession &session;
    const QString dest;
    const SameNameOption rule;
    const bool terminal;
    QList<Target> targets;
    QStringList foldersLeftOut; // get --all: folders of the folder, not taken
    QString label;
    Settled onSettled;
    bool broken = false; // fetch(): no further download can follow
    int downloaded = 0;
    int skipped = 0;
    int failed = 0;
    qulonglong bytes = 0;
    QElapsedTimer total;

    // The download under way.
    QList<int> batch; // positions in `targets` handed to it
    int current = -1; // the position being received
    qulonglong currentBytes = 0;
    bool currentSkipped = false;
    bool pendingSkip = false;
    QElapsedTimer fileClock;
    qint64 lastDraw = 0;
};

#endif // GETCOMMAND_H
