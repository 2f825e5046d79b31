#pragma once

namespace quorvel {

// Qt ends a program whose windowing system it cannot reach with an English
// message of its own. This says beforehand, for the platform Qt would choose
// (-platform, else QT_QPA_PLATFORM, else the desktop's xcb or wayland),
// whether there is a display to show windows on; platforms that need none,
// such as offscreen, always have one.
bool HasGraphicalSession(int argc, const char* const* argv);

// What the program says, in Italian, when there is none.
inline constexpr const char* kNoGraphicalSession =
    "Quorvel: serve una sessione grafica, ma non c'è uno schermo (le variabili DISPLAY e WAYLAND_DISPLAY "
    "non sono impostate). Avviare Quorvel dal desktop; per calcolare dalla riga di comando usare quorvel-batch.";

}  // namespace quorvel
