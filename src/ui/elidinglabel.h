#ifndef ELIDINGLABEL_H
#define ELIDINGLABEL_H

#include <QLabel>

// A one-line label for texts of any length (recorder names, error lines): a
// text wider than the label is drawn shortened with an ellipsis (in the
// middle unless told otherwise) and shown whole in the label's tool tip, so
// the label never asks its window for more room. text() stays the whole
// text, and it is always shown as plain text, never as markup.
class ElidingLabel : public QLabel
{
    Q_OBJECT
public:
    explicit ElidingLabel(QWidget *parent = nullptr);

    void setElideMode(Qt::TextElideMode mode);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    // The text as it is drawn at the label's present width.
    QString shownText() const;

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    Qt::TextElideMode elideMode = Qt::ElideMiddle;
};

#endif // ELIDINGLABEL_H
