#pragma once

#include <QEvent>

// Messages between the progress window and the window that waits with it. Both carry no data and are
// delivered synchronously (QCoreApplication::sendEvent): the sender continues only after the receiver
// has handled them.
//
// WM_PROGRESSCLOSE: sent to the progress window to close (hide) it.
// WM_PROGRESSCANCEL: sent by the progress window to its NotifyWindow when the user cancels.
inline constexpr QEvent::Type WM_PROGRESSCLOSE = static_cast<QEvent::Type>(1531);
inline constexpr QEvent::Type WM_PROGRESSCANCEL = static_cast<QEvent::Type>(1532);
