// The window running real updates against the in-process simulator: the success box, a
// failure's single error box, the labels, a responsive window during a long transfer, and a
// close in the middle of one.
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <string>

#include "recording_form.h"
#include "sim/simulator.h"

using tolvex::UpdateResult;
using namespace tolvex::app;
using tolvex::app::testing::RecordingForm;
using tolvex::app::testing::SimulatorOptions;
using tolvex::app::testing::WriteUpdateFile;
namespace sim = tolvex::sim;

namespace {

sim::Scenario ParsedScenario(const char* text) {
    sim::Scenario scenario;
    std::string error;
    if (!sim::ParseScenario(text, scenario, error)) {
        qFatal("scenario %s: %s", text, error.c_str());
    }
    return scenario;
}

constexpr int kLong = 60000;  // ms; a generous bound, never a measure

}  // namespace

class AppUpdateTest : public QObject {
    Q_OBJECT
  private slots:
    void init();
    void fullUpdateShowsSuccessBoxAndEnablesButton();
    void failingUpdateShowsOneErrorBox_data();
    void failingUpdateShowsOneErrorBox();
    void windowStaysResponsiveDuringTransfer();
    void closingDuringTransferLetsWorkerGo_data();
    void closingDuringTransferLetsWorkerGo();

  private:
    QTemporaryDir dir_;
    QString file_;
};

void AppUpdateTest::init() {
    QVERIFY(dir_.isValid());
    file_ = dir_.filePath("fw.tvu");
    WriteUpdateFile(file_, 3000);
}

void AppUpdateTest::fullUpdateShowsSuccessBoxAndEnablesButton() {
    sim::InstallSimulator(ParsedScenario("timescale=0"));
    RecordingForm form(file_, SimulatorOptions());
    QSignalSpy finished(&form, &TSDIAppForm::UpdateFinished);
    form.show();
    QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);
    QVERIFY(!form.SpeedButton1->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, kLong);

    QCOMPARE(finished.at(0).at(0).toInt(), static_cast<int>(UpdateResult::Ok));
    QCOMPARE(form.boxes.size(), std::size_t{1});
    QCOMPARE(form.boxes[0].kind, TSDIAppForm::BoxKind::Information);
    QCOMPARE(form.boxes[0].caption, QString("--- OK ---"));
    QCOMPARE(form.boxes[0].text, QString("Hardware updated correctly!"));
    QVERIFY(form.boxes[0].onUiThread);
    QVERIFY(form.SpeedButton1->isEnabled());
    QVERIFY(!form.Sending->isVisible());
    QVERIFY(!form.ToTheEnd->isVisible());

    const sim::Snapshot seen = sim::Inspect();
    QFile file(file_);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray payload = file.readAll().mid(16);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(seen.flash.data()),
                        static_cast<qsizetype>(seen.flash.size())),
             payload);
    QCOMPARE(seen.verifyCount, 1u);
    QCOMPARE(seen.closes, seen.opens);
    QCOMPARE(seen.releases, seen.binds);
}

void AppUpdateTest::failingUpdateShowsOneErrorBox_data() {
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<bool>("badFile");
    QTest::addColumn<QString>("message");
    QTest::newRow("erase refused")
        << "timescale=0;erase=nak" << false << "Error on erasing the hardware!";
    QTest::newRow("device vanishes mid-transfer")
        << "timescale=0;vanish_block=3" << false << "Error on transmitting data to hardware!";
    QTest::newRow("no device") << "timescale=0;devices=0" << false
                               << "Unable to connect to the hardware!";
    QTest::newRow("not an update file") << "timescale=0" << true << "File not readable!";
}

void AppUpdateTest::failingUpdateShowsOneErrorBox() {
    QFETCH(QString, scenario);
    QFETCH(bool, badFile);
    QFETCH(QString, message);
    sim::InstallSimulator(ParsedScenario(qPrintable(scenario)));
    if (badFile) {
        QFile file(file_);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a Tolvex file at all");
    }
    RecordingForm form(file_, SimulatorOptions());
    QSignalSpy finished(&form, &TSDIAppForm::UpdateFinished);
    form.show();
    QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, kLong);

    QVERIFY(finished.at(0).at(0).toInt() != static_cast<int>(UpdateResult::Ok));
    QCOMPARE(form.boxes.size(), std::size_t{1});  // the error, and no success box after it
    QCOMPARE(form.boxes[0].kind, TSDIAppForm::BoxKind::Error);
    QCOMPARE(form.boxes[0].caption, QString("!!! ERROR !!!"));
    QCOMPARE(form.boxes[0].text, message);
    QVERIFY(form.boxes[0].onUiThread);
    QVERIFY(form.SpeedButton1->isEnabled());
    QVERIFY(!form.Sending->isVisible());
    QVERIFY(!form.ToTheEnd->isVisible());
}

void AppUpdateTest::windowStaysResponsiveDuringTransfer() {
    // Real time: 60000 bytes take a few seconds to stream.
    WriteUpdateFile(file_, 60000);
    sim::InstallSimulator(ParsedScenario("timescale=1;erase_ms=100"));
    RecordingForm form(file_, SimulatorOptions());
    QSignalSpy finished(&form, &TSDIAppForm::UpdateFinished);
    form.show();
    QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);

    // The worker's label changes reach the window while it runs.
    QTRY_VERIFY_WITH_TIMEOUT(form.Sending->isVisible() && form.Sending->text() == "Transmitting...",
                             kLong);
    QVERIFY(form.ToTheEnd->isVisible());
    QVERIFY(form.ToTheEnd->text().endsWith("to complete the upgrade"));
    QVERIFY(form.UpdateRunning());

    // Meanwhile the UI thread runs its timers, moves and repaints.
    bool timerRan = false;
    QTimer::singleShot(0, &form, [&] { timerRan = true; });
    QTRY_VERIFY(timerRan);
    const QPoint moved = form.pos() + QPoint(7, 5);
    form.move(moved);
    QCOMPARE(form.pos(), moved);
    const QImage picture = form.grab().toImage();
    QCOMPARE(picture.size(), QSize(500, 320));
    QVERIFY(form.UpdateRunning());
    QVERIFY(!form.SpeedButton1->isEnabled());

    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, kLong);
    QCOMPARE(finished.at(0).at(0).toInt(), static_cast<int>(UpdateResult::Ok));
    QCOMPARE(form.boxes.size(), std::size_t{1});
    QCOMPARE(form.boxes[0].caption, QString("--- OK ---"));
}

void AppUpdateTest::closingDuringTransferLetsWorkerGo_data() {
    QTest::addColumn<bool>("destroyAtOnce");
    QTest::newRow("window kept until the worker ends") << false;
    // The worker outlives the window: under ASan a window call after this would be caught.
    QTest::newRow("window destroyed while the worker runs") << true;
}

void AppUpdateTest::closingDuringTransferLetsWorkerGo() {
    QFETCH(bool, destroyAtOnce);
    WriteUpdateFile(file_, 200000);
    sim::InstallSimulator(ParsedScenario("timescale=1;erase_ms=100"));
    auto form = std::make_unique<RecordingForm>(file_, SimulatorOptions());
    QSignalSpy finished(form.get(), &TSDIAppForm::UpdateFinished);
    form->show();
    QTest::mouseClick(form->SpeedButton1, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(form->Sending->text() == "Transmitting...", kLong);

    form->close();
    if (destroyAtOnce) {
        form.reset();
    } else {
        QVERIFY(form->WaitForUpdate(std::chrono::milliseconds(kLong)));
        QCoreApplication::processEvents();
        QVERIFY(form->boxes.empty());
        QCOMPARE(finished.size(), 0);  // nothing more reached the closed window
    }
    // The transfer stops after its current block and everything is released, with no box.
    QTRY_VERIFY_WITH_TIMEOUT(sim::Inspect().releases == 1, kLong);
    const sim::Snapshot seen = sim::Inspect();
    QVERIFY(seen.flash.size() < std::size_t{200000});  // stopped part-way
    QCOMPARE(seen.binds, 1u);
    QCOMPARE(seen.closes, seen.opens);
}

QTEST_MAIN(AppUpdateTest)
#include "app_update_test.moc"
