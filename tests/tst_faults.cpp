// A broken or hostile recorder: dropped links mid-listing and mid-download, a
// folder that vanishes while it is written, and the largest folder the
// protocol can list.
#include <QtTest>

#include "controllerfixture.h"
#include "recorder/zvdownloadqueue.h"
#include "testparts.h"

class tst_Faults : public ControllerFixture
{
    Q_OBJECT
private slots:
    void init() { QVERIFY(setUpFixture()); }

    void cleanup() { tearDownFixture(); }

    void droppedLinkRecovers_data()
    {
        QTest::addColumn<int>("dropMode");
        QTest::addRow("fin") << int(RecorderSimulator::DropMode::Close);
        QTest::addRow("rst") << int(RecorderSimulator::DropMode::Reset);
    }

    // The recorder goes away in the middle of a listing: the user is told, and
    // the next poll connects and lists again.
    void droppedLinkRecovers()
    {
        QFETCH(int, dropMode);
        sim->setDropAfter(100, RecorderSimulator::DropMode(dropMode)); // inside the first listing
        startController();
        QTRY_VERIFY_WITH_TIMEOUT(!events->errors.isEmpty(), 5000);
        QCOMPARE(events->errors.first().code, NetworkSocketError);
        QVERIFY(events->errors.first().param1 == int(QAbstractSocket::RemoteHostClosedError)
                || events->errors.first().param1 == int(QAbstractSocket::NetworkError));
        const int listings = events->listed.size();
        QTRY_VERIFY_WITH_TIMEOUT(events->listed.size() > listings, ZVController::PollIntervalMs + 4000);
        QVERIFY(events->entries.contains("ZV_0001.WAV"));
    }

    void lostLinkEndsTheDownloadForGood_data()
    {
        QTest::addColumn<bool>("weDrop"); // the window's watchdog, not the recorder
        QTest::addRow("recorder-closes") << false;
        QTest::addRow("we-drop") << true;
    }

    // A relist in the middle of a download lets the file in flight complete and
    // the next one wait for the new listing; the link goes meanwhile. The
    // download ends then and there (E16: two files not downloaded), and the
    // listing of the next connection does not take it up again.
    void lostLinkEndsTheDownloadForGood()
    {
        QFETCH(bool, weDrop);
        QVERIFY(serveThreeSlowly());
        startAndList();
        requestDownload(dest->path(), {indexOf("A.WAV"), indexOf("B.WAV"), indexOf("C.WAV")});
        QTRY_VERIFY(!events->progress.isEmpty());
        sim->setUnanswered(CODE_FILE_LIST); // the new listing never comes on this link
        sim->notifyListingChanged();
        QTRY_VERIFY_WITH_TIMEOUT(requestsWithCode(CODE_FILE_LIST) == 2 && QFile::exists(dest->filePath("A.WAV")), 5000);
        QVERIFY(readAll(dest->filePath("A.WAV")) == readAll(tree->filePath("A.WAV")));

        const int polls = events->closed.size();
        if (weDrop)
            QMetaObject::invokeMethod(controller, "requestDisconnect");
        else
            sim->disconnectClient();
        QTRY_COMPARE(events->canceled, 1);
        QCOMPARE(events->closed.size(), polls); // ended when the link went, not at the next poll
        // Told of the download's end, and of the link when the recorder closed it.
        Errors told{{DownloadLinkLost, 2, 0}};
        if (!weDrop)
            told.prepend({NetworkSocketError, int(QAbstractSocket::RemoteHostClosedError), 0});
        QCOMPARE(events->errors, told);

        sim->setUnanswered(CODE_FILE_LIST, false);
        QMetaObject::invokeMethod(controller, "pollingConnection"); // the next poll, without its wait
        waitForListing();
        QTest::qWait(int(ZVDownloadQueue::PauseBetweenFilesMs) + 300);
        QCOMPARE(requestsWithCode(CODE_DOWNLOAD), 1);
        QCOMPARE(requestsWithCode(CODE_CANCEL_DOWNLOAD), 0);
        QCOMPARE(events->finished, 0);
        QCOMPARE(events->canceled, 1);
        QCOMPARE(QDir(dest->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"A.WAV"});
    }

    void folderRemovedWhileWriting()
    {
        sim->setThrottle(2 * 1024 * 1024);
        const QString folder = dest->filePath("takes");
        QVERIFY(QDir().mkpath(folder));
        startAndList();
        requestDownload(folder, {indexOf("ZV_0002.WAV")});
        QTRY_VERIFY(!events->progress.isEmpty());
        QVERIFY(QDir(folder).removeRecursively());
        // Completed into a file nobody can reach is a write failure, not success.
        const int size = int(readAll(musicFile("ZV_0002.WAV")).size());
        QTRY_COMPARE_WITH_TIMEOUT(events->errors, (Errors{{DownloadFileWriteError, size, -1}}), 10000);
        QCOMPARE(events->finished, 0);
    }

    void largestFolder()
    {
        // The largest folder the 16-bit count can announce, made in the tree the
        // simulator serves only where it is needed (it takes a while).
        DemoTree::Options options;
        options.manyFiles = 65535;
        QVERIFY(RecorderSimulator().useDemoTrees(demo.path(), options));
        startAndList();
        QMetaObject::invokeMethod(controller, "requestMoveFolder", Q_ARG(int, indexOf(DemoTree::manyFolderName())));
        waitForListing(30000);
        QCOMPARE(controller->getFileCount(), 65535);
        QVERIFY(events->errors.isEmpty());
        // Files past 32 768 share 15-bit indexes with earlier ones; a download by
        // index takes the later entry, as the recorder does.
        QVERIFY(download({indexOf(DemoTree::manyFileName(65535))}));
        QCOMPARE(events->started.first().first, DemoTree::manyFileName(65535));
    }
};

ZV_TEST_PARTS_MAIN(tst_Faults)
#include "tst_faults.moc"
