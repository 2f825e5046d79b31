#pragma once

#include <QCursor>

namespace quorvel {

// The map's pointer for an interaction mode and pointer value: the cross-hair
// whenever it is asked for; otherwise an open hand for pan (closed while
// grabbing), a magnifier with + or - for the zoom modes, the arrow for none.
QCursor MapPointerFor(int cursorMode, int mapCursor, bool grabbing);

}  // namespace quorvel
