#include "dialogs/PointDialogsImpl.h"

#include "dialogs/Form2.h"
#include "dialogs/Form3.h"

namespace quorvel {

void PointDialogsImpl::ShowMapPointDialog(MainWindowHost& host)
{
    Form2 dialog(host, operations_);
    dialog.exec();
}

void PointDialogsImpl::ShowCoordinateDialog(MainWindowHost& host)
{
    Form3 dialog(host, operations_);
    dialog.ChooseSystem(system_);
    dialog.exec();
    system_ = dialog.System();
}

}  // namespace quorvel
