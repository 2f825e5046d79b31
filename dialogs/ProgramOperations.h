#pragma once

#include "rain/PointRun.h"
#include "report/Register.h"

namespace quorvel {

// The real operations behind a point run: the application folder of the
// executable "Quorvel", the grids of the working directory, the report writer
// and the register of runs, whose digests it keeps for the program's life.
class ProgramOperations : public PointRunOperations {
public:
    std::string GetAppFolder() override;
    PointRain ComputeCellRain(GridCell cell) override;
    GridArea ParameterGridArea() override;
    bool IsSafeOutputName(const std::string& outputName) override;
    bool ReportExists(const std::string& appFolder, const std::string& outputName) override;
    void WriteRainReport(float east, float north, float centreEast, float centreNorth, float a2,
                         float q2, float q5, float q10, float q20, float q50, float q100,
                         float q200, const std::string& appFolder,
                         const std::string& outputName) override;
    void AppendToRegister(PointRunResult& result) override;

private:
    FileDigests digests_;
};

}  // namespace quorvel
