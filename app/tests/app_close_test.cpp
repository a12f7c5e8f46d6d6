// Closing the window during an update ends the program: the real event loop and exit path
// (RunApplication) with the window closed mid-update. Run as its own process per case:
//   app_close_test transfer  the update is streaming; the worker stops after its block
//   app_close_test stuck     the worker never comes back from the driver
// Exit code 0 is the pass for "stuck"; "transfer" must also reach its closing line, so that a
// process ended early by the grace period does not pass. A hang is caught by the time-out.
#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "app/run_application.h"
#include "recording_form.h"
#include "sim/simulator.h"

using namespace tolvex::app;
using tolvex::app::testing::RecordingForm;
namespace sim = tolvex::sim;

namespace {

int Fail(const char* what) {
    std::fprintf(stderr, "app_close_test: %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 2 ||
        (std::strcmp(argv[1], "transfer") != 0 && std::strcmp(argv[1], "stuck") != 0)) {
        return Fail("usage: app_close_test transfer|stuck");
    }
    const bool stuck = std::strcmp(argv[1], "stuck") == 0;
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString file = dir.filePath("fw.tvu");
    testing::WriteUpdateFile(file, 200000);

    tolvex::UpdateOptions options;
    if (stuck) {
        // A driver load that never returns, e.g. a hung device driver.
        options.bindDriver = [](tolvex::D2xxBinding&) {
            static std::mutex mutex;
            static std::condition_variable never;
            std::unique_lock lock(mutex);
            never.wait(lock, [] { return false; });
            return tolvex::D2xxBindResult::NotFound;
        };
    } else {
        sim::Scenario scenario;
        std::string error;
        if (!sim::ParseScenario("timescale=1;erase_ms=100", scenario, error)) {
            return Fail(error.c_str());
        }
        sim::InstallSimulator(scenario);
        options = testing::SimulatorOptions();
    }

    auto owned = std::make_unique<RecordingForm>(file, options);
    RecordingForm& form = *owned;
    // Click once the loop runs; close once the update is under way.
    QTimer::singleShot(0, &form, [&form] { form.SpeedButton1->click(); });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &form, [&form, &poll, stuck] {
        if (stuck ? form.UpdateRunning() : form.Sending->text() == "Transmitting...") {
            poll.stop();
            form.close();
        }
    });
    poll.start(10);

    const int code = RunApplication(form);
    // Only the transfer case gets here: its worker ended within the grace period.
    if (stuck) {
        return Fail("a worker stuck in the driver should have ended the process");
    }
    if (code != 0) {
        return Fail("the event loop did not end with 0");
    }
    if (form.UpdateRunning()) {
        return Fail("the worker is still running");
    }
    if (!form.boxes.empty()) {
        return Fail("a box was shown after the window closed");
    }
    const sim::Snapshot seen = sim::Inspect();
    if (seen.closes != seen.opens || seen.releases != seen.binds) {
        return Fail("the device or the driver was not released");
    }
    owned.reset();  // the window goes first, as in the program
    std::printf("app_close_test: update stopped and released, window closed cleanly\n");
    return code;
}
