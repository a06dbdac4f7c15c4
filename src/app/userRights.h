// No class: whether a user holds administrator privilege here.
#pragma once

#include <QString>

// Whether the logged-on user holds administrator privilege here.
bool IsUserAdmin();
// Whether the named account is an administrator: root, or a member (primary or supplementary group)
// of one of the groups sudo, wheel or admin. An unknown account is not.
bool IsUserAdmin(const QString& userName);
