// The main window: the update button, the chosen file, the status and estimate labels, and
// the worker thread that runs one update per click. Lives on the UI thread; only the worker
// front end (see sdi_app_form.cpp) crosses threads, through UiBridge.
#pragma once

#include <QLabel>
#include <QString>
#include <QWidget>
#include <chrono>
#include <memory>
#include <thread>

#include "app/components.h"
#include "app/ui_bridge.h"
#include "update/update_hardware.h"

namespace tolvex::app {

inline constexpr char kApplicationTitle[] = "Tolvex - USB Update";
inline constexpr char kWindowCaption[] = "Tolvex USB Ver. 1.00C";
// The message-box captions. Shown as they are: no step rewrites them.
inline constexpr char ErrorTitle[] = "!!! ERROR !!!";
inline constexpr char OkTitle[] = "--- OK ---";
inline constexpr char kUpdatedText[] = "Hardware updated correctly!";
inline constexpr char kDialogTitle[] = "Select the file to update the Tolvex hardware";
inline constexpr char kDialogFilter[] = "Tolvex files (*.tvu)|*.tvu";

// The application icon: 16, 32 and 54 px.
QIcon ApplicationIcon();

class TSDIAppForm : public QWidget {
    Q_OBJECT
  public:
    // `fileName`: the first command-line argument, or empty when there is none. `options`
    // binds the driver (empty: the platform's driver library).
    explicit TSDIAppForm(const QString& fileName, UpdateOptions options = {},
                         QWidget* parent = nullptr);
    // Lets a running worker go (it can no longer reach the window) without waiting for it.
    ~TSDIAppForm() override;
    TSDIAppForm(const TSDIAppForm&) = delete;
    TSDIAppForm& operator=(const TSDIAppForm&) = delete;

    // The components, in their declaration order (also their stacking order).
    TOpenDialog* OpenDialog;
    QLabel* Sending;
    QLabel* Label1;
    TStaticText* SmtE;
    TBevel* Bevel2;
    QLabel* ToTheEnd;
    QLabel* Image1;
    QLabel* Label2;
    TSpeedButton* SpeedButton1;

    // The click on SpeedButton1: takes the known file, or asks for one, and starts the worker.
    void FileSave1Execute();

    // True from the click that started an update until its worker has finished.
    bool UpdateRunning() const;
    // Blocks the UI thread up to `limit` for a running update to end; true when none runs.
    bool WaitForUpdate(std::chrono::milliseconds limit) const;
    // Lets the worker go: stops the transfer at the next block, and every later window call
    // of the worker returns at once (a box counts as dismissed). Called when the window
    // closes; idempotent.
    void ReleaseWorker();

    // UI thread, at the end of every update: enables the button again.
    void UpdateEnded(int result);

    enum class BoxKind { Error, Information };
    // UI thread. A modal box with one OK button; returns when it is dismissed.
    virtual void ShowBox(BoxKind kind, const QString& caption, const QString& text);

  signals:
    // UI thread, once per update, after the button is enabled again. `result` is the
    // UpdateResult as an int.
    void UpdateFinished(int result);

  protected:
    // UI thread. Shows OpenDialog; true with OpenDialog->FileName set, false when cancelled.
    virtual bool ExecuteOpenDialog();
    void closeEvent(QCloseEvent* event) override;

  private:
    void StartUpdate();

    UpdateOptions options_;
    std::shared_ptr<UiBridge> bridge_;
    std::thread worker_;
    bool updating_ = false;  // UI thread: from the click to UpdateEnded
};

}  // namespace tolvex::app
