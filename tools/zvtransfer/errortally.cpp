#include "errortally.h"

void ErrorTally::add(AppErrorCode code, int param1, int param2)
{
    ++added;
    for (Item &item : items) {
        if (item.code == code && item.param1 == param1 && item.param2 == param2) {
            ++item.count;
            return;
        }
    }
    if (items.size() >= MaxDistinct) {
        ++others;
        return;
    }
    items.append({code, param1, param2, 1});
}

QList<ErrorTally::Item> ErrorTally::take(qint64 *overflow)
{
    *overflow = others;
    others = 0;
    QList<Item> taken;
    taken.swap(items);
    return taken;
}
