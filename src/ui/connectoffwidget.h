#ifndef CONNECTOFFWIDGET_H
#define CONNECTOFFWIDGET_H

#include <QFrame>

// Translucent panel laid over the window's working area while no recorder is
// connected: dims and blocks what is beneath and shows the searching
// pictogram with the instructions below it.
class ConnectOffWidget : public QFrame
{
    Q_OBJECT
public:
    explicit ConnectOffWidget(QWidget *parent = nullptr);
};

#endif // CONNECTOFFWIDGET_H
