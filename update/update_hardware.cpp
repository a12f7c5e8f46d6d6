#include "update/update_hardware.h"

#include "bootloader/bootloader.h"
#include "link/serial_link.h"
#include "updatefile/update_file.h"

namespace tolvex {

namespace {

constexpr std::uint32_t kTransferReadMs = 2000;
constexpr std::uint32_t kTransferWriteMs = 1000;
constexpr std::uint32_t kCheckpointEvery = 100;

// Which of the two labels the front end is showing, so that a failure hides exactly those
// and every exit leaves both hidden.
class Labels {
  public:
    explicit Labels(UpdateFrontEnd& frontEnd) : frontEnd_(frontEnd) {}
    ~Labels() { HideAll(); }
    Labels(const Labels&) = delete;
    Labels& operator=(const Labels&) = delete;

    void ShowStatus() {
        frontEnd_.SetStatusVisible(true);
        status_ = true;
    }
    void ShowEstimate() {
        frontEnd_.SetEstimateVisible(true);
        estimate_ = true;
    }
    void HideStatus() {
        if (status_) {
            frontEnd_.SetStatusVisible(false);
            status_ = false;
        }
    }
    void HideEstimate() {
        if (estimate_) {
            frontEnd_.SetEstimateVisible(false);
            estimate_ = false;
        }
    }
    void HideAll() {
        HideStatus();
        HideEstimate();
    }

  private:
    UpdateFrontEnd& frontEnd_;
    bool status_ = false;
    bool estimate_ = false;
};

// Blocks the payload needs: everything after the header, the last one possibly short.
std::uint32_t PayloadBlocks(std::uint32_t fileSize) {
    if (fileSize <= kUpdateHeaderSize) {
        return 0;
    }
    const std::uint32_t payload = fileSize - static_cast<std::uint32_t>(kUpdateHeaderSize);
    return payload / kBlockSize + (payload % kBlockSize != 0 ? 1u : 0u);
}

}  // namespace

std::string_view UpdateMessage(UpdateResult result) {
    switch (result) {
        case UpdateResult::Ok:
            return "Hardware updated correctly!";
        case UpdateResult::DriverNotFound:
            return "FTD2XX.DLL not found";
        case UpdateResult::DriverInterface:
            return "Error interfacing FTD2XX.DLL";
        case UpdateResult::FileNotReadable:
            return "File not readable!";
        case UpdateResult::ConnectFailed:
            return "Unable to connect to the hardware!";
        case UpdateResult::UnknownHardware:
            return "Unknown hardware!";
        case UpdateResult::EraseFailed:
            return "Error on erasing the hardware!";
        case UpdateResult::TransmitFailed:
            return "Error on transmitting data to hardware!";
        case UpdateResult::VerifyFailed:
            return "Error on verifying the hardware!";
        case UpdateResult::CloseFailed:
            return "Error on closing USB!";
        case UpdateResult::Stopped:
            return "";
    }
    return "";
}

UpdateResult UpdateHardware(const std::string& path, UpdateFrontEnd& frontEnd,
                            const UpdateOptions& options) {
    // Declared in acquisition order, so leaving the scope on any path closes the link, then
    // the file, then releases the library. The labels go first of all.
    D2xxBinding binding;
    UpdateFile file;
    Link link;
    Labels labels(frontEnd);
    ProgressDisplay progress(frontEnd, options.clock);

    // Hide what is visible, then the box; the scope releases the rest once it is dismissed.
    const auto fail = [&](UpdateResult result) {
        labels.HideAll();
        frontEnd.ShowError(result, UpdateMessage(result));
        return result;
    };

    // Load the driver and resolve its entry points.
    const D2xxBindResult bound =
        options.bindDriver ? options.bindDriver(binding) : BindD2xx(binding);
    if (bound != D2xxBindResult::Ok) {
        frontEnd.OnDriverFailed(binding.detail);
        return fail(bound == D2xxBindResult::NotFound ? UpdateResult::DriverNotFound
                                                      : UpdateResult::DriverInterface);
    }
    frontEnd.OnDriverBound(binding.detail);

    // The file's own checks come before any contact with the hardware.
    if (!file.Open(path)) {
        return fail(UpdateResult::FileNotReadable);
    }
    const std::uint32_t fileSize = file.Size();

    // Connect, clear the queues, identify.
    ConnectStep failedAt = ConnectStep::None;
    if (!ConnectHardware(binding.entryPoints, link, &failedAt)) {
        frontEnd.OnConnectFailed(failedAt);
        return fail(UpdateResult::ConnectFailed);
    }
    PurgeLink(link);
    std::string hardwareId;
    if (!ReadHardwareId(link, hardwareId)) {
        return fail(UpdateResult::ConnectFailed);
    }
    frontEnd.OnHardwareId(hardwareId);
    if (hardwareId.empty()) {
        return fail(UpdateResult::ConnectFailed);
    }

    // The file must belong to this hardware before anything is erased.
    switch (MatchHardware(file.Header(), hardwareId)) {
        case HardwareMatch::Matches:
            break;
        case HardwareMatch::HeaderMismatch:
            return fail(UpdateResult::FileNotReadable);
        case HardwareMatch::UnknownHardware:
            return fail(UpdateResult::UnknownHardware);
    }

    // Last chance to stop with the hardware untouched: from the erase on it is not.
    if (frontEnd.StopRequested()) {
        return UpdateResult::Stopped;
    }

    // The estimate counts blocks over the whole file, header included.
    BlockSize = kBlockSize;
    const std::uint32_t totalBlocks = fileSize / kBlockSize;

    // Erase, with both labels up.
    progress.ShowStatus(kStatusErasing);
    labels.ShowStatus();
    progress.InitialEstimate(fileSize);
    labels.ShowEstimate();
    if (!EraseHardware(link)) {
        return fail(UpdateResult::EraseFailed);
    }

    progress.ShowStatus(kStatusTransmitting);
    if (!SetLinkTimeouts(link, kTransferReadMs, kTransferWriteMs)) {
        return fail(UpdateResult::TransmitFailed);
    }

    // Stream the payload; the clock is read only at the start and every 100 calls.
    TransferProgress transfer;
    transfer.totalBlocks = PayloadBlocks(fileSize);
    std::uint32_t blockIndex = 0;
    std::uint32_t blocksDone = 0;
    std::uint32_t runningSum = 0;
    int result = kTransmitFailed;
    progress.StartClock();
    do {
        TransmitInfo info;
        result = TransmitBlock(file, link, runningSum, blockIndex, &info);
        ++blocksDone;
        ++blockIndex;
        if (blocksDone % kCheckpointEvery == 0) {
            progress.Checkpoint(totalBlocks, blocksDone);
        }

        transfer.blocksDone = blocksDone;
        if (result != kTransmitFailed) {
            transfer.payloadBytes += info.payloadBytes;
        }
        if (info.attempts > 1) {
            transfer.retries += info.attempts - 1;
        }
        frontEnd.OnTransferProgress(transfer);

        if (result == kTransmitMore && frontEnd.StopRequested()) {
            labels.HideAll();
            return UpdateResult::Stopped;
        }
    } while (result == kTransmitMore);

    labels.HideEstimate();
    file.Close();
    if (result == kTransmitFailed) {
        return fail(UpdateResult::TransmitFailed);
    }

    progress.ShowStatus(kStatusVerifying);
    if (!VerifyHardware(link, runningSum)) {
        return fail(UpdateResult::VerifyFailed);
    }

    // A failed close still leaves the link closed.
    if (!link.Close()) {
        return fail(UpdateResult::CloseFailed);
    }

    // Leaving the scope releases the library.
    labels.HideStatus();
    return UpdateResult::Ok;
}

}  // namespace tolvex
