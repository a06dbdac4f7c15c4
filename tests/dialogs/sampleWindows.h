// Every window of the program in a telling state, for looking at its layout and for checking that its
// texts fit at any font and in any language.
#pragma once

#include <functional>
#include <QStringList>

class QWidget;

// Shows each window in turn (the wizard's pages, every page of the properties, the schedule in each of its
// kinds, About, progress, MAC, debug, browse, scan, relays, one relay, the group's schedule, options) and
// hands it to visit with a name such as "wizard-1". editionLibrary: an edition for a second About box, or
// empty. Relays are written to the relay file, so XDG_CONFIG_HOME must be a folder of the caller's own.
void ShowSampleWindows(const std::function<void(QWidget* window, const QString& name)>& visit,
                       const QString& editionLibrary);

// What of a shown window does not fit: texts larger than their controls, layouts given less room than they
// need, controls overlapping a sibling or leaving their parent. One line each; empty when all is well.
QStringList ClippedTexts(QWidget* window);

// The keyboard of a shown window: every field label (a text ending in ":") and every button has an
// accelerator, each label hands it to a control that takes the focus, and no two shown ones share a letter.
// One line per fault; empty when all is well.
QStringList AcceleratorProblems(QWidget* window);
