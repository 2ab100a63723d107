#ifndef BADMAGICFLOOD_H
#define BADMAGICFLOOD_H

#include <QByteArray>
#include <QObject>

class QTcpSocket;

// The flood fault: keeps a client's socket full of 14-byte packets without the
// "ZV" mark for as long as the connection lasts. Only a bounded amount waits
// in the socket at any time; more follows as the client reads.
class BadMagicFlood : public QObject
{
    Q_OBJECT
public:
    // Lives as a child of `socket` and ends with it.
    explicit BadMagicFlood(QTcpSocket *socket);

private slots:
    void fill();

private:
    QTcpSocket *socket;
    QByteArray batch;
};

#endif // BADMAGICFLOOD_H
