// The controller and the download engine on their worker thread against the
// recorder simulator: connection life, listings, details, downloads with every
// check, the same-name rules; listings while another thread calls in.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <atomic>
#include <csignal>
#include <functional>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <thread>

#include "base/downloadfileinfo.h"
#include "controllerfixture.h"
#include "protocol/zvcommand.h"
#include "recorder/zvcontroller.h"
#include "recorder/zvdownloadqueue.h"
#include "sim/recordersimulator.h"
#include "sim/replybuilder.h"
#include "testparts.h"

// Which listings the recorder numbers from 1 instead of 0.
enum Misnumbered { NoListing, FirstListing, EveryListing };
// The demo's longest WAV (1 152 044 bytes): long enough to act on while it arrives.
const QString LongTake = QStringLiteral("ZV_0002.WAV");
// Sets a fault on the recorder.
using SimFault = std::function<void(RecorderSimulator *sim)>;
Q_DECLARE_METATYPE(SimFault)

// Whether the test runs in a mount namespace of its own, where it may mount a
// tiny file system that nobody else sees. Made at static initialisation,
// before any thread starts (the threads started later share it).
static const bool privateMounts
    = unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;

class tst_ZVController : public ControllerFixture
{
    Q_OBJECT
private slots:
    void init() { QVERIFY(setUpFixture()); }

    void cleanup() { tearDownFixture(); }

    void failedConnectShownUnlessHostNotFound_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<Errors>("shown"); // what the user is told
        // An empty name fails the lookup at once, without asking any name server.
        QTest::addRow("host-not-found") << QString() << Errors();
        QTest::addRow("refused") << QStringLiteral(ZV_TEST_ADDRESS)
                                 << Errors{{NetworkSocketError, int(QAbstractSocket::ConnectionRefusedError), 0}};
    }

    void failedConnectShownUnlessHostNotFound()
    {
        QFETCH(QString, host);
        QFETCH(Errors, shown);
        sim->close();
        startController(host);
        QTRY_COMPARE(events->closed.size(), 1);
        QTest::qWait(300);
        QVERIFY(events->connected.isEmpty());
        QTRY_COMPARE(events->errors, shown);
    }

    void multiPacketListingSettles_data()
    {
        // The files of the listed folder (0: the demo tree), listed one entry
        // per packet; entries beyond the total, the misnumbered listings, list
        // requests.
        QTest::addColumn<int>("files");
        QTest::addColumn<int>("surplus");
        QTest::addColumn<int>("misnumbered");
        QTest::addColumn<int>("listRequests");
        QTest::addRow("one-entry-per-packet") << 0 << 0 << int(NoListing) << 1;
        // Entries beyond the announced total neither grow the list nor restart it.
        QTest::addRow("two-more-than-announced") << 0 << 2 << int(NoListing) << 1;
        // Out of sequence: the listing starts over, without a word to the user,
        // once: the rest of the abandoned listing arrives after the restart.
        QTest::addRow("one-entry-packets-numbered-from-1") << 0 << 0 << int(FirstListing) << 2;
        // Past 255 the abandoned listing's numbers wrap to a packet 0 of its own,
        // which comes before the one asked for.
        QTest::addRow("stale-packet-0-after-the-wrap") << 300 << 0 << int(FirstListing) << 2;
        // One restart, then the controller waits (the window's watchdog ends it).
        QTest::addRow("every-listing-misnumbered-waits") << 0 << 0 << int(EveryListing) << 2;
        QTest::addRow("every-listing-misnumbered-past-the-wrap-waits") << 300 << 0 << int(EveryListing) << 2;
    }

    void multiPacketListingSettles()
    {
        QFETCH(int, files);
        QFETCH(int, surplus);
        QFETCH(int, misnumbered);
        QFETCH(int, listRequests);
        QMap<QString, QByteArray> folder;
        for (int i = 0; i < files; ++i)
            folder.insert(QStringLiteral("F%1.WAV").arg(i), QByteArray());
        QVERIFY(files == 0 || serveTree(folder));
        sim->setMaxListPayload(1);
        sim->setListSurplus(surplus);
        sim->setListSequenceFault(misnumbered != NoListing, misnumbered == EveryListing);
        // Another thread calls in all the while; rows may vanish meanwhile.
        std::atomic<bool> stop{false};
        std::atomic<int> calls{0};
        std::thread caller([&] {
            DownloadFileInfo info;
            while (!stop) {
                const int count = controller->getFileCount();
                for (int row = 0; row <= count; ++row)
                    controller->getFileInfo(row, &info);
                controller->setDownloadFiles(dest->path(), {1, 2, 3});
                controller->setSSID(QStringLiteral(ZV_TEST_ADDRESS));
                controller->setSameOption(SaveRename);
                ++calls;
            }
        });
        const auto joined = qScopeGuard([&] {
            stop = true;
            caller.join();
        });
        startController();
        if (misnumbered == EveryListing) {
            QTRY_VERIFY_WITH_TIMEOUT(requestsWithCode(CODE_FILE_LIST) >= listRequests, 5000);
            QTest::qWait(1500);
        } else {
            waitForListing();
            QTest::qWait(300);
        }
        QCOMPARE(requestsWithCode(CODE_FILE_LIST), listRequests);
        QVERIFY(calls > 0);
        QVERIFY(events->errors.isEmpty());
        QCOMPARE(events->listed.size(), misnumbered == EveryListing ? 0 : 1);
        if (misnumbered == EveryListing)
            return;
        QCOMPARE(events->closed.size(), 1); // the first poll found the socket unconnected
        QCOMPARE(events->connected.size(), 1);
        QVERIFY2(events->listed.first() >= qint64(ZVController::ConnectedPauseMs), "announced before the pause");
        QStringList expected = QDir(sim->musicRoot()).entryList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot);
        expected.sort();
        if (surplus == 0)
            QCOMPARE(events->entries.keys(), expected);
        QCOMPARE(controller->getFileCount(), expected.size() - surplus);
        // Files only: the recorder numbers them 0, 1, 2 ... in listing order.
        for (int row = 0; row < files; ++row) {
            DownloadFileInfo info;
            QVERIFY(controller->getFileInfo(row, &info));
            QCOMPARE(int(info.index), row);
        }
    }

    void burstsCostOnePauseAndOneReport_data()
    {
        // The notice (a changed listing, else an acknowledged detail request),
        // when one more notice follows the first forty (ms; -1: none).
        QTest::addColumn<bool>("relist");
        QTest::addColumn<int>("laterMs");
        QTest::addRow("list-invalidated, forty in one write") << true << -1;
        // Timed from the first notice, the relist came 200 ms after the last.
        QTest::addRow("list-invalidated, one more 0.8 s into the pause") << true << 800;
        QTest::addRow("detail-acknowledged, forty in one write") << false << -1;
        QTest::addRow("detail-acknowledged, one more 0.8 s into the pause") << false << 800;
    }

    // Notices that come while their pause runs are merged into it: one follow-up
    // request, a full pause after the last notice. Thousands of packets with a
    // bad magic before them are reported once, and the link goes on working.
    void burstsCostOnePauseAndOneReport()
    {
        QFETCH(bool, relist);
        QFETCH(int, laterMs);
        // The notice, the request that follows it, the pause before it.
        const quint8 notice = relist ? CODE_LIST_INVALIDATED : CODE_FILE_DETAIL;
        const quint8 followUp = relist ? CODE_FILE_LIST : CODE_FILE_DETAIL_RESULT;
        const qint64 pauseMs = qint64(relist ? ZVController::DiscardPauseMs : ZVController::FileDetailPauseMs);
        startAndList();
        if (relist) // a new listing drops what was chosen in the old one
            controller->setDownloadFiles(dest->path(), {indexOf("ZV_0001.WAV")});
        requests.clear();
        QElapsedTimer sinceLast;
        qint64 followedAt = -1;
        QObject context; // the lambda below goes with the test's variables
        connect(sim, &RecorderSimulator::requestReceived, &context, [&](const QByteArray &header) {
            if (followedAt < 0 && quint8(header.at(CODE_OFFSET)) == followUp)
                followedAt = sinceLast.elapsed();
        });
        QByteArray garbage = ReplyBuilder::command(CODE_LIST_INVALIDATED);
        garbage[0] = 'X';
        sim->sendToClient(garbage.repeated(5000) + ReplyBuilder::command(notice).repeated(40));
        sinceLast.start();
        if (laterMs >= 0) {
            QTest::qWait(laterMs);
            sim->sendToClient(ReplyBuilder::command(notice));
            sinceLast.start();
        }
        QTRY_VERIFY_WITH_TIMEOUT(followedAt >= 0, 3000);
        QVERIFY2(followedAt >= pauseMs && followedAt < pauseMs + 600,
                 qPrintable(QStringLiteral("%1 ms after the last notice").arg(followedAt)));
        QTest::qWait(int(pauseMs) + 200);
        QCOMPARE(requestsWithCode(followUp), 1);
        QCOMPARE(events->discarded.size(), relist ? 1 : 0); // the table is emptied once, without flicker
        QCOMPARE(events->errors.count({NetworkPacketParseError, int(KIND_COMMAND), 0}), 1);
        if (relist) {
            QMetaObject::invokeMethod(controller, "requestDownloadFiles");
            QTest::qWait(300);
            QCOMPARE(requestsWithCode(CODE_DOWNLOAD), 0);
        }
    }

    // Into a folder, back up, into an empty one; the other tree and back.
    void browsesFoldersAndTrees()
    {
        startAndList();
        const auto listed = [&](const char *request, QGenericArgument argument) {
            QMetaObject::invokeMethod(controller, request, argument);
            waitForListing();
            return events->entries.keys();
        };
        QCOMPARE(listed("requestMoveFolder", Q_ARG(int, indexOf("FOLDER01"))),
                 (QStringList{"TAKE_44k16.WAV", "TAKE_96k24.WAV"}));
        QVERIFY(listed("requestMoveFolder", Q_ARG(int, PARENT_FOLDER_INDEX)).contains("EMPTY"));
        QCOMPARE(listed("requestMoveFolder", Q_ARG(int, indexOf("EMPTY"))), QStringList());
        QVERIFY(indexOf("FOLDER01") < 0); // folder indexes are negative as int

        QVERIFY(listed("requestChangeRecordMode", Q_ARG(ZVRecordMode, RecordModeMTR)).contains("SONG0001"));
        QVERIFY(listed("requestChangeRecordMode", Q_ARG(ZVRecordMode, RecordModeMusic)).contains("ZV_0001.WAV"));
        QCOMPARE(events->modes, (QList<ZVRecordMode>{RecordModeMTR, RecordModeMusic}));
    }

    void downloadsSeveralFilesExactly()
    {
        // When the recorder handed out each file's last byte, and when it was
        // asked for each file.
        QElapsedTimer clock;
        clock.start();
        QList<qint64> served, asked;
        QObject context;
        connect(sim, &RecorderSimulator::downloadFinished, &context, [&] { served << clock.elapsed(); });
        connect(sim, &RecorderSimulator::downloadStarted, &context, [&] { asked << clock.elapsed(); });

        startAndList();
        const QStringList files{"ZV_0001.WAV", "ZV_0003_BWF.WAV", "ZV_0004.MP3"};
        QList<int> indexes;
        for (const QString &name : files)
            indexes << indexOf(name);
        QVERIFY(download(indexes));
        QCOMPARE(asked.size(), 3);
        for (int i = 1; i < asked.size(); ++i) {
            const qint64 pause = asked.at(i) - served.at(i - 1);
            QVERIFY2(pause >= qint64(ZVDownloadQueue::PauseBetweenFilesMs) - 1, qPrintable(QString::number(pause)));
        }

        QCOMPARE(events->started.size(), 3);
        for (int i = 0; i < files.size(); ++i) {
            const QByteArray source = readAll(musicFile(files.at(i)));
            QCOMPARE(events->started.at(i).first, files.at(i));
            QCOMPARE(events->started.at(i).second, qulonglong(source.size()));
            QVERIFY2(readAll(dest->filePath(files.at(i))) == source, qPrintable(files.at(i)));
            // The copy keeps the recording's time from the listing.
            QCOMPARE(QFileInfo(dest->filePath(files.at(i))).lastModified(), events->dates.value(files.at(i)));
        }
        QCOMPARE(events->progress.last(), qulonglong(readAll(musicFile(files.last())).size()));
        QVERIFY(events->errors.isEmpty());
        QCOMPARE(QDir(dest->path()).entryList(QDir::Files | QDir::Hidden), files); // no partial file left behind
    }

    void sameNameRules_data()
    {
        // The rule, whether the file there has the same size, how many counted
        // names are taken, whether the recording is transferred, and where it
        // ends up (empty: nowhere).
        QTest::addColumn<int>("rule");
        QTest::addColumn<bool>("sameSize");
        QTest::addColumn<int>("counted");
        QTest::addColumn<bool>("transferred");
        QTest::addColumn<QString>("writtenAs");

        QTest::addRow("newer-same-size-skips") << int(SaveNewer) << true << 0 << false << QString();
        QTest::addRow("newer-other-size-overwrites") << int(SaveNewer) << false << 0 << true << "ZV_0001.WAV";
        QTest::addRow("overwrite") << int(SaveOverwrite) << true << 0 << true << "ZV_0001.WAV";
        QTest::addRow("unknown-rule-overwrites") << int(SaveNoWrite) + 4 << true << 0 << true << "ZV_0001.WAV";
        QTest::addRow("rename") << int(SaveRename) << true << 0 << true << "ZV_0001(1).WAV";
        // With every counted name taken the rule writes over the last one.
        QTest::addRow("rename-cap") << int(SaveRename) << false << 29999 << true << "ZV_0001(29999).WAV";
        QTest::addRow("no-write-skips") << int(SaveNoWrite) << false << 0 << false << QString();
    }

    void sameNameRules()
    {
        QFETCH(int, rule);
        QFETCH(bool, sameSize);
        QFETCH(int, counted);
        QFETCH(bool, transferred);
        QFETCH(QString, writtenAs);

        for (int count = 1; count <= counted; ++count)
            QVERIFY(QFile(dest->filePath(QStringLiteral("ZV_0001(%1).WAV").arg(count))).open(QIODevice::WriteOnly));
        startAndList();
        const QByteArray source = readAll(musicFile("ZV_0001.WAV"));
        const QByteArray existing = sameSize ? QByteArray(source.size(), 'x') : QByteArray("old take");
        QVERIFY(writeFile(dest->filePath("ZV_0001.WAV"), existing));

        QVERIFY(download({indexOf("ZV_0001.WAV")}, SameNameOption(rule)));
        QCOMPARE(requestsWithCode(CODE_DOWNLOAD), transferred ? 1 : 0);
        // Skipped or not, the window sees the file as started and complete.
        QCOMPARE(events->started.size(), 1);
        QCOMPARE(events->progress.last(), qulonglong(source.size()));
        if (!writtenAs.isEmpty())
            QVERIFY(readAll(dest->filePath(writtenAs)) == source);
        if (writtenAs != QLatin1String("ZV_0001.WAV")) {
            QVERIFY(readAll(dest->filePath("ZV_0001.WAV")) == existing);
            // A file left alone keeps its own time.
            QVERIFY(QFileInfo(dest->filePath("ZV_0001.WAV")).lastModified() != events->dates.value("ZV_0001.WAV"));
        }
    }

    void packetFaultsCancelAndKeepPartialFile_data()
    {
        // The fault (data packets counted from 0), the error code, what stays of
        // the partial file, the payload per data packet.
        QTest::addColumn<SimFault>("fault");
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("keptBytes");
        QTest::addColumn<int>("chunk");

        QTest::addRow("offset-gap") << SimFault([](RecorderSimulator *sim) { sim->setWrongOffsetAt(1); })
                                    << int(DownloadIllegalOffset) << 32768 << 32768;
        // Small payloads are gathered before they are written: what was verified
        // before the fault must still reach the partial file.
        QTest::addRow("bad-checksum, 1 KiB packets")
            << SimFault([](RecorderSimulator *sim) { sim->setCorruptCheckAt(700); }) << int(DownloadPacketCrcError)
            << 700 * 1024 << 1024;
        // Every whole packet of the 1 152 044 bytes before the overshoot.
        QTest::addRow("more-than-listed") << SimFault([](RecorderSimulator *sim) { sim->setExtraBytes(40000); })
                                          << int(DownloadSizeExceeded) << 1125 * 1024 << 1024;
    }

    void packetFaultsCancelAndKeepPartialFile()
    {
        QFETCH(SimFault, fault);
        QFETCH(int, code);
        QFETCH(int, keptBytes);
        QFETCH(int, chunk);

        const QByteArray source = readAll(musicFile(LongTake));
        sim->setChunkSize(chunk);
        fault(sim);

        startAndList();
        requestDownload(dest->path(), {indexOf(LongTake), indexOf("ZV_0001.WAV")});
        QTRY_COMPARE(events->canceled, 1);
        QTRY_COMPARE(events->errors.size(), 1);
        QCOMPARE(int(events->errors.first().code), code);
        QCOMPARE(events->finished, 0);
        QTRY_COMPARE(requestsWithCode(CODE_CANCEL_DOWNLOAD), 1);
        QCOMPARE(requestsWithCode(CODE_DOWNLOAD), 1); // the second file was dropped too
        QCOMPARE(events->progress.last(), qulonglong(keptBytes));
        QVERIFY(readAll(dest->filePath(LongTake + ".part")) == source.left(keptBytes));
        QCOMPARE(QDir(dest->path()).entryList(QDir::Files | QDir::Hidden), QStringList{LongTake + ".part"});
    }

    void cancelConfirmationEndsOnlyWhatItAnswers_data()
    {
        // A cancel of ours unconfirmed, a download running when the recorder's
        // cancel confirmation comes; what the user is told, the cancels and
        // finished downloads reported.
        QTest::addColumn<bool>("outstanding");
        QTest::addColumn<bool>("running");
        QTest::addColumn<Errors>("shown");
        QTest::addColumn<int>("cancels");
        QTest::addColumn<int>("finished");
        QTest::addRow("recorder-stop-ends-the-download-at-once")
            << false << true << Errors{{DownloadStoppedByRecorder, 1, 0}} << 1 << 0;
        // Only the cancel's own report at once; the new download completes.
        QTest::addRow("late-confirmation-leaves-a-new-download") << true << true << Errors() << 1 << 1;
        QTest::addRow("stop-with-nothing-running-changes-nothing") << false << false << Errors() << 0 << 0;
    }

    void cancelConfirmationEndsOnlyWhatItAnswers()
    {
        QFETCH(bool, outstanding);
        QFETCH(bool, running);
        QFETCH(Errors, shown);
        QFETCH(int, cancels);
        QFETCH(int, finished);
        // Little queued ahead: the confirmation arrives in the middle of the data.
        sim->setSendWindow(32 * 1024);
        sim->setThrottle(2 * 1024 * 1024);
        startAndList();
        if (outstanding) {
            sim->setUnanswered(CODE_CANCEL_DOWNLOAD); // its confirmation comes late, below
            QMetaObject::invokeMethod(controller, "cancelDownload");
            QTRY_COMPARE(events->canceled, 1);
        }
        if (running) {
            requestDownload(dest->path(), {indexOf(LongTake)});
            QTRY_VERIFY(!events->progress.isEmpty());
        }
        QElapsedTimer clock;
        clock.start();
        sim->sendToClient(ReplyBuilder::command(CODE_CANCEL_DOWNLOAD));
        QTRY_COMPARE_WITH_TIMEOUT(events->canceled + events->finished, cancels + finished, 5000);
        const qint64 endedAfter = clock.elapsed();
        const int progressAtEnd = events->progress.size();
        QTest::qWait(200); // nothing more comes
        QCOMPARE(events->canceled, cancels);
        QCOMPARE(events->finished, finished);
        QCOMPARE(events->errors, shown);
        QCOMPARE(requestsWithCode(CODE_CANCEL_DOWNLOAD), outstanding ? 1 : 0);
        if (finished)
            QVERIFY(readAll(dest->filePath(LongTake)) == readAll(musicFile(LongTake)));
        if (running && !finished) {
            QVERIFY2(endedAfter < 1000, qPrintable(QString::number(endedAfter)));
            QCOMPARE(events->progress.size(), progressAtEnd);
            QVERIFY(isProperPrefix(readAll(dest->filePath(LongTake + ".part")), readAll(musicFile(LongTake))));
            QVERIFY(!QFile::exists(dest->filePath(LongTake)));
        }
    }

    // Downloading again at once after a cancel: what the recorder sent before
    // it heard the cancel belongs to the cancelled transfer, not to the new file.
    void downloadAgainRightAfterACancel()
    {
        sim->setThrottle(2 * 1024 * 1024); // packets still on their way when the cancel goes
        startAndList();
        requestDownload(dest->path(), {indexOf(LongTake)});
        QTRY_VERIFY(events->progress.size() > 1);
        QMetaObject::invokeMethod(controller, "cancelDownload");
        QTRY_COMPARE(events->canceled, 1);
        requestDownload(dest->path(), {indexOf(LongTake)});
        QTRY_COMPARE_WITH_TIMEOUT(events->finished + int(events->errors.size()), 1, 10000);
        QCOMPARE(events->errors, Errors());
        QVERIFY(readAll(dest->filePath(LongTake)) == readAll(musicFile(LongTake)));
        // The cancelled transfer's partial file was written over and took the name.
        QCOMPARE(QDir(dest->path()).entryList(QDir::Files | QDir::Hidden), QStringList{LongTake});
    }

    void interruptedDownloadLeavesOnlyThePart_data()
    {
        QTest::addColumn<bool>("windowClosed"); // else the user cancels
        QTest::addColumn<bool>("replacing");    // a file of the final name is there
        for (const bool windowClosed : {false, true}) {
            const char *how = windowClosed ? "window-closed" : "user-cancel";
            QTest::addRow("%s, new name", how) << windowClosed << false;
            QTest::addRow("%s, replacement", how) << windowClosed << true;
        }
    }

    // Until its last byte is verified and on the disk a recording is only
    // NAME.part: while it arrives, and after a cancel or a closed window, the
    // verified prefix is there, and the final name absent or as it was.
    void interruptedDownloadLeavesOnlyThePart()
    {
        QFETCH(bool, windowClosed);
        QFETCH(bool, replacing);
        const QString finalPath = dest->filePath(LongTake);
        const QString partPath = finalPath + ".part";
        const QByteArray source = readAll(musicFile(LongTake));
        const QByteArray precious("the only copy of yesterday's take");
        if (replacing)
            QVERIFY(writeFile(finalPath, precious));
        // Small packets are gathered before they are written: what was verified
        // must still reach the partial file.
        sim->setChunkSize(1024);
        sim->setThrottle(400 * 1024);

        startAndList();
        requestDownload(dest->path(), {indexOf(LongTake)});
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(partPath).size() > 0, 15000);
        if (windowClosed) {
            // The worker ends and takes the controller and its queue with it.
            stopThread(controllerHost->thread());
            QCoreApplication::sendPostedEvents(); // its last signals
        } else {
            QMetaObject::invokeMethod(controller, "cancelDownload");
            // A user's cancel is confirmed twice: at once and by the recorder.
            QTRY_COMPARE(events->canceled, 2);
            QVERIFY(events->errors.isEmpty());
        }
        const int progressAtEnd = events->progress.size();
        QTest::qWait(200);
        QCOMPARE(events->progress.size(), progressAtEnd);
        QCOMPARE(QFileInfo(partPath).size(), qint64(events->progress.last()));
        QVERIFY(isProperPrefix(readAll(partPath), source));
        QCOMPARE(readAll(finalPath), replacing ? precious : QByteArray());
        QCOMPARE(QFileInfo::exists(finalPath), replacing);
    }

    void relistDuringDownloadLosesNoTargetSilently_data()
    {
        // Whether a 0x12 notice comes while the first file arrives, the files gone
        // from the recorder before the new listing, the files written, the lost.
        QTest::addColumn<bool>("relist");
        QTest::addColumn<QStringList>("removed");
        QTest::addColumn<QStringList>("written");
        QTest::addColumn<int>("lost");

        QTest::addRow("relist, one gone") << true << QStringList{"C.WAV"} << QStringList{"A.WAV", "B.WAV"} << 1;
        // C.WAV is listed again under B.WAV's old index: neither entry is the same.
        QTest::addRow("relist, indexes moved") << true << QStringList{"B.WAV"} << QStringList{"A.WAV"} << 2;
        // An index the list did not hold when the download started.
        QTest::addRow("never listed") << false << QStringList() << QStringList{"A.WAV"} << 1;
    }

    // Targets are entries, not rows: a new listing in the middle of a download
    // keeps every target that is listed again; the others are reported (E14,
    // once, just before the end), never dropped without a word.
    void relistDuringDownloadLosesNoTargetSilently()
    {
        QFETCH(bool, relist);
        QFETCH(QStringList, removed);
        QFETCH(QStringList, written);
        QFETCH(int, lost);

        QVERIFY(serveThreeSlowly()); // the notice arrives while A.WAV is received
        QStringList order;
        QObject context;
        connect(controller, &ZVController::error, &context, [&] { order << "error"; });
        connect(controller, &ZVController::downloadFinished, &context, [&] { order << "finished"; });
        startAndList();

        requestDownload(dest->path(),
                        relist ? QList<int>{indexOf("A.WAV"), indexOf("B.WAV"), indexOf("C.WAV")}
                               : QList<int>{0x7001, indexOf("A.WAV")});
        if (relist) {
            QTRY_VERIFY(!events->progress.isEmpty());
            for (const QString &name : removed)
                QVERIFY(QFile::remove(tree->filePath(name)));
            sim->notifyListingChanged();
        }
        QTRY_VERIFY_WITH_TIMEOUT(events->finished + events->canceled > 0, 15000);
        QCOMPARE(events->discarded.size(), relist ? 1 : 0);
        QCOMPARE(events->finished, 1);
        QCOMPARE(events->canceled, 0);
        QCOMPARE(events->errors, (lost ? Errors{{DownloadTargetLost, lost, 0}} : Errors()));
        if (lost)
            QCOMPARE(order, (QStringList{"error", "finished"}));
        QCOMPARE(QDir(dest->path()).entryList(QDir::Files | QDir::Hidden), written);
        for (const QString &name : written)
            QVERIFY2(readAll(dest->filePath(name)) == readAll(tree->filePath(name)), qPrintable(name));
    }

    void checkAllDownloadsWhatItCan_data()
    {
        QTest::addColumn<QString>("refused");
        QTest::addColumn<bool>("folder"); // a folder in the way
        // A file another computer left on the card: a hidden name.
        QTest::addRow("hidden-name") << "._B.WAV" << false;
        QTest::addRow("folder-in-the-way") << "B.WAV" << true;
    }

    // Under "check all" one name that cannot be written fails its own file
    // (E10, once); the others are downloaded and the download finishes. An
    // empty recording completes at once, without a request; one whose name is
    // as long as the file system allows is written under a shortened partial
    // name first.
    void checkAllDownloadsWhatItCan()
    {
        QFETCH(QString, refused);
        QFETCH(bool, folder);
        const QString longest = QString(251, QLatin1Char('T')) + QStringLiteral(".WAV");
        const QStringList written{"A.WAV", "EMPTY.WAV", longest};
        QVERIFY(serveTree({{"A.WAV", QByteArray(20000, 'A')},
                           {"B.WAV", QByteArray(20000, 'B')},
                           {"._B.WAV", QByteArray(20000, '.')},
                           {"EMPTY.WAV", QByteArray()},
                           {longest, QByteArray(70000, 't')}}));
        // Reads that end inside a header, and packets of a kind or a code this
        // program does not know, are ordinary on the link: no error.
        sim->setPacketSplit(9, 0);
        sim->setForeignPackets(true);
        // A folder in the way is not renamed around; under the rule that
        // overwrites, an empty recording replaces a file of its name.
        const SameNameOption rule = folder ? SaveRename : SaveOverwrite;
        if (folder)
            QVERIFY(QDir(dest->path()).mkdir(refused));
        else
            QVERIFY(writeFile(dest->filePath("EMPTY.WAV"), "stale"));
        startAndList();
        QVERIFY(download({indexOf("EMPTY.WAV"), indexOf(refused), indexOf(longest), indexOf("A.WAV")}, rule));
        QCOMPARE(events->errors, (Errors{{DownloadIllegalFileName, indexOf(refused), 0}}));
        QCOMPARE(events->canceled, 0);
        QCOMPARE(requestsWithCode(CODE_DOWNLOAD), 2); // none for the empty one
        QCOMPARE(requestsWithCode(CODE_CANCEL_DOWNLOAD), 0);
        QCOMPARE(events->started.first(), qMakePair(QString("EMPTY.WAV"), qulonglong(0)));
        QCOMPARE(events->progress.first(), qulonglong(0));
        QCOMPARE(QDir(dest->path()).entryList(QDir::Files | QDir::Hidden), written);
        for (const QString &name : written)
            QVERIFY2(readAll(dest->filePath(name)) == readAll(tree->filePath(name)), qPrintable(name));
        QCOMPARE(QFileInfo(dest->filePath(refused)).isDir(), folder);
    }

    void scratchFileSystemRefuses_data()
    {
        // A scratch file system read-only or small, the files asked for, what
        // the user is told, the downloads requested.
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<QString>("options");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<Errors>("expected");
        QTest::addColumn<int>("downloads");
        QTest::addRow("read-only-reports-not-open")
            << true << "size=4m" << QStringList{"ZV_0001.WAV"} << Errors{{DownloadFileNotOpen, 0, 0}} << 1;
        // 480 044 + 1 152 044 bytes need 2 MiB (rounded up); 1 MiB is free.
        QTest::addRow("no-space-refuses-before-writing")
            << false << "size=1m" << QStringList{"ZV_0001.WAV", "ZV_0002.WAV"} << Errors{{DownloadNoSpace, 2, 1}} << 0;
    }

    void scratchFileSystemRefuses()
    {
        if (!privateMounts)
            QSKIP("needs a mount namespace of its own (run as root)");
        QFETCH(bool, readOnly);
        QFETCH(QString, options);
        QFETCH(QStringList, files);
        QFETCH(Errors, expected);
        QFETCH(int, downloads);
        const QString mounted = dest->filePath("mounted");
        QVERIFY(QDir().mkpath(mounted));
        QVERIFY2(mount("tmpfs", QFile::encodeName(mounted).constData(), "tmpfs", readOnly ? MS_RDONLY : 0,
                       options.toLatin1().constData())
                     == 0,
                 strerror(errno));
        auto unmount = qScopeGuard([&] { umount(QFile::encodeName(mounted).constData()); });
        startAndList();
        QList<int> indexes;
        for (const QString &name : files)
            indexes << indexOf(name);
        requestDownload(mounted, indexes);
        QTRY_COMPARE(events->errors, expected);
        QTRY_COMPARE(events->canceled, 1);
        QCOMPARE(requestsWithCode(CODE_DOWNLOAD), downloads);
        QVERIFY(QDir(mounted).isEmpty());
    }

    void linksAreReplacedNotWrittenThrough()
    {
        QTemporaryDir outside;
        const QString target = outside.filePath("outside.wav");
        QVERIFY(writeFile(target, "outside the chosen folder"));
        QVERIFY(QFile::link(target, dest->filePath("ZV_0001.WAV")));
        QVERIFY(QFile::link(outside.filePath("missing.wav"), dest->filePath("ZV_0004.MP3"))); // dangling
        // Partial-file names taken by what is not ours: counted names are used.
        QVERIFY(QDir(dest->path()).mkdir("ZV_0001.WAV.part"));
        QVERIFY(QFile::link(target, dest->filePath("ZV_0001.WAV(1).part")));
        QVERIFY(QFile::link(target, dest->filePath("ZV_0004.MP3.part")));
        startAndList();
        QVERIFY(download({indexOf("ZV_0001.WAV"), indexOf("ZV_0004.MP3")}, SaveOverwrite));
        QCOMPARE(readAll(target), QByteArray("outside the chosen folder"));
        QVERIFY(!QFile::exists(outside.filePath("missing.wav")));
        QVERIFY(QFileInfo(dest->filePath("ZV_0001.WAV.part")).isDir());
        QVERIFY(QFileInfo(dest->filePath("ZV_0001.WAV(1).part")).isSymLink());
        QVERIFY(QFileInfo(dest->filePath("ZV_0004.MP3.part")).isSymLink());
        for (const char *name : {"ZV_0001.WAV", "ZV_0004.MP3"}) {
            const QFileInfo written(dest->filePath(name));
            QVERIFY2(!written.isSymLink(), name);
            QVERIFY2(readAll(written.filePath()) == readAll(musicFile(name)), name);
        }
    }

    void writeFailureIsReported()
    {
        // A file size limit makes the fourth 32 KiB write of ZV_0002.WAV short.
        constexpr rlim_t Limit = 100000;
        rlimit saved{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit lowered{Limit, saved.rlim_max};

        startAndList();
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &lowered), 0);
        const bool finished = download({indexOf(LongTake)});
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);

        QVERIFY(!finished);
        QTRY_COMPARE(events->errors, (Errors{{DownloadFileWriteError, 32768, int(Limit - 3 * 32768)}}));
        QTRY_COMPARE(events->canceled, 1);
        QCOMPARE(events->progress.last(), qulonglong(3 * 32768));
    }
};

ZV_TEST_PARTS_MAIN(tst_ZVController)
#include "tst_zvcontroller.moc"
