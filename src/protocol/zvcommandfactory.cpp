#include "protocol/zvcommandfactory.h"

#include <QtEndian>

#include "protocol/zvcommand.h"

ZVCommandFactory::ZVCommandFactory(QObject *parent)
    : QObject(parent)
{
}

QByteArray ZVCommandFactory::createRequest(quint8 kind, quint8 code, quint16 param)
{
    QByteArray packet(HEADER_SIZE, '\0');
    char *bytes = packet.data();
    bytes[0] = MAGIC_0;
    bytes[1] = MAGIC_1;
    bytes[KIND_OFFSET] = static_cast<char>(kind);
    bytes[FLAGS_OFFSET] = static_cast<char>(REQUEST_FLAGS);
    bytes[CODE_OFFSET] = static_cast<char>(code);
    qToBigEndian<quint16>(param, bytes + PARAM_OFFSET);
    return packet;
}

QByteArray ZVCommandFactory::createFileListRequest()
{
    return createRequest(KIND_COMMAND, CODE_FILE_LIST, 0);
}

QByteArray ZVCommandFactory::createMoveFolderRequest(qint16 index)
{
    return createRequest(KIND_COMMAND, CODE_MOVE_FOLDER, static_cast<quint16>(index));
}

QByteArray ZVCommandFactory::createFileDetailRequest(qint16 index)
{
    return createRequest(KIND_COMMAND, CODE_FILE_DETAIL, static_cast<quint16>(index));
}

QByteArray ZVCommandFactory::createFileDetailResultRequest()
{
    return createRequest(KIND_COMMAND, CODE_FILE_DETAIL_RESULT, 0);
}

QByteArray ZVCommandFactory::createDownloadRequest(qint16 index)
{
    return createRequest(KIND_COMMAND, CODE_DOWNLOAD, static_cast<quint16>(index));
}

QByteArray ZVCommandFactory::createCancelDownloadRequest()
{
    return createRequest(KIND_COMMAND, CODE_CANCEL_DOWNLOAD, 0);
}

QByteArray ZVCommandFactory::createRecordModeRequest(quint8 mode)
{
    // Status item 0 (record mode) in bytes 4-5, the mode in byte 7.
    return createRequest(KIND_STATUS, 0, mode);
}
