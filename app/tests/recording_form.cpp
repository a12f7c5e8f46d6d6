#include "recording_form.h"

#include <QCoreApplication>
#include <QFile>
#include <QThread>
#include <cstdint>

#include "sim/simulator.h"

namespace tolvex::app::testing {

void RecordingForm::ShowBox(BoxKind kind, const QString& caption, const QString& text) {
    boxes.push_back(
        {kind, caption, text, QThread::currentThread() == QCoreApplication::instance()->thread()});
}

bool RecordingForm::ExecuteOpenDialog() {
    ++dialogShown;
    return dialogAnswer ? dialogAnswer(*OpenDialog) : false;
}

void WriteUpdateFile(const QString& path, std::size_t payload, const char* model) {
    QByteArray bytes("TolvexFile");
    bytes.append(model);
    std::uint32_t seed = 12345;
    for (std::size_t i = 0; i + 4 < payload; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes.append(static_cast<char>(seed >> 24));
    }
    bytes.append("\x5A\xA5\x5A\xA5", 4);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        qFatal("cannot write %s", qPrintable(path));
    }
}

UpdateOptions SimulatorOptions() {
    UpdateOptions options;
    options.bindDriver = [](D2xxBinding& binding) { return sim::BindInProcess(binding); };
    return options;
}

}  // namespace tolvex::app::testing
