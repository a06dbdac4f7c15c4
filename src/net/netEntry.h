#pragma once

#include <QString>
#include <QtGlobal>

// What kind of network resource a browsed entry is.
enum TNetEntryKind : quint8
{
    nekDomain = 0,
    nekGeneric = 1,
    nekServer = 2,
    nekShare = 3,
    nekGroup = 4,
    nekNetwork = 5,
    nekRoot = 6,
    nekShareAdmin = 7,
    nekDirectory = 8,
    nekTree = 9,
    nekNdsContainer = 10,
    nekOther = 11,
};

// One browsed network resource: the data of one node of the browse dialog's tree.
struct TNetEntry
{
    QString LocalName;
    QString RemoteName;
    QString Provider;
    QString Comment;
    TNetEntryKind EntryKind = nekGeneric;
};
