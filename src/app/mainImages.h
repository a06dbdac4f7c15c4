#pragma once

#include <QIcon>

// The pictures of the main window, drawn at run time so they stay crisp at any size.

// The tree's row images (24 x 24): a computer that answered its last check, and one that didn't.
QIcon ComputerImage(bool online);

// The command images, by their place in the menu and tool bar image lists.
enum TCommandImage
{
    ciNewComputer = 0,
    ciWakeUp = 1,
    ciProperties = 2,
    ciDelete = 3,
    ciProfessional = 4,
    ciWebLink = 5,
};
// The command image at 16 x 16 (menus) and 24 x 24 (tool bar).
QIcon CommandImage(TCommandImage image);
