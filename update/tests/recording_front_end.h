// A front end that records every call, for checking what the update shows and in which order.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "update/front_end.h"

namespace tolvex::test {

class RecordingFrontEnd : public UpdateFrontEnd {
  public:
    // "status=TEXT", "status:show", "status:hide", "estimate=TEXT", "estimate:show",
    // "estimate:hide", "error=TEXT".
    std::vector<std::string> calls;
    std::vector<UpdateResult> errors;
    std::string hardwareId;
    std::vector<TransferProgress> progress;
    int driverBound = 0;
    int driverFailed = 0;
    int connectFailed = 0;
    // StopRequested answers true once this many blocks were reported (0: never).
    std::uint32_t stopAfterBlocks = 0;
    bool stopFromTheStart = false;  // a stop asked for before the update began
    // What the labels show right now, and whether the boxes came with them hidden.
    bool statusVisible = false;
    bool estimateVisible = false;
    bool labelVisibleAtError = false;

    void SetStatusText(std::string_view text) override {
        calls.push_back("status=" + std::string(text));
    }
    void SetStatusVisible(bool visible) override {
        statusVisible = visible;
        calls.push_back(visible ? "status:show" : "status:hide");
    }
    void SetEstimateText(std::string_view text) override {
        calls.push_back("estimate=" + std::string(text));
    }
    void SetEstimateVisible(bool visible) override {
        estimateVisible = visible;
        calls.push_back(visible ? "estimate:show" : "estimate:hide");
    }
    void ShowError(UpdateResult result, std::string_view message) override {
        labelVisibleAtError = labelVisibleAtError || statusVisible || estimateVisible;
        errors.push_back(result);
        calls.push_back("error=" + std::string(message));
    }
    void OnDriverBound(const std::string&) override { ++driverBound; }
    void OnDriverFailed(const std::string&) override { ++driverFailed; }
    void OnConnectFailed(ConnectStep) override { ++connectFailed; }
    void OnHardwareId(std::string_view id) override { hardwareId = std::string(id); }
    void OnTransferProgress(const TransferProgress& p) override { progress.push_back(p); }
    bool StopRequested() override {
        return stopFromTheStart || (stopAfterBlocks != 0 && !progress.empty() &&
                                    progress.back().blocksDone >= stopAfterBlocks);
    }

    // Only the estimate texts, in order.
    std::vector<std::string> EstimateTexts() const {
        std::vector<std::string> texts;
        for (const auto& call : calls) {
            if (call.rfind("estimate=", 0) == 0) {
                texts.push_back(call.substr(9));
            }
        }
        return texts;
    }
};

}  // namespace tolvex::test
