#pragma once
// An OperationsUi that remembers what the core told the windows.
#include <optional>
#include <string>
#include <vector>

#include "core/operations_ui.h"

struct RecordingUi : core::OperationsUi {
    bool sheetShown = false;
    int shows = 0;
    int hides = 0;
    std::string sheetText;
    std::vector<int> progress;
    int listChanges = 0;
    std::optional<bool> saveFind;
    std::optional<std::string> source;
    bool selfTestStartedCalled = false;
    std::optional<bool> selfTest;
    std::vector<std::string> errors;

    void progressShow(const std::string& text) override { sheetShown = true; ++shows; sheetText = text; }
    void progressValue(int n) override { progress.push_back(n); }
    void progressHide() override { sheetShown = false; ++hides; }
    void listChanged() override { ++listChanges; }
    void setSaveFindEnabled(bool on) override { saveFind = on; }
    void setSourceText(const std::string& text) override { source = text; }
    void selfTestStarted() override { selfTestStartedCalled = true; }
    void selfTestResult(bool passed) override { selfTest = passed; }
    void showError(const std::string& text) override { errors.push_back(text); }
};
