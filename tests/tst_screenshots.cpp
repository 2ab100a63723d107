// Pictures of the main window in its three main states, for people to look
// at: searching (overlay), standby with a listing and a file's details, and
// downloading. Written to screenshots/ beside this test's executable; the
// checks make sure each picture shows what its name says.
#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "sim/recordersimulator.h"
#include "ui/mainwindow.h"

namespace {
const QString Address = QStringLiteral(ZV_TEST_ADDRESS);
constexpr int ExchangeTimeoutMs = 5000;

void storeNetworkName(const QString &ssid)
{
    QSettings store(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("PALVEN"),
                    QStringLiteral("ZV_FILE_TRANSFER"));
    store.setValue(QStringLiteral("main/SSID"), ssid);
    store.sync();
}

// Mean brightness (0..255) of a rectangle of the picture.
double brightness(const QImage &image, const QRect &area)
{
    double sum = 0;
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); y += 2) {
        for (int x = area.left(); x <= area.right(); x += 2) {
            sum += qGray(image.pixel(x, y));
            ++count;
        }
    }
    return count ? sum / count : 0;
}
} // namespace

class tst_Screenshots : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void searching();
    void standby();
    void downloading();

private:
    QImage shoot(const char *name);
    template<typename T>
    T *widget(const char *name) const
    {
        return window->findChild<T *>(QString::fromLatin1(name));
    }
    QModelIndex nameCell(const QString &name) const;
    QCheckBox *rowBox(const QString &name) const;
    QRect tableArea() const;
    bool waitConnected() const;

    RecorderSimulator simulator;
    QTemporaryDir scratch;
    QDir output;
    std::unique_ptr<MainWindow> window;
};

void tst_Screenshots::initTestCase()
{
    QVERIFY(scratch.isValid());
    QVERIFY(simulator.useDemoTrees(scratch.filePath(QStringLiteral("recorder"))));
    QVERIFY(simulator.listen(QHostAddress(Address), RecorderSimulator::DefaultPort));
    output.setPath(QCoreApplication::applicationDirPath() + QStringLiteral("/screenshots"));
    QVERIFY(output.mkpath(QStringLiteral(".")));
}

void tst_Screenshots::cleanup()
{
    window.reset();
    simulator.setThrottle(0);
    QTRY_VERIFY(!simulator.hasClient());
}

QImage tst_Screenshots::shoot(const char *name)
{
    const QImage image = window->grab().toImage();
    const QString path = output.filePath(QString::fromLatin1(name) + QStringLiteral(".png"));
    if (!image.save(path))
        qWarning("cannot write %s", qPrintable(path));
    qInfo("%s", qPrintable(path));
    return image;
}

QModelIndex tst_Screenshots::nameCell(const QString &name) const
{
    const QAbstractItemModel *model = widget<QTableView>("filelistTableView")->model();
    const QModelIndexList found = model->match(model->index(0, 1), Qt::DisplayRole, name, 1, Qt::MatchExactly);
    return found.value(0);
}

QCheckBox *tst_Screenshots::rowBox(const QString &name) const
{
    QTableView *table = widget<QTableView>("filelistTableView");
    return table->indexWidget(nameCell(name).siblingAtColumn(0))->findChild<QCheckBox *>();
}

bool tst_Screenshots::waitConnected() const
{
    return QTest::qWaitFor(
        [this] {
            return widget<QLabel>("labelTarget")->text() == Address
                && widget<QTableView>("filelistTableView")->model()->rowCount() > 0;
        },
        ExchangeTimeoutMs);
}

QRect tst_Screenshots::tableArea() const
{
    QTableView *table = widget<QTableView>("filelistTableView");
    return QRect(table->mapTo(window.get(), QPoint(0, 0)), table->size()).adjusted(40, 40, -40, -40);
}

void tst_Screenshots::searching()
{
    storeNetworkName(QString());
    window = std::make_unique<MainWindow>();
    window->show();
    QTRY_COMPARE(widget<QLabel>("labelTarget")->text(), QStringLiteral("Searching..."));

    const QImage image = shoot("searching");
    QCOMPARE(image.size(), QSize(816, 576));
    // The overlay dims the working area and leaves the header row bright.
    QVERIFY(brightness(image, tableArea()) < 180);
    QVERIFY(brightness(image, QRect(0, 0, 100, 60)) > 200);
}

void tst_Screenshots::standby()
{
    storeNetworkName(Address);
    window = std::make_unique<MainWindow>();
    window->show();
    QVERIFY(waitConnected());

    QTableView *table = widget<QTableView>("filelistTableView");
    const QModelIndex file = nameCell(QStringLiteral("ZV_0001.WAV"));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualRect(file).center());
    QTRY_VERIFY_WITH_TIMEOUT(!widget<QLabel>("labelDetailFormat")->text().isEmpty()
                                 && widget<QPushButton>("downloadButton")->isEnabled(),
                             ExchangeTimeoutMs);
    rowBox(QStringLiteral("ZV_0002.WAV"))->click();

    const QImage image = shoot("standby");
    // A white table, not dimmed.
    QVERIFY(brightness(image, tableArea()) > 200);
}

void tst_Screenshots::downloading()
{
    storeNetworkName(Address);
    simulator.setThrottle(512 * 1024);
    window = std::make_unique<MainWindow>();
    window->show();
    QVERIFY(waitConnected());
    for (const char *name : {"ZV_0001.WAV", "ZV_0002.WAV", "ZV_0004.MP3"})
        rowBox(QString::fromLatin1(name))->click();

    // The folder chooser is modal: answer it from inside its event loop.
    QTemporaryDir target;
    QTimer answer;
    answer.setInterval(10);
    connect(&answer, &QTimer::timeout, [&] {
        for (QWidget *top : QApplication::topLevelWidgets()) {
            if (auto *chooser = qobject_cast<QFileDialog *>(top); chooser && chooser->isVisible()) {
                answer.stop();
                chooser->setDirectory(target.path());
                static_cast<QDialog *>(chooser)->accept();
            }
        }
    });
    answer.start();
    widget<QPushButton>("downloadButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(widget<QLabel>("labelStatus")->text() == QStringLiteral(" 2 / 3 files")
                                 && widget<QProgressBar>("progressBar")->value() > 300,
                             10000);
    shoot("downloading");
    QVERIFY(widget<QPushButton>("cancelButton")->isEnabled());
}

int main(int argc, char *argv[])
{
    QTemporaryDir config;
    if (!config.isValid())
        return 1;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QApplication app(argc, argv);
    tst_Screenshots test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_screenshots.moc"
