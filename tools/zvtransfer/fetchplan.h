#ifndef FETCHPLAN_H
#define FETCHPLAN_H

#include <QDir>
#include <QList>
#include <QString>

#include "base/samenameoption.h"
#include "recorder/samenamerule.h"
#include "recordersession.h"

// A dry run: what a download would do with each recording, told by the
// rules the download engine applies ("would fetch", "would fetch as
// NAME(1).WAV", "would skip (exists)", "would be refused", "would fail"),
// and one summary line. Nothing is written.
class FetchPlan
{
public:
    explicit FetchPlan(SameNameOption rule);

    // One line for each of `files`, going into `folder`; `label` is printed
    // before each name.
    void show(const QDir &folder, const QString &label, const QList<RecorderSession::Entry> &files);
    void printSummary() const;

private:
    const SameNameRule rule;
    int fetch = 0;
    qulonglong bytes = 0;
    int keep = 0;
};

#endif // FETCHPLAN_H
