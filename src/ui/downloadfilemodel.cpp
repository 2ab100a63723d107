#include "ui/downloadfilemodel.h"

#include <QBrush>
#include <QColor>
#include <QLocale>
#include <QPixmap>
#include <QSize>
#include <algorithm>

#include "base/downloadfileinfo.h"
#include "ui/filetypepicture.h"
#include "ui/hidpipicture.h"
#include "ui/translationloader.h"

namespace {
const char *const HeaderTexts[DownloadFileModel::ColumnCount] = {
    "",
    QT_TRANSLATE_NOOP("DownloadFileModel", "Name"),
    QT_TRANSLATE_NOOP("DownloadFileModel", "Date"),
    QT_TRANSLATE_NOOP("DownloadFileModel", "Size"),
};
constexpr int HeaderWidths[DownloadFileModel::ColumnCount] = {32, 300, 140, 100};
constexpr int HeaderHeight = 24;
constexpr int Alignments[DownloadFileModel::ColumnCount] = {
    Qt::AlignHCenter | Qt::AlignVCenter,
    Qt::AlignLeft | Qt::AlignVCenter,
    Qt::AlignLeft | Qt::AlignVCenter,
    Qt::AlignRight | Qt::AlignVCenter,
};

const QString FolderIcon = QStringLiteral(":/images/resource/ZV_09.png");

constexpr qint64 BytesPerKiB = 1024;

// Rows already on this computer: a light green, readable under the text and
// the selection alike.
const QColor MarkedRowColor(0xDD, 0xF2, 0xDD);

QVariant iconOrNothing(const QPixmap &icon)
{
    return icon.isNull() ? QVariant() : QVariant(icon);
}

// Folders come first in both orders; otherwise the column's key decides.
bool lessThan(const DownloadFileInfo *a, const DownloadFileInfo *b, int column, Qt::SortOrder order)
{
    if (a->isFolder != b->isFolder)
        return a->isFolder;
    const bool ascending = order == Qt::AscendingOrder;
    switch (column) {
    case DownloadFileModel::ColumnName:
        return ascending ? a->name < b->name : b->name < a->name;
    case DownloadFileModel::ColumnDate:
        return ascending ? a->dateTime < b->dateTime : b->dateTime < a->dateTime;
    case DownloadFileModel::ColumnSize:
        return ascending ? a->size < b->size : a->size > b->size;
    default:
        return false;
    }
}
} // namespace

DownloadFileModel::DownloadFileModel(QObject *parent)
    : QAbstractTableModel(parent)
    , entries(new QList<DownloadFileInfo *>)
{
}

DownloadFileModel::~DownloadFileModel()
{
    delete entries;
}

int DownloadFileModel::rowCount(const QModelIndex &parent) const
{
    // A table has no children below its rows.
    if (parent.isValid())
        return 0;
    return entries->size();
}

int DownloadFileModel::columnCount(const QModelIndex &parent) const
{
    if (parent.isValid())
        return 0;
    return ColumnCount;
}

QString DownloadFileModel::sizeText(qint64 size)
{
    if (size == 0)
        return QStringLiteral("0");
    const qint64 kib = size / BytesPerKiB;
    if (kib == 0)
        return tr("%1 KB").arg(1);
    return tr("%1 KB").arg(TranslationLoader::sizeLocale().toString(kib));
}

QVariant DownloadFileModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= entries->size() || index.column() >= ColumnCount)
        return QVariant();
    const DownloadFileInfo *info = entries->at(index.row());
    const int column = index.column();

    switch (role) {
    case Qt::TextAlignmentRole:
        return Alignments[column];
    case Qt::ToolTipRole:
        return marks.value(info);
    case Qt::BackgroundRole:
        return marks.contains(info) ? QVariant(QBrush(MarkedRowColor)) : QVariant();
    case Qt::CheckStateRole:
        if (column != ColumnCheck)
            return QVariant();
        return info->checked ? Qt::Checked : Qt::Unchecked;
    case Qt::DecorationRole:
        if (column != ColumnName)
            return QVariant();
        if (info->isFolder)
            return HiDpiPicture::pixmap(FolderIcon);
        return iconOrNothing(FileTypePicture::tableIcon(info->name));
    case Qt::DisplayRole:
        switch (column) {
        case ColumnName:
            return info->name;
        case ColumnDate:
            return info->isFolder ? QVariant() : QVariant(info->dateTime);
        case ColumnSize:
            return info->isFolder ? QVariant() : QVariant(sizeText(info->size));
        default:
            return QVariant();
        }
    default:
        return QVariant();
    }
}

QVariant DownloadFileModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (section < 0 || section >= ColumnCount)
        return QVariant();
    if (role == Qt::SizeHintRole)
        return QSize(HeaderWidths[section], HeaderHeight);
    if (role == Qt::DisplayRole && orientation == Qt::Horizontal)
        return section == ColumnCheck ? QString() : tr(HeaderTexts[section]);
    return QVariant();
}

bool DownloadFileModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::CheckStateRole || !index.isValid() || index.column() != ColumnCheck
        || index.row() >= entries->size())
        return false;
    setChecked(index.row(), value.toInt() == Qt::Checked);
    return true;
}

Qt::ItemFlags DownloadFileModel::flags(const QModelIndex &index) const
{
    // The invisible root is no item.
    if (!index.isValid())
        return Qt::NoItemFlags;
    if (index.column() == ColumnCheck)
        return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsUserCheckable;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled;
}

void DownloadFileModel::sort(int column, Qt::SortOrder order)
{
    if (column <= ColumnCheck || column >= ColumnCount)
        return;
    emit layoutAboutToBeChanged();
    std::sort(entries->begin(), entries->end(), [column, order](const DownloadFileInfo *a, const DownloadFileInfo *b) {
        return lessThan(a, b, column, order);
    });
    emit layoutChanged();
}

void DownloadFileModel::clear()
{
    entries->clear();
    marks.clear();
}

void DownloadFileModel::setMarks(const QHash<const DownloadFileInfo *, QString> &newMarks)
{
    marks = newMarks;
    if (!entries->isEmpty())
        emit dataChanged(index(0, 0), index(entries->size() - 1, ColumnCount - 1),
                         {Qt::ToolTipRole, Qt::BackgroundRole});
}

const DownloadFileInfo *DownloadFileModel::fileNamed(const QString &name) const
{
    for (const DownloadFileInfo *info : qAsConst(*entries)) {
        if (!info->isFolder && info->name == name)
            return info;
    }
    return nullptr;
}

int DownloadFileModel::checkUnmarked()
{
    int checked = 0;
    for (DownloadFileInfo *info : qAsConst(*entries)) {
        info->checked = !info->isFolder && !marks.contains(info);
        checked += info->checked ? 1 : 0;
    }
    if (!entries->isEmpty())
        emit dataChanged(index(0, ColumnCheck), index(entries->size() - 1, ColumnCheck), {Qt::CheckStateRole});
    return checked;
}

void DownloadFileModel::uncheckFile(const QString &name)
{
    for (int row = 0; row < entries->size(); ++row) {
        if (!entries->at(row)->isFolder && entries->at(row)->name == name) {
            setChecked(row, false);
            return;
        }
    }
}

int DownloadFileModel::checkedFolderCount() const
{
    return int(std::count_if(entries->cbegin(), entries->cend(),
                             [](const DownloadFileInfo *info) { return info->checked && info->isFolder; }));
}

void DownloadFileModel::append(DownloadFileInfo *info)
{
    entries->append(info);
}

void DownloadFileModel::setChecked(int row, bool checked)
{
    entries->at(row)->checked = checked;
    const QModelIndex cell = index(row, ColumnCheck);
    emit dataChanged(cell, cell, {Qt::CheckStateRole});
}

bool DownloadFileModel::isChecked(int row) const
{
    return entries->at(row)->checked;
}

void DownloadFileModel::setAllChecked(bool checked)
{
    for (DownloadFileInfo *info : qAsConst(*entries))
        info->checked = checked;
    if (!entries->isEmpty())
        emit dataChanged(index(0, ColumnCheck), index(entries->size() - 1, ColumnCheck), {Qt::CheckStateRole});
}

qint64 DownloadFileModel::checkedTotalSize() const
{
    qint64 total = 0;
    for (const DownloadFileInfo *info : qAsConst(*entries)) {
        if (info->checked)
            total += info->size;
    }
    return total;
}

void DownloadFileModel::checkedFileIndexes(QList<int> &indexes) const
{
    indexes.clear();
    for (const DownloadFileInfo *info : qAsConst(*entries)) {
        if (info->checked && !info->isFolder)
            indexes.append(info->index);
    }
}

QString DownloadFileModel::fileName(const QModelIndex &index) const
{
    return entries->at(index.row())->name;
}

QDateTime DownloadFileModel::fileDateTime(const QModelIndex &index) const
{
    return entries->at(index.row())->dateTime;
}

qint64 DownloadFileModel::fileSize(const QModelIndex &index) const
{
    return entries->at(index.row())->size;
}

bool DownloadFileModel::isFolder(const QModelIndex &index) const
{
    return entries->at(index.row())->isFolder;
}

int DownloadFileModel::fileIndex(const QModelIndex &index) const
{
    return entries->at(index.row())->index;
}
