#include "ui/focusmarkstyle.h"

#include <QPainter>
#include <QPen>
#include <QStyleOption>

namespace {
constexpr int MarkWidth = 2;
} // namespace

FocusMarkStyle::FocusMarkStyle(QObject *parent)
    : QProxyStyle()
{
    // A proxy without a base style of its own follows the application's;
    // the parent only owns it.
    setParent(parent);
}

void FocusMarkStyle::drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                                 const QWidget *widget) const
{
    QProxyStyle::drawControl(element, option, painter, widget);
    if (!(option->state & State_HasFocus) || (element != CE_PushButton && element != CE_CheckBox))
        return;
    QRect mark = element == CE_CheckBox ? subElementRect(SE_CheckBoxIndicator, option, widget) : option->rect;
    mark.adjust(MarkWidth / 2, MarkWidth / 2, -MarkWidth / 2, -MarkWidth / 2);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(QPen(option->palette.color(QPalette::Active, QPalette::Highlight), MarkWidth));
    painter->setBrush(Qt::NoBrush);
    painter->drawRoundedRect(mark, MarkWidth, MarkWidth);
    painter->restore();
}
