#pragma once

#include "crs/Crs.h"
#include "dialogs/ProgramOperations.h"
#include "window/MainWindowHost.h"

namespace quorvel {

// Opens a fresh Form2 or Form3 at each call, modally, and unloads it when it
// closes. Runs go through the program's real operations unless others are given.
// The typed coordinates' reference system is kept from one opening to the next.
class PointDialogsImpl : public PointDialogs {
public:
    PointDialogsImpl() : operations_(own_) {}
    explicit PointDialogsImpl(PointRunOperations& operations) : operations_(operations) {}

    void ShowMapPointDialog(MainWindowHost& host) override;
    void ShowCoordinateDialog(MainWindowHost& host) override;

private:
    ProgramOperations own_;
    PointRunOperations& operations_;
    ReferenceSystem system_ = ReferenceSystem::GaussBoagaEast;
};

}  // namespace quorvel
