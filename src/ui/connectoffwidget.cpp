#include "ui/connectoffwidget.h"

#include <QColor>
#include <QLabel>
#include <QPalette>
#include <QPixmap>
#include <QSpacerItem>
#include <QVBoxLayout>

#include "ui/hidpipicture.h"

namespace {
constexpr int ShadeAlpha = 116;
constexpr int TopGap = 120;
constexpr int PictureGap = 30;
const QString SearchingPicture = QStringLiteral(":/images/resource/ZV_08_01_searching.png");
const QString InstructionPicture = QStringLiteral(":/images/resource/ZV_08_02_2.png");
} // namespace

ConnectOffWidget::ConnectOffWidget(QWidget *parent)
    : QFrame(parent)
{
    QPalette shade = palette();
    shade.setBrush(QPalette::All, QPalette::Window, QColor(0, 0, 0, ShadeAlpha));
    setPalette(shade);
    setAutoFillBackground(true);

    auto *layout = new QVBoxLayout(this);

    auto *searching = new QLabel(this);
    searching->setPixmap(HiDpiPicture::pixmap(SearchingPicture));
    searching->setAlignment(Qt::AlignCenter);

    auto *instruction = new QLabel(this);
    instruction->setPixmap(HiDpiPicture::pixmap(InstructionPicture));
    instruction->setAlignment(Qt::AlignCenter);

    layout->addSpacerItem(new QSpacerItem(0, TopGap, QSizePolicy::Fixed, QSizePolicy::Fixed));
    layout->addWidget(searching);
    layout->addSpacerItem(new QSpacerItem(0, PictureGap, QSizePolicy::Fixed, QSizePolicy::Fixed));
    layout->addWidget(instruction);
    layout->addSpacerItem(new QSpacerItem(0, PictureGap, QSizePolicy::Fixed, QSizePolicy::Expanding));
}

void ConnectOffWidget::keepClearOf(QWidget *widget)
{
    QSizePolicy policy = widget->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    widget->setSizePolicy(policy);
    beneath.append(widget);
    if (isVisible())
        widget->hide();
}

void ConnectOffWidget::showEvent(QShowEvent *event)
{
    QFrame::showEvent(event);
    showBeneath(false);
}

void ConnectOffWidget::hideEvent(QHideEvent *event)
{
    QFrame::hideEvent(event);
    showBeneath(true);
}

void ConnectOffWidget::showBeneath(bool shown)
{
    for (QWidget *widget : qAsConst(beneath)) {
        if (widget)
            widget->setVisible(shown);
    }
}
