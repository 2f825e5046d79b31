#pragma once

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include "crs/Crs.h"

namespace quorvel::test {

// PROJ's command-line answer: one line "a b" in, one line out, in the order
// of the systems' EPSG axes.
inline std::vector<SystemPoint> Cs2cs(const std::string& arguments, const std::vector<SystemPoint>& points)
{
    // Tests run side by side, each a process of its own.
    const std::string stem = ::testing::TempDir() + "cs2cs_" + std::to_string(::getpid());
    const std::string in = stem + "_in.txt";
    const std::string out = stem + "_out.txt";
    {
        std::ofstream file(in);
        file.precision(12);
        for (const SystemPoint& p : points)
            file << p.x << ' ' << p.y << '\n';
    }
    const std::string command = "cs2cs -d 10 " + arguments + " < " + in + " > " + out;
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::ifstream file(out);
    std::vector<SystemPoint> result;
    SystemPoint p;
    double z = 0;
    while (file >> p.x >> p.y >> z)
        result.push_back(p);
    EXPECT_EQ(result.size(), points.size()) << command;
    return result;
}

inline std::vector<SystemPoint> Swapped(std::vector<SystemPoint> points)
{
    for (SystemPoint& p : points)
        std::swap(p.x, p.y);
    return points;
}

// PROJ's conversions with EPSG:1660 chosen, in the traditional GIS order:
// Gauss-Boaga to system, and back.
inline std::vector<SystemPoint> ProjFromGaussBoaga(ReferenceSystem system, const std::vector<SystemPoint>& gb)
{
    const std::vector<SystemPoint> latLon = Cs2cs("--no-ballpark EPSG:3004 EPSG:4326", gb);
    if (system == ReferenceSystem::Wgs84)
        return Swapped(latLon);
    return Swapped(Cs2cs("EPSG:6706 EPSG:" + std::to_string(EpsgCode(system)), latLon));
}

inline std::vector<SystemPoint> ProjToGaussBoaga(ReferenceSystem system, const std::vector<SystemPoint>& points)
{
    std::vector<SystemPoint> latLon = Swapped(points);
    if (system != ReferenceSystem::Wgs84)
        latLon = Cs2cs("EPSG:" + std::to_string(EpsgCode(system)) + " EPSG:6706", latLon);
    return Cs2cs("--no-ballpark EPSG:4326 EPSG:3004", latLon);
}

}  // namespace quorvel::test
