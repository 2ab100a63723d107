// A slow suite runs in parts side by side: CMake builds it once per part, each
// with a loopback address of its own, and gives it ZV_TEST_SPLITS, the first
// test function of every part after the first. With ZV_TEST_PART=k in the
// environment (CTest sets it) the suite runs the functions, in the order they
// are declared, from part k's first up to the next part's; run by hand, or
// with functions named on the command line, it runs what it is asked.
#ifndef TESTPARTS_H
#define TESTPARTS_H

#include <QMetaMethod>
#include <QtTest>

inline int execTests(QObject *test, int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
#ifdef ZV_TEST_SPLITS
    if (const int part = qEnvironmentVariableIntValue("ZV_TEST_PART")) {
        const QStringList splits = QStringLiteral(ZV_TEST_SPLITS).split(QLatin1Char(','));
        const QStringList fixtures{"initTestCase", "cleanupTestCase", "init", "cleanup"};
        QStringList functions;
        const QMetaObject *meta = test->metaObject();
        for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
            const QMetaMethod method = meta->method(i);
            const QString name = QString::fromLatin1(method.name());
            if (method.methodType() == QMetaMethod::Slot && method.access() == QMetaMethod::Private
                && method.parameterCount() == 0 && !fixtures.contains(name) && !name.endsWith(QLatin1String("_data")))
                functions << name;
        }
        const int from = part == 1 ? 0 : functions.indexOf(splits.value(part - 2));
        const int to = part > splits.size() ? int(functions.size()) : int(functions.indexOf(splits.at(part - 1)));
        if (from < 0 || to <= from) {
            qCritical("part %d of %s: no such split (%s)", part, meta->className(), ZV_TEST_SPLITS);
            return 1;
        }
        arguments += functions.mid(from, to - from);
    }
#endif
    return QTest::qExec(test, arguments);
}

// QTEST_GUILESS_MAIN for a suite that may run in parts.
#define ZV_TEST_PARTS_MAIN(TestClass) \
    int main(int argc, char *argv[]) \
    { \
        QCoreApplication app(argc, argv); \
        TestClass test; \
        QTEST_SET_MAIN_SOURCE_PATH \
        return execTests(&test, argc, argv); \
    }

#endif // TESTPARTS_H
