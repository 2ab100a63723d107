#ifndef CONNECTOFFWIDGET_H
#define CONNECTOFFWIDGET_H

#include <QFrame>
#include <QList>
#include <QPointer>

// Translucent panel laid over the window's working area while no recorder is
// connected: dims and blocks what is beneath and shows the searching
// pictogram with the instructions below it.
class ConnectOffWidget : public QFrame
{
    Q_OBJECT
public:
    explicit ConnectOffWidget(QWidget *parent = nullptr);

    // A widget beneath that the pictures must not be drawn over (texts under
    // the white instructions would be unreadable): it is hidden while the
    // panel shows, and keeps its place meanwhile.
    void keepClearOf(QWidget *widget);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void showBeneath(bool shown);

    QList<QPointer<QWidget>> beneath;
};

#endif // CONNECTOFFWIDGET_H
