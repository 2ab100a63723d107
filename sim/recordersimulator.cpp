#include "sim/recordersimulator.h"

#include <QDir>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include "sim/badmagicflood.h"
#include "sim/simlogging.h"
#include "sim/simulatorsession.h"

RecorderSimulator::RecorderSimulator(QObject *parent)
    : QObject(parent)
    , server(new QTcpServer(this))
{
    connect(server, &QTcpServer::newConnection, this, &RecorderSimulator::acceptConnections);
}

RecorderSimulator::~RecorderSimulator()
{
    // The session goes first: its socket must not outlive the trees it reads.
    delete session;
    qDeleteAll(waiting);
}

void RecorderSimulator::setMusicRoot(const QString &directory)
{
    musicTree.setRoot(QDir(directory).absolutePath());
}

void RecorderSimulator::setMtrRoot(const QString &directory)
{
    mtrTree.setRoot(QDir(directory).absolutePath());
}

bool RecorderSimulator::useDemoTrees(const QString &directory, const DemoTree::Options &options)
{
    QString base = directory;
    if (base.isEmpty()) {
        scratch = std::make_unique<QTemporaryDir>();
        if (!scratch->isValid()) {
            qCWarning(lcSim) << "sim: cannot create a scratch directory:" << scratch->errorString();
            return false;
        }
        base = scratch->path();
    }
    DemoTree demo;
    if (!demo.generate(base, options))
        return false;
    musicTree.setRoot(demo.musicRoot());
    mtrTree.setRoot(demo.mtrRoot());
    return true;
}

QString RecorderSimulator::musicRoot() const
{
    return musicTree.root();
}

QString RecorderSimulator::mtrRoot() const
{
    return mtrTree.root();
}

bool RecorderSimulator::listen(const QHostAddress &address, quint16 port)
{
    if (!server->listen(address, port)) {
        qCWarning(lcSim).noquote() << "sim: cannot listen on" << address.toString() << port << ':'
                                   << server->errorString();
        return false;
    }
    return true;
}

void RecorderSimulator::close()
{
    server->close();
    for (QTcpSocket *socket : qAsConst(waiting))
        socket->abort();
    disconnectClient();
}

bool RecorderSimulator::isListening() const
{
    return server->isListening();
}

QHostAddress RecorderSimulator::serverAddress() const
{
    return server->serverAddress();
}

quint16 RecorderSimulator::serverPort() const
{
    return server->serverPort();
}

bool RecorderSimulator::hasClient() const
{
    return !session.isNull();
}

void RecorderSimulator::disconnectClient()
{
    if (session)
        session->disconnectClient();
}

void RecorderSimulator::notifyListingChanged()
{
    if (session)
        session->notifyListingChanged();
}

void RecorderSimulator::sendToClient(const QByteArray &bytes)
{
    if (session)
        session->sendRaw(bytes);
}

void RecorderSimulator::acceptConnections()
{
    while (QTcpSocket *socket = server->nextPendingConnection()) {
        if (!session) {
            serve(socket);
            continue;
        }
        qCInfo(lcSim).noquote() << "sim: holding a connection from port" << socket->peerPort()
                                << "until the served one ends";
        waiting.append(socket);
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            if (waiting.removeOne(socket))
                socket->deleteLater();
        });
        emit connectionHeld();
    }
}

void RecorderSimulator::serve(QTcpSocket *socket)
{
    socket->disconnect(this);
    qCInfo(lcSim).noquote() << "sim: client connected from" << socket->peerAddress().toString() << "port"
                            << socket->peerPort();
    session = new SimulatorSession(socket, &config, &musicTree, &mtrTree, &mode, this);
    connect(session, &SimulatorSession::requestReceived, this, &RecorderSimulator::requestReceived);
    connect(session, &SimulatorSession::downloadStarted, this, &RecorderSimulator::downloadStarted);
    connect(session, &SimulatorSession::downloadFinished, this, &RecorderSimulator::downloadFinished);
    connect(session, &SimulatorSession::downloadCanceled, this, &RecorderSimulator::downloadCanceled);
    connect(session, &SimulatorSession::connectionDropped, this, &RecorderSimulator::connectionDropped);
    SimulatorSession *current = session;
    connect(session, &SimulatorSession::finished, this, [this, current] {
        qCInfo(lcSim) << "sim: client disconnected";
        if (session == current)
            session.clear();
        current->deleteLater();
        emit clientDisconnected();
        serveNextWaiting();
    });
    if (config.floodBadMagic)
        new BadMagicFlood(socket);
    emit clientConnected();
}

void RecorderSimulator::serveNextWaiting()
{
    while (!session && !waiting.isEmpty()) {
        QTcpSocket *socket = waiting.takeFirst();
        if (socket->state() == QAbstractSocket::ConnectedState)
            serve(socket);
        else
            socket->deleteLater();
    }
}

void RecorderSimulator::setRecordMode(int recordMode)
{
    mode = recordMode == 1 ? 1 : 0;
}

void RecorderSimulator::setMaxListPayload(int bytes)
{
    config.maxListPayload = qBound(1, bytes, SimulatorSettings::MaxChunkSize);
}

void RecorderSimulator::setChunkSize(int bytes)
{
    if (bytes < 1 || bytes > SimulatorSettings::MaxChunkSize)
        qCWarning(lcSim) << "sim: chunk size" << bytes << "out of 1 .." << SimulatorSettings::MaxChunkSize
                         << "; clamped";
    config.chunkSize = qBound(1, bytes, SimulatorSettings::MaxChunkSize);
}

void RecorderSimulator::setSendWindow(qint64 bytes)
{
    config.sendWindow = qMax(bytes, SimulatorSettings::MinSendWindow);
}

void RecorderSimulator::setLogExchanges(bool on)
{
    config.logExchanges = on;
}

void RecorderSimulator::setPacketSplit(int pieceBytes, int pauseMs)
{
    config.splitBytes = qMax(0, pieceBytes);
    config.splitPauseMs = qMax(0, pauseMs);
}

void RecorderSimulator::setThrottle(qint64 bytesPerSecond)
{
    config.throttleBytesPerSecond = qMax<qint64>(0, bytesPerSecond);
}

void RecorderSimulator::setCorruptCheckAt(int packet)
{
    config.corruptCheckAt = packet;
}

void RecorderSimulator::setWrongOffsetAt(int packet)
{
    config.wrongOffsetAt = packet;
}

void RecorderSimulator::setWrongLengthAt(int packet)
{
    config.wrongLengthAt = packet;
}

void RecorderSimulator::setExtraBytes(qint64 bytes)
{
    config.extraBytes = qMax<qint64>(0, bytes);
}

void RecorderSimulator::setListSequenceFault(bool on, bool everyListing)
{
    config.listSequenceFault = on;
    config.listSequenceEveryListing = on && everyListing;
}

void RecorderSimulator::setForeignPackets(bool on)
{
    config.foreignPackets = on;
}

void RecorderSimulator::setDropAfter(qint64 bytes, DropMode dropMode, bool everySession)
{
    config.dropAfterBytes = bytes < 0 ? -1 : bytes;
    config.dropMode = dropMode;
    config.dropEverySession = everySession;
    config.dropSpent = false;
}

void RecorderSimulator::setUnanswered(int request, bool on)
{
    if (on)
        config.unanswered.insert(request);
    else
        config.unanswered.remove(request);
}

void RecorderSimulator::setHostileNames(bool on)
{
    config.hostileNames = on;
}

void RecorderSimulator::setListSurplus(int entries)
{
    config.listSurplus = qMax(0, entries);
}

void RecorderSimulator::setLongNames(int units)
{
    config.longNameUnits = qBound(0, units, SimulatorSettings::MaxNameUnits);
}

void RecorderSimulator::setFloodBadMagic(bool on)
{
    config.floodBadMagic = on;
}

void RecorderSimulator::clearFaults()
{
    SimulatorSettings fresh;
    fresh.maxListPayload = config.maxListPayload;
    fresh.chunkSize = config.chunkSize;
    fresh.sendWindow = config.sendWindow;
    fresh.logExchanges = config.logExchanges;
    config = fresh;
}
