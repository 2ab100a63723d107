#ifndef DOWNLOADFILEMODEL_H
#define DOWNLOADFILEMODEL_H

#include <QAbstractTableModel>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

class DownloadFileInfo;

// The table behind the main window's file list: one row per entry of the
// recorder's current folder, columns check box, name, date and size. The
// entries belong to the window; the model only keeps pointers to them. The
// check column carries each entry's checked flag as its check state, so the
// view draws and toggles the boxes itself, however many rows there are.
class DownloadFileModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { ColumnCheck = 0, ColumnName, ColumnDate, ColumnSize, ColumnCount };

    explicit DownloadFileModel(QObject *parent = nullptr);
    ~DownloadFileModel() override;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // Refill protocol: clear(), append() each entry, then the caller makes the
    // model emit layoutChanged(). Neither emits anything itself. clear()
    // forgets the marks too.
    void clear();
    void append(DownloadFileInfo *info);

    // Both report the changed check states (dataChanged).
    void setChecked(int row, bool checked);
    bool isChecked(int row) const;
    void setAllChecked(bool checked);
    // Sum of the sizes of every checked entry, folders included.
    qint64 checkedTotalSize() const;
    // Recorder indexes of the checked files (not folders), in row order.
    void checkedFileIndexes(QList<int> &indexes) const;

    // Rows already on this computer: each marked row's tooltip says where
    // (empty: not marked). Replaces every mark and reports the change.
    void setMarks(const QHash<const DownloadFileInfo *, QString> &marks);
    bool isMarked(int row) const { return marks.contains(entries->at(row)); }
    const DownloadFileInfo *entry(int row) const { return entries->at(row); }
    // The first file (not folder) of that name; null when none.
    const DownloadFileInfo *fileNamed(const QString &name) const;
    // Checks exactly the files not marked; the number checked.
    int checkUnmarked();
    // Unchecks the file of that name, if listed.
    void uncheckFile(const QString &name);
    int checkedFolderCount() const;

    QString fileName(const QModelIndex &index) const;
    QDateTime fileDateTime(const QModelIndex &index) const;
    qint64 fileSize(const QModelIndex &index) const;
    bool isFolder(const QModelIndex &index) const;
    int fileIndex(const QModelIndex &index) const;

    // "0", "1 KB" for 1..1023 bytes, else whole KiB with thousands separators.
    static QString sizeText(qint64 size);

private:
    QList<DownloadFileInfo *> *entries;
    QHash<const DownloadFileInfo *, QString> marks;
};

#endif // DOWNLOADFILEMODEL_H
