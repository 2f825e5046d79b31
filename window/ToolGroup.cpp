#include "window/ToolGroup.h"

#include <QAbstractButton>
#include <QButtonGroup>

namespace quorvel {

ToolGroup::ToolGroup(QObject* owner) : group_(new QButtonGroup(owner))
{
    group_->setExclusive(true);
}

void ToolGroup::Add(MapTool tool, QAbstractButton* button)
{
    button->setCheckable(true);
    group_->addButton(button, int(tool));
}

void ToolGroup::Show(MapTool tool)
{
    if (QAbstractButton* button = group_->button(int(tool))) {
        button->setChecked(true);
        return;
    }
    // An exclusive group keeps one button pressed unless it is told otherwise.
    group_->setExclusive(false);
    for (QAbstractButton* each : group_->buttons())
        each->setChecked(false);
    group_->setExclusive(true);
}

MapTool ToolGroup::Shown() const
{
    const int id = group_->checkedId();
    return id < 0 ? MapTool::None : MapTool(id);
}

}  // namespace quorvel
