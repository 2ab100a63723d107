#ifndef ERRORFILTER_H
#define ERRORFILTER_H

#include <QElapsedTimer>
#include <QtGlobal>

// Thins out a run of identical errors (a recorder sending garbage gives the
// same framing error for every packet): the first is passed on, repeats
// within RepeatIntervalMs of the last one passed are only counted, and the
// count is logged when the next one is passed. Memory stays constant however
// long the run.
class ErrorFilter
{
public:
    static constexpr qint64 RepeatIntervalMs = 1000;

    // Whether this error is to be passed on.
    bool pass(int code, int param);

private:
    int lastCode = -1;
    int lastParam = 0;
    qint64 held = 0;
    QElapsedTimer lastPassed;
};

#endif // ERRORFILTER_H
