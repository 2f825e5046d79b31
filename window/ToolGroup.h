#pragma once

class QAbstractButton;
class QButtonGroup;
class QObject;

namespace quorvel {

// The tools that stay in force until another is chosen.
enum class MapTool { None, Pan, ZoomIn, ZoomOut, Pick };

// The buttons of those tools as one exclusive group: the button of the tool
// in force stays pressed, so the user sees which one that is.
class ToolGroup {
public:
    explicit ToolGroup(QObject* owner);

    void Add(MapTool tool, QAbstractButton* button);
    // Presses the tool's button and releases the others; None releases all.
    void Show(MapTool tool);
    MapTool Shown() const;

private:
    QButtonGroup* group_;
};

}  // namespace quorvel
