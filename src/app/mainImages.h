#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QList>

// The pictures of the main window, drawn at run time so they stay crisp at any size.

// The tree's row images (24 x 24): a computer that answered its last check, and one that didn't.
QIcon ComputerImage(bool online);
// The row image of a computer that answers, but from a hardware address that is none of its stored ones.
QIcon OtherMacImage();

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

// The grey that stands for a colour in a disabled image: all three components
// min(addition, 100) + (red + green + blue) div 3, capped at 240.
QColor GreyLevel(const QColor& color, int addition);
// A greyed copy of an image: drawn over magenta, every pixel turned to its grey level (addition 30),
// then the grey of the top-left pixel made transparent.
QImage GreyedImage(const QImage& source, const QSize& size);
// Gives each image, at each of the sizes, its greyed copy as the pixmap shown when disabled.
void MakeDisabledImages(QList<QIcon>& images, const QList<QSize>& sizes);
