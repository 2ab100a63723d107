#ifndef CHECKBOXDELEGATE_H
#define CHECKBOXDELEGATE_H

#include <QStyledItemDelegate>

// Draws a cell's check state (Qt::CheckStateRole) as a check box centred in
// the cell, and toggles it with a left click anywhere in the cell. The press
// is taken by the box, so clicking it never selects the row. Cells of a large
// table cost nothing until they are painted (no widget per row).
class CheckBoxDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    explicit CheckBoxDelegate(QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

protected:
    bool editorEvent(QEvent *event, QAbstractItemModel *model, const QStyleOptionViewItem &option,
                     const QModelIndex &index) override;
};

#endif // CHECKBOXDELEGATE_H
