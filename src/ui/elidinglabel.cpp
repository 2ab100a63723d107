#include "ui/elidinglabel.h"

#include <QHelpEvent>
#include <QPainter>
#include <QStyle>
#include <QToolTip>

namespace {
// One line: a line break in a name must not forge a second line.
QString oneLine(QString text)
{
    for (QChar &c : text) {
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar::LineSeparator
            || c == QChar::ParagraphSeparator)
            c = QLatin1Char(' ');
    }
    return text;
}
} // namespace

ElidingLabel::ElidingLabel(QWidget *parent)
    : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
}

void ElidingLabel::setElideMode(Qt::TextElideMode mode)
{
    elideMode = mode;
    update();
}

QSize ElidingLabel::sizeHint() const
{
    const QMargins margins = contentsMargins();
    return QSize(fontMetrics().horizontalAdvance(oneLine(text())) + margins.left() + margins.right() + 2 * margin(),
                 fontMetrics().height() + margins.top() + margins.bottom() + 2 * margin());
}

QSize ElidingLabel::minimumSizeHint() const
{
    // As narrow as an ellipsis.
    const QMargins margins = contentsMargins();
    return QSize(fontMetrics().horizontalAdvance(QChar(0x2026)) + margins.left() + margins.right() + 2 * margin(),
                 fontMetrics().height() + margins.top() + margins.bottom() + 2 * margin());
}

QString ElidingLabel::shownText() const
{
    const int width = contentsRect().width() - 2 * margin();
    return fontMetrics().elidedText(oneLine(text()), elideMode, qMax(0, width));
}

bool ElidingLabel::event(QEvent *event)
{
    if (event->type() != QEvent::ToolTip || !toolTip().isEmpty())
        return QLabel::event(event);
    // The whole text, where it is cut; escaped, so markup stays letters.
    const QString whole = oneLine(text());
    if (shownText() == whole)
        QToolTip::hideText();
    else
        QToolTip::showText(static_cast<QHelpEvent *>(event)->globalPos(),
                           QStringLiteral("<qt>%1</qt>").arg(whole.toHtmlEscaped()), this);
    return true;
}

void ElidingLabel::paintEvent(QPaintEvent *event)
{
    Q_UNUSED(event)
    QPainter painter(this);
    drawFrame(&painter);
    const QRect area = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    const int flags = QStyle::visualAlignment(layoutDirection(), alignment()) | Qt::TextSingleLine;
    style()->drawItemText(&painter, area, flags, palette(), isEnabled(), shownText(), foregroundRole());
}
