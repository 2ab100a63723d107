// File-detail decoding: the input is the payload of a code 0x23 reply, sent
// over loopback to a real controller (on this thread). Each reply must give
// exactly one outcome: the four big-endian fields of a 16-byte payload with a
// known format, error 9 with an unknown format, error 8 with any other size.
#include <QtEndian>

#include "fuzzsupport.h"
#include "protocol/zvcommand.h"
#include "recorder/zvcontroller.h"

using namespace fuzz;

namespace {

class Harness : public QObject
{
public:
    Harness()
        : peer(ZV_FUZZ_ADDRESS)
    {
        connect(&controller, &ZVController::getFileDetailFinished, this,
                [this](ZVFileFormat format, uint sample, uint bits, uint fs) {
                    outcomes << QList<quint32>{0xFFFF, quint32(format), sample, bits, fs};
                });
        connect(&controller, &ZVController::error, this, [this](AppErrorCode code, int param, int param2) {
            outcomes << QList<quint32>{quint32(code), quint32(param), quint32(param2)};
        });
        connect(&controller, &ZVController::networkConnected, this, [this] { connected = true; });
        controller.setSSID(peer.address());
        controller.doWork();
        peer.waitForPeer();
        waitFor([this] { return connected; }, "the controller's connection");
    }

    void run(const QByteArray &payload)
    {
        outcomes.clear();
        peer.send(commandPacket(CODE_FILE_DETAIL_DATA, payload));
        waitFor([this] { return !outcomes.isEmpty(); }, "the detail outcome");
        check(outcomes.size() == 1, "more than one outcome for one reply");

        QList<quint32> want;
        const auto word = [&payload](int at) { return qFromBigEndian<quint32>(payload.constData() + at); };
        if (payload.size() != DETAIL_PAYLOAD_SIZE)
            want = {quint32(FileDetailIllegalPacketSize), quint32(payload.size()), 0};
        else if (word(0) < 1 || word(0) > 3)
            want = {quint32(FileDetailUnknownFileFormat), word(0), 0};
        else
            want = {0xFFFF, word(0), word(4), word(8), word(12)};
        check(outcomes.first() == want, "detail outcome");
    }

private:
    LoopbackPeer peer;
    ZVController controller;
    bool connected = false;
    QList<QList<quint32>> outcomes;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    initApplication();
    static Harness *harness = new Harness;
    harness->run(QByteArray(reinterpret_cast<const char *>(data), int(qMin<size_t>(size, MAX_PAYLOAD_SIZE))));
    return 0;
}
