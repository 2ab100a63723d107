#ifndef PACKETFRAMER_H
#define PACKETFRAMER_H

#include <QByteArray>
#include <QtGlobal>

// Cuts a received byte stream into whole packets. Bytes go in at the end of
// one buffer; packets come out of it in place, through a cursor, at most
// MaxPacketsPerTurn of them per turn, and only the unframed tail is ever
// moved. A packet handed out stays where it is until the next append() or
// keepTail().
class PacketFramer
{
public:
    // Most packets framed in one turn of the event loop; the rest of the
    // received bytes is framed in the next turn, so timers, cancels and
    // quitting get through while a recorder floods the link.
    static constexpr int MaxPacketsPerTurn = 512;
    // Most unframed bytes held; the rest waits in the system (and TCP slows
    // the sender) until these are framed.
    static constexpr int BufferLimit = 1024 * 1024;

    enum class Step {
        Packet,     // a whole packet, handed out
        Divided,    // a whole header, but its packet goes on past the bytes received
        NeedHeader, // fewer bytes left than a header (perhaps none)
        TurnOver,   // the turn's budget is spent; the rest waits for the next turn
    };

    struct Packet
    {
        const char *data = nullptr;
        int length = 0;
    };

    PacketFramer();

    // Starts a turn: a new budget, and the bytes framed in earlier turns
    // dropped once there are as many as a full buffer of them.
    void startTurn();

    // Bytes the buffer still takes before it holds BufferLimit unframed ones.
    int room() const { return BufferLimit - unframedSize(); }

    // Appends up to `wanted` bytes that read(destination, wanted) writes;
    // returns what read() returned (a negative count appends nothing).
    template<typename Read>
    qint64 append(int wanted, Read &&read)
    {
        const int size = buffer.size();
        buffer.resize(size + wanted);
        const qint64 got = read(buffer.data() + size, wanted);
        buffer.resize(size + static_cast<int>(qBound(qint64(0), got, qint64(wanted))));
        return got;
    }
    void append(const char *data, int size);

    // The next packet of this turn, if whole and within the budget.
    Step next(Packet *packet);

    // Ends a turn that framed all it could: the unframed tail moves to the
    // front of the buffer. Returns the tail's size.
    int keepTail();

    // The bytes not yet framed.
    QByteArray unframed() const;
    int unframedSize() const { return buffer.size() - cursor; }

    // Forgets every byte, for a new stream.
    void clear();

private:
    QByteArray buffer;
    int cursor = 0; // start of the first byte not framed yet
    int packetsThisTurn = 0;
};

#endif // PACKETFRAMER_H
