// Test doubles for the window: a form that records its boxes instead of opening them and
// answers the file dialog itself, and sample update files.
#pragma once

#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <string>
#include <vector>

#include "app/sdi_app_form.h"

namespace tolvex::app::testing {

struct Box {
    TSDIAppForm::BoxKind kind;
    QString caption;
    QString text;
    bool onUiThread;
};

class RecordingForm : public TSDIAppForm {
    Q_OBJECT
  public:
    using TSDIAppForm::TSDIAppForm;

    void ShowBox(BoxKind kind, const QString& caption, const QString& text) override;

    std::vector<Box> boxes;
    int dialogShown = 0;
    // Answers the dialog: sets OpenDialog->FileName and returns true, or returns false
    // (cancel). Empty: cancel.
    std::function<bool(TOpenDialog&)> dialogAnswer;

  protected:
    bool ExecuteOpenDialog() override;
};

// Writes "TolvexFile" + model + `payload` bytes (the last four the trailer) to `path`.
void WriteUpdateFile(const QString& path, std::size_t payload, const char* model = "999999");

// Binds the installed in-process simulator.
UpdateOptions SimulatorOptions();

}  // namespace tolvex::app::testing
