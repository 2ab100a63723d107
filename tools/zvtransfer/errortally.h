#ifndef ERRORTALLY_H
#define ERRORTALLY_H

#include <QList>

#include "base/apperrorcode.h"

// The errors a run meets, counted per distinct code and parameters in the
// order they first came. A recorder can send millions of identical faults:
// the tally keeps one count for each, and only so many distinct ones; the
// rest are counted together.
class ErrorTally
{
public:
    static constexpr int MaxDistinct = 32;

    struct Item
    {
        AppErrorCode code = NetworkSocketError;
        int param1 = 0;
        int param2 = 0;
        qint64 count = 0;
    };

    void add(AppErrorCode code, int param1, int param2);
    // Every error added so far, including those already taken.
    qint64 total() const { return added; }
    bool isEmpty() const { return items.isEmpty() && others == 0; }
    // The errors added since the last take, and how many of them did not fit.
    QList<Item> take(qint64 *overflow);

private:
    QList<Item> items;
    qint64 others = 0;
    qint64 added = 0;
};

#endif // ERRORTALLY_H
