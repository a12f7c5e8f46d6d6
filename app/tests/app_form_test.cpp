// The window without hardware: its components, the file from the command line or the dialog,
// and how a click starts an update (against a driver that cannot be loaded).
#include <QCheckBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <memory>

#include "app/name_part.h"
#include "recording_form.h"

using tolvex::D2xxBinding;
using tolvex::D2xxBindResult;
using tolvex::UpdateOptions;
using tolvex::UpdateResult;
using namespace tolvex::app;
using tolvex::app::testing::RecordingForm;

namespace {

// A driver that is never there; counts the binds and notes whether one ran on the UI thread.
struct MissingDriver {
    std::shared_ptr<std::atomic<int>> binds = std::make_shared<std::atomic<int>>(0);
    std::shared_ptr<std::atomic<bool>> boundOnUiThread = std::make_shared<std::atomic<bool>>(false);

    UpdateOptions Options() const {
        UpdateOptions options;
        options.bindDriver = [binds = binds, onUi = boundOnUiThread](D2xxBinding&) {
            ++*binds;
            if (QThread::currentThread() == QCoreApplication::instance()->thread()) {
                *onUi = true;
            }
            return D2xxBindResult::NotFound;
        };
        return options;
    }
};

const char* const kComponents[] = {"OpenDialog", "Sending", "Label1", "SmtE",        "Bevel2",
                                   "ToTheEnd",   "Image1",  "Label2", "SpeedButton1"};

}  // namespace

class AppFormTest : public QObject {
    Q_OBJECT
  private slots:
    void namePart_data();
    void namePart();
    void dialogFilterInQtForm();

    void componentsInDeclaredOrder();
    void windowProperties();
    void geometry_data();
    void geometry();
    void componentLook();

    void startupFile_data();
    void startupFile();
    void longNameIsCutAndShowsItsEnd();

    void clickWithKnownFileStartsAtOnce();
    void clickWithoutFileOpensDialogAndCancelStartsNothing();
    void fileChosenInDialogIsKeptForLaterClicks();

    void realDialogHasTitleAndFilter();
    void realBoxesHaveCaptionIconAndOneButton_data();
    void realBoxesHaveCaptionIconAndOneButton();
};

void AppFormTest::namePart_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("name");
    QTest::newRow("backslash") << "C:\\fw\\new.tvu"
                               << "new.tvu";
    QTest::newRow("drive colon only") << "D:update.tvu"
                                      << "update.tvu";
    QTest::newRow("slash") << "/home/user/fw/x.tvu"
                           << "x.tvu";
    QTest::newRow("slash from Qt's dialog on Windows") << "C:/fw/y.tvu"
                                                       << "y.tvu";
    QTest::newRow("last delimiter wins") << "a/b\\c:d.tvu"
                                         << "d.tvu";
    QTest::newRow("no delimiter") << "plain.tvu"
                                  << "plain.tvu";
    QTest::newRow("ends in a delimiter") << "C:\\fw\\" << QString();
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("exactly 256 kept") << QString(256, u'n') << QString(256, u'n');
    QTest::newRow("257 cut to 256") << "C:\\" + QString(257, u'n') << QString(256, u'n');
    // A character outside the BMP straddling the cut is dropped whole, not split.
    QTest::newRow("surrogate pair at the cut")
        << QString(255, u'n') + QString::fromUtf8("\xF0\x9F\x98\x80") + "x" << QString(255, u'n');
}

void AppFormTest::namePart() {
    QFETCH(QString, path);
    QFETCH(QString, name);
    QCOMPARE(NamePart(path), name);
}

void AppFormTest::dialogFilterInQtForm() {
    QCOMPARE(QtNameFilters(QString::fromLatin1(kDialogFilter)),
             QStringList{"Tolvex files (*.tvu)"});
    QCOMPARE(QtNameFilters("Images|*.png;*.bmp|All|*"),
             (QStringList{"Images (*.png *.bmp)", "All (*)"}));
}

void AppFormTest::componentsInDeclaredOrder() {
    RecordingForm form(QString{});
    QStringList order;
    for (const QObject* child : form.children()) {
        if (std::find(std::begin(kComponents), std::end(kComponents), child->objectName()) !=
            std::end(kComponents)) {
            order << child->objectName();
        }
    }
    QStringList expected;
    for (const char* name : kComponents) {
        expected << name;
    }
    QCOMPARE(order, expected);
    QCOMPARE(form.objectName(), QString("SDIAppForm"));
    QVERIFY(form.findChild<TOpenDialog*>("OpenDialog") == form.OpenDialog);
    QVERIFY(form.findChild<TSpeedButton*>("SpeedButton1") == form.SpeedButton1);
}

void AppFormTest::windowProperties() {
    RecordingForm form(QString{});
    QCOMPARE(form.windowTitle(), QString("Tolvex USB Ver. 1.00C"));
    QCOMPARE(form.size(), QSize(500, 320));
    QCOMPARE(form.minimumSize(), QSize(500, 320));
    QCOMPARE(form.maximumSize(), QSize(500, 320));
    const Qt::WindowFlags flags = form.windowFlags();
    QVERIFY(flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(flags.testFlag(Qt::WindowSystemMenuHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    QCOMPARE(form.palette().color(QPalette::Window), QColor(Qt::black));
    QCOMPARE(form.font().pixelSize(), 13);
    const QList<QSize> iconSizes = form.windowIcon().availableSizes();
    for (const int side : {16, 32, 54}) {
        QVERIFY2(iconSizes.contains(QSize(side, side)), qPrintable(QString::number(side)));
    }
    // Centred on the screen.
    form.show();
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QVERIFY(qAbs(form.geometry().center().x() - screen.center().x()) <= 1);
    QVERIFY(qAbs(form.geometry().center().y() - screen.center().y()) <= 1);
}

void AppFormTest::geometry_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("rect");
    QTest::newRow("Bevel2") << "Bevel2" << QRect(0, 0, 508, 41);
    QTest::newRow("Image1") << "Image1" << QRect(122, 20, 255, 42);
    QTest::newRow("SpeedButton1") << "SpeedButton1" << QRect(134, 88, 232, 65);
    QTest::newRow("Sending") << "Sending" << QRect(50, 230, 121, 22);
    QTest::newRow("ToTheEnd") << "ToTheEnd" << QRect(176, 230, 274, 16);
}

void AppFormTest::geometry() {
    QFETCH(QString, name);
    QFETCH(QRect, rect);
    RecordingForm form(QString{});
    const auto* widget = form.findChild<QWidget*>(name);
    QVERIFY(widget != nullptr);
    QCOMPARE(widget->geometry(), rect);
}

void AppFormTest::componentLook() {
    RecordingForm form("C:\\fw\\new.tvu");
    // Labels that size themselves keep their place; their size follows the font.
    QCOMPARE(form.Label1->pos(), QPoint(50, 182));
    QCOMPARE(form.Label2->pos(), QPoint(337, 299));
    QCOMPARE(form.SmtE->pos(), QPoint(176, 182));
    QCOMPARE(form.SmtE->height(), 20);

    QCOMPARE(form.Label1->text(), QString("Selected File:"));
    QCOMPARE(form.SpeedButton1->text(), QString("&Update the product"));
    QCOMPARE(form.SpeedButton1->focusPolicy(), Qt::NoFocus);
    QCOMPARE(form.SpeedButton1->Glyph().size(), QSize(64, 64));
    QCOMPARE(form.Image1->pixmap().size(), QSize(256, 40));
    QVERIFY(form.SpeedButton1->isEnabled());

    for (const QWidget* bold : std::initializer_list<const QWidget*>{
             form.Label1, form.SmtE, form.Sending, form.ToTheEnd, form.SpeedButton1}) {
        QVERIFY2(bold->font().bold() && bold->font().pixelSize() == 13,
                 qPrintable(bold->objectName()));
    }
    QVERIFY(form.Label2->font().italic());
    QCOMPARE(form.Label2->font().pixelSize(), 11);
    QVERIFY(!form.Label2->text().isEmpty());

    for (const QWidget* white : std::initializer_list<const QWidget*>{
             form.Label1, form.SmtE, form.Sending, form.ToTheEnd, form.Label2}) {
        QCOMPARE(white->palette().color(QPalette::WindowText), QColor(Qt::white));
    }
    QCOMPARE(form.Sending->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    QCOMPARE(form.SmtE->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);

    // Idle: both status labels hidden, even once the window shows.
    form.show();
    QVERIFY(!form.Sending->isVisible());
    QVERIFY(!form.ToTheEnd->isVisible());
    QVERIFY(form.SmtE->isVisible());
}

void AppFormTest::startupFile_data() {
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QString>("shown");
    QTest::newRow("backslash") << "C:\\fw\\new.tvu"
                               << "new.tvu";
    QTest::newRow("drive colon") << "D:update.tvu"
                                 << "update.tvu";
    QTest::newRow("slash") << "/srv/fw/board.tvu"
                           << "board.tvu";
    QTest::newRow("no argument") << QString() << QString();
}

void AppFormTest::startupFile() {
    QFETCH(QString, argument);
    QFETCH(QString, shown);
    RecordingForm form(argument);
    QCOMPARE(form.OpenDialog->FileName, argument);
    QCOMPARE(form.SmtE->Caption(), shown);
    QCOMPARE(form.SmtE->text(), shown);  // the design text "SmtE.Bin" is gone
}

void AppFormTest::longNameIsCutAndShowsItsEnd() {
    QString name;
    for (int i = 0; i < 30; ++i) {
        name += QStringLiteral("part%1_").arg(i, 2, 10, QChar(u'0'));
    }
    name = name.left(252) + "tail.tvu";  // 260 characters
    RecordingForm form("C:\\fw\\" + name);
    const QString cut = name.left(256);
    QCOMPARE(form.SmtE->Caption(), cut);
    // Too wide for the window: the start gives way, the end of the cut name stays in view.
    QVERIFY(form.SmtE->text().size() < cut.size());
    QVERIFY(form.SmtE->text().endsWith(cut.right(12)));
    QVERIFY(form.SmtE->width() <= 385);
    QVERIFY(form.SmtE->geometry().right() < form.width());
}

void AppFormTest::clickWithKnownFileStartsAtOnce() {
    MissingDriver driver;
    RecordingForm form("C:\\fw\\new.tvu", driver.Options());
    QSignalSpy finished(&form, &TSDIAppForm::UpdateFinished);
    form.show();

    QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);
    QCOMPARE(form.dialogShown, 0);
    QVERIFY(!form.SpeedButton1->isEnabled());
    QVERIFY(form.UpdateRunning());
    form.FileSave1Execute();  // a second click while it runs starts nothing

    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 30000);
    QCOMPARE(finished.at(0).at(0).toInt(), static_cast<int>(UpdateResult::DriverNotFound));
    QVERIFY(form.SpeedButton1->isEnabled());
    QCOMPARE(driver.binds->load(), 1);
    QVERIFY(!driver.boundOnUiThread->load());
    QCOMPARE(form.boxes.size(), std::size_t{1});
    QCOMPARE(form.boxes[0].kind, TSDIAppForm::BoxKind::Error);
    QCOMPARE(form.boxes[0].caption, QString("!!! ERROR !!!"));
    QCOMPARE(form.boxes[0].text, QString("FTD2XX.DLL not found"));
    QVERIFY(form.boxes[0].onUiThread);
    QVERIFY(!form.Sending->isVisible());
    QVERIFY(!form.ToTheEnd->isVisible());

    // Every later click uses the same file, still without the dialog.
    QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 30000);
    QCOMPARE(form.dialogShown, 0);
    QCOMPARE(driver.binds->load(), 2);
}

void AppFormTest::clickWithoutFileOpensDialogAndCancelStartsNothing() {
    MissingDriver driver;
    RecordingForm form(QString{}, driver.Options());
    QString title;
    QString filter;
    form.dialogAnswer = [&](TOpenDialog& dialog) {
        title = dialog.Title;
        filter = dialog.Filter;
        return false;
    };
    form.show();
    QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);
    QCOMPARE(form.dialogShown, 1);
    QCOMPARE(title, QString("Select the file to update the Tolvex hardware"));
    QCOMPARE(filter, QString("Tolvex files (*.tvu)|*.tvu"));
    // Cancelled: nothing starts (the start would be synchronous) and nothing changes.
    QVERIFY(!form.UpdateRunning());
    QVERIFY(form.SpeedButton1->isEnabled());
    QCOMPARE(form.SmtE->Caption(), QString());
    QVERIFY(form.OpenDialog->FileName.isEmpty());
    // Still no file: the next click asks again.
    QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);
    QCOMPARE(form.dialogShown, 2);
    QCOMPARE(driver.binds->load(), 0);
}

void AppFormTest::fileChosenInDialogIsKeptForLaterClicks() {
    MissingDriver driver;
    RecordingForm form(QString{}, driver.Options());
    form.dialogAnswer = [](TOpenDialog& dialog) {
        dialog.FileName = "/media/usb/chosen.tvu";
        return true;
    };
    QSignalSpy finished(&form, &TSDIAppForm::UpdateFinished);
    form.show();
    QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);
    QCOMPARE(form.SmtE->Caption(), QString("chosen.tvu"));
    QVERIFY(form.UpdateRunning());
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 30000);
    QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 30000);
    QCOMPARE(form.dialogShown, 1);
    QCOMPARE(driver.binds->load(), 2);
}

void AppFormTest::realDialogHasTitleAndFilter() {
    TSDIAppForm form(QString{});
    form.OpenDialog->Title = QString::fromLatin1(kDialogTitle);
    form.OpenDialog->Filter = QString::fromLatin1(kDialogFilter);
    QString title;
    QStringList filters;
    int checkBoxes = -1;
    QTimer::singleShot(0, &form, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog != nullptr);
        title = dialog->windowTitle();
        filters = dialog->nameFilters();
        checkBoxes = static_cast<int>(dialog->findChildren<QCheckBox*>().size());
        dialog->reject();
    });
    QVERIFY(!form.OpenDialog->Execute(&form));
    QCOMPARE(title, QString("Select the file to update the Tolvex hardware"));
    QCOMPARE(filters, QStringList{"Tolvex files (*.tvu)"});
    QCOMPARE(checkBoxes, 0);  // no read-only check box
    QVERIFY(form.OpenDialog->FileName.isEmpty());
}

void AppFormTest::realBoxesHaveCaptionIconAndOneButton_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("icon");
    QTest::newRow("error") << static_cast<int>(TSDIAppForm::BoxKind::Error) << "!!! ERROR !!!"
                           << static_cast<int>(QMessageBox::Critical);
    QTest::newRow("success") << static_cast<int>(TSDIAppForm::BoxKind::Information) << "--- OK ---"
                             << static_cast<int>(QMessageBox::Information);
}

void AppFormTest::realBoxesHaveCaptionIconAndOneButton() {
    QFETCH(int, kind);
    QFETCH(QString, caption);
    QFETCH(int, icon);
    TSDIAppForm form(QString{});
    QString shownTitle;
    QString shownText;
    int shownIcon = -1;
    qsizetype buttons = -1;
    QTimer::singleShot(0, &form, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box != nullptr);
        shownTitle = box->windowTitle();
        shownText = box->text();
        shownIcon = static_cast<int>(box->icon());
        buttons = box->buttons().size();
        box->accept();
    });
    form.ShowBox(static_cast<TSDIAppForm::BoxKind>(kind), caption, "some text");
    QCOMPARE(shownTitle, caption);
    QCOMPARE(shownText, QString("some text"));
    QCOMPARE(shownIcon, icon);
    QCOMPARE(buttons, qsizetype{1});
}

QTEST_MAIN(AppFormTest)
#include "app_form_test.moc"
