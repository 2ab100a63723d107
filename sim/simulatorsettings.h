#ifndef SIMULATORSETTINGS_H
#define SIMULATORSETTINGS_H

#include <QSet>
#include <QtGlobal>

// What the simulator does and which faults it injects. RecorderSimulator owns
// the one instance; the session reads it at every decision, so a change made
// while a client is connected applies from the next packet on.
struct SimulatorSettings
{
    // How the "drop after N bytes" fault ends the conversation.
    enum class DropMode {
        Reset,  // flush, then close with a zero linger time: the peer sees RST
        Close,  // orderly close after the queued bytes: the peer sees FIN
        Silent, // send nothing more, keep the socket open and keep reading
    };

    // Key of the record-mode request (kind 0x30) in `unanswered`; requests of
    // kind 0x40 use their command code 0x00..0xFF.
    static constexpr int RecordModeRequest = 0x100;

    static constexpr int DefaultListPayload = 4096;
    static constexpr int DefaultChunkSize = 32 * 1024;
    // 14 + 65521 = 65535, the longest packet the client's framing can hold.
    static constexpr int MaxChunkSize = 65521;
    static constexpr qint64 DefaultSendWindow = 2 * 1024 * 1024;
    static constexpr qint64 MinSendWindow = 1024;
    // Longest name whose entry still fits one listing packet.
    static constexpr int MaxNameUnits = (MaxChunkSize - 12) / 2;

    int maxListPayload = DefaultListPayload;
    int chunkSize = DefaultChunkSize;
    // Most bytes kept queued towards the socket while a download runs; more
    // data is produced as the socket drains below it.
    qint64 sendWindow = DefaultSendWindow;
    bool logExchanges = false;

    // Fault injection; every fault is off by default.
    int splitBytes = 0;                // > 0: each packet goes out in pieces of this size
    int splitPauseMs = 0;              // pause between two pieces
    qint64 throttleBytesPerSecond = 0; // > 0: rate limit of everything sent
    int corruptCheckAt = -1;           // data packet number (from 0 in each download)
    int wrongOffsetAt = -1;
    int wrongLengthAt = -1;
    qint64 extraBytes = 0;                 // sent after a file's listed size
    bool listSequenceFault = false;        // first listing of a session numbered from 1
    bool listSequenceEveryListing = false; // with listSequenceFault: every listing
    bool foreignPackets = false;           // kind 0x77 and code 0x7E before each answer
    qint64 dropAfterBytes = -1;            // >= 0: drop once this many bytes went out
    DropMode dropMode = DropMode::Reset;
    bool dropEverySession = false; // otherwise the drop fires once
    bool dropSpent = false;        // the one-shot drop has fired
    QSet<int> unanswered;          // requests dropped without an answer
    bool hostileNames = false;
    int listSurplus = 0;        // entries sent beyond the total each listing announces
    int longNameUnits = 0;      // > 0: every listed file name lengthened to this many UTF-16 units
    bool floodBadMagic = false; // packets without the "ZV" mark, without end

    bool shapesTraffic() const { return splitBytes > 0 || throttleBytesPerSecond > 0; }
    bool dropArmed() const { return dropAfterBytes >= 0 && (dropEverySession || !dropSpent); }
};

#endif // SIMULATORSETTINGS_H
