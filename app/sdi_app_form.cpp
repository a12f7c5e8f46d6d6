#include "app/sdi_app_form.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QMessageBox>
#include <QPalette>
#include <QScreen>
#include <QStyle>
#include <algorithm>
#include <string>
#include <string_view>
#include <utility>

#include "app/name_part.h"
#include "update/front_end.h"

// The pictures are compiled into this static library; a static library's resources must be
// registered by hand, and Q_INIT_RESOURCE only works outside a namespace.
static void RegisterPictures() {
    Q_INIT_RESOURCE(app);
}

namespace tolvex::app {
namespace {

void EnsurePictures() {
    static const bool registered = (RegisterPictures(), true);
    (void)registered;
}

constexpr int kClientWidth = 500;
constexpr int kClientHeight = 320;
constexpr int kSmtELeft = 176;
constexpr int kSmtEMaxWidth = 385;

// Verdana where it is installed; otherwise the closest sans-serif face the system has
// (DejaVu Sans descends from the Verdana-like Bitstream Vera).
QFont FormFont(int pixelSize, bool bold = false, bool italic = false) {
    QFont font;
    font.setFamilies({QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

// White text on the black window colour.
void PaintWhiteOnBlack(QWidget* widget, bool opaque) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    palette.setColor(QPalette::Window, Qt::black);
    widget->setPalette(palette);
    widget->setAutoFillBackground(opaque);
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, Qt::Alignment alignment,
                  const QFont& font) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setAlignment(alignment);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    return label;
}

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The front end UpdateHardware runs against. It lives on the worker's stack and reaches the
// window only through the bridge, so a window closed mid-update is never touched.
class WindowFrontEnd final : public UpdateFrontEnd {
  public:
    WindowFrontEnd(std::shared_ptr<UiBridge> bridge, TSDIAppForm* form)
        : bridge_(std::move(bridge)), form_(form) {}

    void SetStatusText(std::string_view text) override {
        bridge_->RunOnUi([form = form_, text = FromUtf8(text)] { form->Sending->setText(text); });
    }
    void SetStatusVisible(bool visible) override {
        bridge_->RunOnUi([form = form_, visible] { form->Sending->setVisible(visible); });
    }
    void SetEstimateText(std::string_view text) override {
        bridge_->RunOnUi([form = form_, text = FromUtf8(text)] { form->ToTheEnd->setText(text); });
    }
    void SetEstimateVisible(bool visible) override {
        bridge_->RunOnUi([form = form_, visible] { form->ToTheEnd->setVisible(visible); });
    }
    void ShowError(UpdateResult /*result*/, std::string_view message) override {
        bridge_->RunOnUi([form = form_, text = FromUtf8(message)] {
            form->ShowBox(TSDIAppForm::BoxKind::Error, QString::fromLatin1(ErrorTitle), text);
        });
    }
    bool StopRequested() override { return bridge_->StopRequested(); }

  private:
    std::shared_ptr<UiBridge> bridge_;
    TSDIAppForm* form_;  // dereferenced only on the UI thread, inside RunOnUi
};

// UpdateThread: one update, on its own thread. Touches nothing of the window directly.
void UpdateThread(std::shared_ptr<UiBridge> bridge, TSDIAppForm* form, std::string path,
                  UpdateOptions options) {
    WindowFrontEnd frontEnd(bridge, form);
    const UpdateResult result = UpdateHardware(path, frontEnd, options);
    if (result == UpdateResult::Ok) {
        bridge->RunOnUi([form] {
            form->ShowBox(TSDIAppForm::BoxKind::Information, QString::fromLatin1(OkTitle),
                          QString::fromLatin1(kUpdatedText));
        });
    }
    bridge->RunOnUi([form, result] { form->UpdateEnded(static_cast<int>(result)); });
    bridge->WorkerFinished();
}

}  // namespace

QIcon ApplicationIcon() {
    EnsurePictures();
    QIcon icon;
    for (const char* file :
         {":/tolvex/icon-16.png", ":/tolvex/icon-32.png", ":/tolvex/icon-54.png"}) {
        icon.addFile(QString::fromLatin1(file));
    }
    return icon;
}

TSDIAppForm::TSDIAppForm(const QString& fileName, UpdateOptions options, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      options_(std::move(options)),
      bridge_(std::make_shared<UiBridge>(this)) {
    EnsurePictures();
    setObjectName(QStringLiteral("SDIAppForm"));
    setWindowTitle(QString::fromLatin1(kWindowCaption));
    setWindowIcon(ApplicationIcon());
    setFont(FormFont(13));
    PaintWhiteOnBlack(this, true);
    // Fixed single border: the size cannot change, so the minimum size (432 x 292) is met.
    setFixedSize(kClientWidth, kClientHeight);

    const QFont bold = FormFont(13, true);

    OpenDialog = new TOpenDialog(this);
    OpenDialog->setObjectName(QStringLiteral("OpenDialog"));
    OpenDialog->Title = QString::fromLatin1(kDialogTitle);

    Sending = MakeLabel(this, "Sending", QStringLiteral("Transmitting..."),
                        Qt::AlignHCenter | Qt::AlignTop, bold);
    Sending->setGeometry(50, 230, 121, 22);
    PaintWhiteOnBlack(Sending, true);
    Sending->hide();

    Label1 = MakeLabel(this, "Label1", QStringLiteral("Selected File:"),
                       Qt::AlignHCenter | Qt::AlignTop, bold);
    Label1->move(50, 182);
    Label1->resize(std::max(98, Label1->sizeHint().width()), 16);

    SmtE = new TStaticText(this, kSmtEMaxWidth, kClientWidth - kSmtELeft);
    SmtE->setObjectName(QStringLiteral("SmtE"));
    SmtE->setFont(bold);
    PaintWhiteOnBlack(SmtE, true);
    SmtE->setGeometry(kSmtELeft, 182, 70, 20);
    SmtE->SetCaption(QStringLiteral("SmtE.Bin"));

    Bevel2 = new TBevel(this);
    Bevel2->setObjectName(QStringLiteral("Bevel2"));
    Bevel2->setGeometry(0, 0, 508, 41);

    ToTheEnd = MakeLabel(this, "ToTheEnd", QStringLiteral("30 minutes to the end of the process"),
                         Qt::AlignLeft | Qt::AlignTop, bold);
    ToTheEnd->setGeometry(176, 230, 274, 16);
    PaintWhiteOnBlack(ToTheEnd, true);
    ToTheEnd->hide();

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image1->setPixmap(QPixmap(QStringLiteral(":/tolvex/logo.png")));
    Image1->setGeometry(122, 20, 255, 42);

    Label2 = MakeLabel(this, "Label2", QStringLiteral("\u00A9 2026 Tolvex"),
                       Qt::AlignHCenter | Qt::AlignTop, FormFont(11, false, true));
    Label2->move(337, 299);
    Label2->resize(std::max(103, Label2->sizeHint().width()), 13);

    SpeedButton1 = new TSpeedButton(this);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setText(QStringLiteral("&Update the product"));
    SpeedButton1->setFont(bold);
    SpeedButton1->setPalette(QGuiApplication::palette());  // a standard button face
    SpeedButton1->SetGlyph(QPixmap(QStringLiteral(":/tolvex/button.png")));
    SpeedButton1->setGeometry(134, 88, 232, 65);
    connect(SpeedButton1, &QAbstractButton::clicked, this, &TSDIAppForm::FileSave1Execute);

    // The command line's file, if any; its name part replaces the design text.
    OpenDialog->FileName = fileName;
    SmtE->SetCaption(NamePart(OpenDialog->FileName));

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        setGeometry(
            QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(), screen->geometry()));
    }
}

TSDIAppForm::~TSDIAppForm() {
    ReleaseWorker();
    if (worker_.joinable()) {
        if (bridge_->WorkerRunning()) {
            // Still inside the driver: it holds the bridge, not the window, and ends alone.
            worker_.detach();
        } else {
            worker_.join();  // past its last shared step; returns at once
        }
    }
}

void TSDIAppForm::FileSave1Execute() {
    if (updating_) {
        return;
    }
    if (OpenDialog->FileName.isEmpty()) {
        OpenDialog->Filter = QString::fromLatin1(kDialogFilter);
        if (!ExecuteOpenDialog()) {
            return;
        }
        SmtE->SetCaption(NamePart(OpenDialog->FileName));
    }
    StartUpdate();
}

void TSDIAppForm::StartUpdate() {
    if (bridge_->IsClosed()) {
        return;
    }
    if (worker_.joinable()) {
        worker_.join();  // the previous update has finished: the button was enabled again
    }
    // Disabled here on the UI thread, before the worker exists, so that a second click
    // already queued cannot start a second update.
    SpeedButton1->setEnabled(false);
    updating_ = true;
    bridge_->WorkerStarted();
    // The core takes UTF-8 paths: Windows opens them as UTF-16, and Qt 6 names files in UTF-8
    // elsewhere. (QFile::encodeName would give the ANSI code page on Windows.)
    worker_ =
        std::thread(UpdateThread, bridge_, this, OpenDialog->FileName.toStdString(), options_);
}

void TSDIAppForm::UpdateEnded(int result) {
    updating_ = false;
    SpeedButton1->setEnabled(true);
    emit UpdateFinished(result);
}

bool TSDIAppForm::UpdateRunning() const {
    return bridge_->WorkerRunning();
}

bool TSDIAppForm::WaitForUpdate(std::chrono::milliseconds limit) const {
    return bridge_->WaitForWorker(limit);
}

void TSDIAppForm::ReleaseWorker() {
    bridge_->Close();
}

void TSDIAppForm::ShowBox(BoxKind kind, const QString& caption, const QString& text) {
    QMessageBox box(kind == BoxKind::Error ? QMessageBox::Critical : QMessageBox::Information,
                    caption, text, QMessageBox::Ok, this);
    box.exec();
}

bool TSDIAppForm::ExecuteOpenDialog() {
    return OpenDialog->Execute(this);
}

void TSDIAppForm::closeEvent(QCloseEvent* event) {
    ReleaseWorker();
    QWidget::closeEvent(event);
}

}  // namespace tolvex::app
