#ifndef FOCUSMARKSTYLE_H
#define FOCUSMARKSTYLE_H

#include <QProxyStyle>

// The application's style, with a mark around a button or check box that has
// the keyboard focus. Flat picture buttons show none of their own in most
// styles, so the keyboard's place would be invisible.
class FocusMarkStyle : public QProxyStyle
{
    Q_OBJECT
public:
    explicit FocusMarkStyle(QObject *parent = nullptr);

    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget = nullptr) const override;
};

#endif // FOCUSMARKSTYLE_H
