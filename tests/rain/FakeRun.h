#pragma once

#include <optional>
#include <string>
#include <vector>

#include "rain/Error.h"
#include "rain/PointRun.h"

namespace quorvel::test {

// The dialog and the operations in one, logging every step in order.
class FakeRun : public PointRunDialog, public PointRunOperations {
public:
    mutable std::vector<std::string> steps;
    std::vector<std::string> shown;  // the messages, in order
    std::string outputName = "Piogge", east = "2400000", north = "5100000";
    bool safeName = true;
    std::optional<Error> computeFailure, areaFailure, registerFailure;
    std::vector<PointRunResult> completed;
    std::optional<ConvertedPoint> converted;  // what Converted() gives
    std::optional<GridCell> cellAsked;        // of the last ComputeCellRain
    std::vector<float> written;  // the twelve numbers of the last write
    std::string writtenTo;       // its application folder and name

    std::string OutputName() const override { return Step("OutputName", outputName); }
    std::string EastText() const override { return Step("EastText", east); }
    std::string NorthText() const override { return Step("NorthText", north); }
    std::optional<ConvertedPoint> Converted() const override { return converted; }
    void ShowMessage(const std::string& text) override { shown.push_back(Step("ShowMessage", text)); }
    bool Ask(const std::string&) override { return Step("Ask", true); }
    void ResetMapPointer() override { Step("ResetMapPointer"); }
    void EnableMainWindow() override { Step("EnableMainWindow"); }
    void CloseDialog() override { Step("CloseDialog"); }
    void RunCompleted(const PointRunResult& result) override { completed.push_back(Step("RunCompleted", result)); }

    std::string GetAppFolder() override { return Step<std::string>("GetAppFolder", "/apps/quorvel/"); }
    PointRain ComputeCellRain(GridCell cell) override
    {
        cellAsked = cell;
        return Step("ComputeCellRain",
                    PointRain{.cell = {140, 181}, .centre = {2400250, 5100250}, .a2 = 0.375f,
                              .quantiles = {24.5f, 33.25f, 39.0f, 45.5f, 53.75f, 60.0f, 66.5f}},
                    computeFailure);
    }
    GridArea ParameterGridArea() override
    {
        return Step<GridArea>("ParameterGridArea", {2310000, 2425000, 5040000, 5170000}, areaFailure);
    }
    bool IsSafeOutputName(const std::string&) override { return Step("IsSafeOutputName", safeName); }
    bool ReportExists(const std::string&, const std::string&) override { return Step("ReportExists", false); }
    void WriteRainReport(float east, float north, float centreEast, float centreNorth, float a2, float q2, float q5,
                         float q10, float q20, float q50, float q100, float q200, const std::string& appFolder,
                         const std::string& name) override
    {
        Step("WriteRainReport");
        written = {east, north, centreEast, centreNorth, a2, q2, q5, q10, q20, q50, q100, q200};
        writtenTo = appFolder + name;
    }
    void AppendToRegister(PointRunResult&) override { Step("AppendToRegister", 0, registerFailure); }

private:
    // Logs the step, then fails as told or gives back the value.
    template <class T = int>
    T Step(const char* name, T value = {}, const std::optional<Error>& failure = {}) const
    {
        steps.push_back(name);
        if (failure)
            throw *failure;
        return value;
    }
};

}  // namespace quorvel::test
