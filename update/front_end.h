// What the update sequence needs of the front end that runs it (the window, the command
// line, or a test's recorder). Every call is made on the update worker thread; the front
// end must make label changes and boxes take effect on its UI thread, and must not return
// from ShowError until the user has dismissed the box.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "link/serial_link.h"

namespace tolvex {

enum class UpdateResult {
    Ok,
    DriverNotFound,   // "FTD2XX.DLL not found"
    DriverInterface,  // "Error interfacing FTD2XX.DLL"
    FileNotReadable,  // "File not readable!"
    ConnectFailed,    // "Unable to connect to the hardware!"
    UnknownHardware,  // "Unknown hardware!"
    EraseFailed,      // "Error on erasing the hardware!"
    TransmitFailed,   // "Error on transmitting data to hardware!"
    VerifyFailed,     // "Error on verifying the hardware!"
    CloseFailed,      // "Error on closing USB!"
    Stopped,          // the front end asked to stop during the transfer; no box is shown
};

// The user's text for a result; "Hardware updated correctly!" for Ok, "" for Stopped.
std::string_view UpdateMessage(UpdateResult result);

// Progress of the transfer after each TransmitBlock call.
struct TransferProgress {
    std::uint32_t blocksDone = 0;    // transmit calls so far
    std::uint32_t totalBlocks = 0;   // payload blocks the file will need (for a bar)
    std::uint64_t payloadBytes = 0;  // acknowledged payload bytes so far
    std::uint32_t retries = 0;       // frames re-sent so far in this transfer
};

class UpdateFrontEnd {
  public:
    virtual ~UpdateFrontEnd() = default;

    // The status label (`Sending`), always drawn centred.
    virtual void SetStatusText(std::string_view text) = 0;
    virtual void SetStatusVisible(bool visible) = 0;
    // The estimate label (`ToTheEnd`).
    virtual void SetEstimateText(std::string_view text) = 0;
    virtual void SetEstimateVisible(bool visible) = 0;
    // The modal error box: caption "!!! ERROR !!!", error icon, one OK button. Blocks the
    // worker until it is dismissed.
    virtual void ShowError(UpdateResult result, std::string_view message) = 0;

    // Optional: diagnostics and fine-grained progress. Defaults do nothing.
    virtual void OnDriverBound(const std::string& /*loadedPath*/) {}
    virtual void OnDriverFailed(const std::string& /*loaderText*/) {}
    virtual void OnConnectFailed(ConnectStep /*step*/) {}
    virtual void OnHardwareId(std::string_view /*hardwareId*/) {}
    virtual void OnTransferProgress(const TransferProgress& /*progress*/) {}

    // Polled once before the erase and then between blocks. When it returns true the update
    // ends there: before the erase with the hardware untouched, during the transfer after the
    // current block (the hardware is then erased and partly written). Everything is released
    // and the update returns Stopped without an error box.
    virtual bool StopRequested() { return false; }
};

}  // namespace tolvex
