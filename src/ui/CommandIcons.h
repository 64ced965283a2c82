#pragma once

#include <QIcon>

namespace qm::ui {

// The commands of the main window that carry an image in the toolbar or menus.
enum class CommandIcon
{
    Insert,
    Delete,
    Start,
    Stop,
    ClearStats,
    MessagePane,
    About,
    TraceRoute,
    Properties,
    Configure,
    ClearLogs,
    ViewLogs,
    Help,
};

// The image of a command, drawn as vectors at whatever size and scale is asked,
// with edges aligned to the pixel grid; the disabled mode is a faded grey.
QIcon commandIcon(CommandIcon which);

// The program's own icon: a tile with a pulse line and a green health light.
QIcon applicationIcon();

} // namespace qm::ui
