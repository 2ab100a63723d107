#ifndef SAMENAMERULE_H
#define SAMENAMERULE_H

#include <QDir>
#include <QHash>
#include <QString>

#include "base/samenameoption.h"

// Where a recording lands in the save folder and what happens to a file that
// already holds its name: skip it, overwrite it or write under a counted
// name, as the user's same-name option says.
class SameNameRule
{
public:
    // Highest count of a counted name "name(N).ext".
    static constexpr int MaxNameCount = 29999;

    enum class Action {
        Write,  // write the recording under the (possibly counted) path
        Skip,   // the existing file stays and counts as downloaded
        Refuse, // a folder holds the name
    };

    explicit SameNameRule(int option)
        : option(option)
    {
    }

    // Settles the path a recording of `size` bytes is written to; `path` is
    // its name in the save folder and becomes a counted name when the rule
    // renames.
    Action apply(QString *path, qint64 size) const;
    // What apply() will settle once the files in `pending` (path and size)
    // exist as well: those the same download writes before this recording.
    // Reads the folder only; logs nothing.
    Action foresee(QString *path, qint64 size, const QHash<QString, qint64> &pending) const;
    // Whether a download of `name` into `directory` writes a file of its own
    // (what the free-space estimate counts).
    bool writes(const QDir &directory, const QString &name, qint64 size) const;

    static QString makeCountFileName(int count, const QString &path);
    static QString makeNewCountFileName(const QString &path);
    // A recorder's entry name that may be used as a file name in `directory`.
    static bool isSafeFileName(const QString &name, const QDir &directory);
    // `name` inside `directory`, never read as a resource path (":name").
    static QString filePathIn(const QDir &directory, const QString &name);

private:
    Action settle(QString *path, qint64 size, const QHash<QString, qint64> &pending, bool logCountOver) const;
    bool keepsExistingFile(const QString &path, qint64 size, const QHash<QString, qint64> &pending) const;
    static QString newCountFileName(const QString &path, const QHash<QString, qint64> &pending, bool logCountOver);

    int option;
};

#endif // SAMENAMERULE_H
