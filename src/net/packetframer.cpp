#include "net/packetframer.h"

#include <cstring>

#include "protocol/zvcommand.h"

namespace {
// Initial room of the buffer; it grows for larger reads and keeps its
// capacity from one read to the next.
constexpr int BufferReserve = 256 * 1024;
} // namespace

PacketFramer::PacketFramer()
{
    buffer.reserve(BufferReserve);
}

// Turns cut short by the budget leave what they framed at the front of the
// buffer; once that is as much as a full buffer, it goes (the move costs no
// more than the bytes framed meanwhile).
void PacketFramer::startTurn()
{
    packetsThisTurn = 0;
    if (cursor < BufferLimit)
        return;
    const int left = unframedSize();
    std::memmove(buffer.data(), buffer.constData() + cursor, static_cast<size_t>(left));
    buffer.resize(left);
    cursor = 0;
}

void PacketFramer::append(const char *data, int size)
{
    append(size, [data](char *to, int wanted) {
        std::memcpy(to, data, static_cast<size_t>(wanted));
        return qint64(wanted);
    });
}

PacketFramer::Step PacketFramer::next(Packet *packet)
{
    const int left = unframedSize();
    if (left < HEADER_SIZE)
        return Step::NeedHeader;
    if (++packetsThisTurn > MaxPacketsPerTurn)
        return Step::TurnOver;
    const char *start = buffer.constData() + cursor;
    const int length = framedPacketLength(start);
    if (length > left)
        return Step::Divided;
    packet->data = start;
    packet->length = length;
    cursor += length;
    return Step::Packet;
}

// Everything before the cursor was framed in this turn, so the move costs no
// more than the bytes this turn's read brought.
int PacketFramer::keepTail()
{
    const int left = unframedSize();
    if (cursor > 0) {
        if (left > 0)
            std::memmove(buffer.data(), buffer.constData() + cursor, static_cast<size_t>(left));
        buffer.resize(left);
    }
    cursor = 0;
    return left;
}

QByteArray PacketFramer::unframed() const
{
    return buffer.mid(cursor);
}

void PacketFramer::clear()
{
    buffer.resize(0);
    cursor = 0;
    packetsThisTurn = 0;
}
