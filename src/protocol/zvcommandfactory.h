#ifndef ZVCOMMANDFACTORY_H
#define ZVCOMMANDFACTORY_H

#include <QByteArray>
#include <QObject>

// Builds every request sent to the recorder: 14 bytes, no payload. No other
// class writes packet bytes.
class ZVCommandFactory : public QObject
{
    Q_OBJECT
public:
    explicit ZVCommandFactory(QObject *parent = nullptr);

    static QByteArray createFileListRequest();
    static QByteArray createMoveFolderRequest(qint16 index);
    static QByteArray createFileDetailRequest(qint16 index);
    static QByteArray createFileDetailResultRequest();
    static QByteArray createDownloadRequest(qint16 index);
    static QByteArray createCancelDownloadRequest();
    static QByteArray createRecordModeRequest(quint8 mode);

private:
    static QByteArray createRequest(quint8 kind, quint8 code, quint16 param);
};

#endif // ZVCOMMANDFACTORY_H
