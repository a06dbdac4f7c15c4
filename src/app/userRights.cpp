#include "app/userRights.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>
#include <vector>

bool IsUserAdmin()
{
    if (geteuid() == 0)
        return true;
    const passwd* account = getpwuid(geteuid());
    if (!account || !account->pw_name)
        return false;
    return IsUserAdmin(QString::fromLocal8Bit(account->pw_name));
}

bool IsUserAdmin(const QString& userName)
{
    if (userName.isEmpty())
        return false;
    const QByteArray name = userName.toLocal8Bit();
    passwd record{};
    passwd* account = nullptr;
    std::vector<char> buffer(16384);
    if (getpwnam_r(name.constData(), &record, buffer.data(), buffer.size(), &account) != 0 || !account)
        return false;
    if (account->pw_uid == 0)
        return true;

    int count = 64;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    if (getgrouplist(name.constData(), account->pw_gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<size_t>(count));
        if (getgrouplist(name.constData(), account->pw_gid, groups.data(), &count) < 0)
            return false;
    }
    groups.resize(static_cast<size_t>(count));

    static const char* const adminGroups[] = {"sudo", "wheel", "admin"};
    for (const char* groupName : adminGroups) {
        group groupRecord{};
        group* found = nullptr;
        std::vector<char> groupBuffer(65536);
        if (getgrnam_r(groupName, &groupRecord, groupBuffer.data(), groupBuffer.size(), &found) != 0 ||
            !found)
            continue;
        for (gid_t gid : groups)
            if (gid == found->gr_gid)
                return true;
    }
    return false;
}
