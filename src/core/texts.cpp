#include "core/texts.h"

#include <QHash>

namespace Res {

namespace {

const QHash<int, QString>& Table()
{
    // Never destroyed: workers still running while the process exits read their texts from it.
    static const auto& table = *new QHash<int, QString>{
        {MainColName, QStringLiteral("Name")},
        {MainColMAC, QStringLiteral("MAC Address")},
        {MainColIP, QStringLiteral("IP Address")},
        {AcNewCompManual, QStringLiteral("New computer...")},
        {AcNewCompManualHint, QStringLiteral("Adds a new computer to the database.")},
        {AcEditDelete, QStringLiteral("Delete")},
        {AcEditDeleteHint, QStringLiteral("Removes the selected computer from the database.")},
        {AcEditProperties, QStringLiteral("Properties...")},
        {AcEditPropertiesHint, QStringLiteral("Displays the properties of the selected computer.")},
        {AcToolsWakeUp, QStringLiteral("Activate")},
        {AcToolsWakeUpHint, QStringLiteral("Attempts to activate the selected computer")},
        {AcFileExit, QStringLiteral("Exit")},
        {AcHelpAbout, QStringLiteral("About...")},
        {AcHelpSablewickPro, QStringLiteral("Get Sablewick Professional")},
        {AcHelpOstrelDev, QStringLiteral("Ostrel Development web site")},
        {AcHelpQuandrel, QStringLiteral("Quandrel web site")},
        {AcHelpSupport, QStringLiteral("Support forums")},
        {MenuFile, QStringLiteral("&File")},
        {MenuEdit, QStringLiteral("&Edit")},
        {MenuTools, QStringLiteral("&Tools")},
        {MenuHelp, QStringLiteral("&Help")},
        {MenuNew, QStringLiteral("New")},
        {MenuNewCompManual, QStringLiteral("Ne&w computer...")},
        {MenuFileExit, QStringLiteral("&Exit")},
        {MenuEditDelete, QStringLiteral("&Delete")},
        {MenuEditProperties, QStringLiteral("&Properties...")},
        {MenuToolsWakeUp, QStringLiteral("&Activate")},
        {MenuHelpSablewickPro, QStringLiteral("&Get Sablewick Professional")},
        {MenuHelpOstrelDev, QStringLiteral("&Ostrel Development web site")},
        {MenuHelpQuandrel, QStringLiteral("&Quandrel web site")},
        {MenuHelpSupport, QStringLiteral("&Support forums")},
        {MenuHelpAbout, QStringLiteral("&About...")},

        {MacRequired, QStringLiteral("You need to specify at least one valid MAC address!     ")},
        {MacInvalid, QStringLiteral("Invalid MAC address!     ")},
        {IPNotValid, QStringLiteral("\"%1\" is not a valid IP address!     ")},
        {IPRequired, QStringLiteral("You need to specify a valid IP address or host name!     ")},
        {NotAdministrator,
         QStringLiteral("Sablewick is unable to startup because your user account     \r\n"
                        "does not include administrative priviliges!\r\n\r\n"
                        "Please logon with an adminstrator account or contact your\r\n"
                        "system administrator for more information.")},
        {WizIPCaption, QStringLiteral("Specify IP Address")},
        {WizIPDescr, QStringLiteral("Enter the computer's IP address or use Auto-detect.")},
        {WizMACCaption, QStringLiteral("Specify networkcard MAC-address")},
        {WizMACDescr, QStringLiteral("Enter the MAC-address of the computer's networkcard")},
        {WizFinishCaption, QStringLiteral("Add computer")},
        {WizFinishDescr, QStringLiteral("Add the computer to the database or review your selections")},
        {WizFinish, QStringLiteral("Finish")},
        {WizNext, QStringLiteral("Next >")},
        {WizNameRequired, QStringLiteral("You must provide a name for the computer you wish to add!     ")},
        {WizIPInvalid, QStringLiteral("You must specify a valid IP address!     ")},
        {WizMACInvalid, QStringLiteral("You must specify a valid MAC address!     ")},
        {WizHomeNetwork, QStringLiteral("Home network (LAN)")},
        {WizInternet, QStringLiteral("Internet")},
        {WizSummary, QStringLiteral("Computer name\t: %1\r\nConnection\t: %2\r\nIP Address\t: %3\r\nMAC Address\t: %4")},
        {WizDetectingMAC, QStringLiteral("Attempting to auto-detect MAC-address...")},
        {HintIPAddress, QStringLiteral("IP Address: %1")},
        {HintMACAddress, QStringLiteral("MAC Address: %1")},
        {HintComments, QStringLiteral("Comments: %1")},
        {HintOnline, QStringLiteral(" (Online)")},
        {HintOffline, QStringLiteral(" (Offline)")},
        {WizNameCaption, QStringLiteral("Specify name and connection type")},
        {WizNameDescr, QStringLiteral("Specify the name of the computer and how it's connected.")},
        {DeleteOne,
         QStringLiteral("The computer \"%1\" will be removed from the database!     \r\nDo you want to continue?")},
        {DeleteMany,
         QStringLiteral("The selected items will be removed from the database!     \r\nDo you want to continue?")},

        {ProductName, QStringLiteral("Sablewick")},
        {DbOpenError, QStringLiteral("Unable to open the database \"%1\"!\r\n%2")},
        {DbCreateError, QStringLiteral("Unable to create the database \"%1\"!\r\n%2")},
        {DbTempError, QStringLiteral("Unable to create temporary file due to the following error:\r\n%1")},
        {DbSaveError, QStringLiteral("Unable to save the database \"%1\"!\r\n%2")},
        {MaskInvalidInput, QStringLiteral("Invalid input value.  Use escape key to abandon changes")},
        {PingResponse, QStringLiteral("Response from %1 in %2 millisec.")},
        {PingUnknownError, QStringLiteral("Unknown error")},
        {PingTimedOut, QStringLiteral("Timed out")},
        {PingUnreachable, QStringLiteral("%1 reports destination network unreachable")},
        {PingTtlExpired, QStringLiteral("%1 TTL expired")},
        {PingException, QStringLiteral("Exception: %1")},
        {PingCannotAllocate, QStringLiteral("Cannot allocate socket.")},
        {PingNotEnoughBytes, QStringLiteral("Not enough bytes received")},
        {PingNonEcho, QStringLiteral("Non-echo type response received")},
        {SocketError, QStringLiteral("Socket Error # %1\r\n%2")},
        {SchedNA, QStringLiteral("N/A")},
        {SchedEveryDay, QStringLiteral("Every day at ")},
        {SchedEveryNDays, QStringLiteral("Every %1 days at ")},
        {SchedEveryWeek, QStringLiteral("Every week on ")},
        {SchedEveryNWeeks, QStringLiteral("Every %1 weeks on ")},
        {SchedAt, QStringLiteral("; at ")},
        {SchedEveryFirst, QStringLiteral("Every first ")},
        {SchedEverySecond, QStringLiteral("Every second ")},
        {SchedEveryThird, QStringLiteral("Every third ")},
        {SchedEveryFourth, QStringLiteral("Every fourth ")},
        {SchedEveryLast, QStringLiteral("Every last ")},
        {SchedOfEveryMonth, QStringLiteral(" of every month at ")},
        {SchedDayOfMonth, QStringLiteral("Day %1 of every month at ")},
        {SchedOnceFormat, QStringLiteral("MMMM dd, yyyy, ")},
        {SchedTime, QStringLiteral("%1:%2 hrs")},
        {SchedSun, QStringLiteral("Sun")},
        {SchedMon, QStringLiteral("Mon")},
        {SchedTue, QStringLiteral("Tue")},
        {SchedWed, QStringLiteral("Wed")},
        {SchedThu, QStringLiteral("Thu")},
        {SchedFri, QStringLiteral("Fri")},
        {SchedSat, QStringLiteral("Sat")},
        {LibraryNotFound, QStringLiteral("Library not found: %1")},
        {FunctionNotFound, QStringLiteral("Function not found: %1.%2")},
        {VersionLine, QStringLiteral("Version %1 [%2]")},

        {WizCaption, QStringLiteral("New computer wizard")},
        {WizConnectedTo, QStringLiteral("This computer is connected to:")},
        {WizHomeNetworkItem, QStringLiteral("the home network (LAN)")},
        {WizInternetItem, QStringLiteral("the Internet")},
        {WizComputerName, QStringLiteral("Computer name:")},
        {WizBrowseNet, QStringLiteral("Browse network...")},
        {WizIPAddressLabel, QStringLiteral("IP Address:")},
        {WizAutoDetect, QStringLiteral("Auto-detect")},
        {WizMACAddressLabel, QStringLiteral("MAC address:")},
        {WizFinishedText,
         QStringLiteral("You have finished the New computer wizard! Click Finish to add the computer to the "
                        "database. Click Back to review  your selections or click Cancel to exit this wizard "
                        "without adding a computer to the database.")},
        {WizBack, QStringLiteral("< Back")},
        {WizCancel, QStringLiteral("Cancel")},
        {NetEnumCaption, QStringLiteral("Browse network")},
        {NetEnumComputers, QStringLiteral("Computers")},
        {NetEnumComments, QStringLiteral("Comments")},
        {NetEnumCancel, QStringLiteral("Cancel")},
        {NetEnumSelect, QStringLiteral("Select")},

        {LogoNotFound, QStringLiteral("Resource oemlogo not found")},
        {JpegError, QStringLiteral("JPEG error: %1")},
        {JpegTooLarge, QStringLiteral("JPEG error: the image is too large")},
        {JpegTooManyScans, QStringLiteral("JPEG error: the image has too many scans")},
        {AboutCopyright, QStringLiteral("Copyright \u00A9 2026 Ostrel Software")},
        {AboutRights, QStringLiteral("All rights reserved.")},
        {AboutPartner, QStringLiteral("Network components by Quandrel Labs")},
        {AboutWarning, QStringLiteral("This program is protected by copyright law. Copying or distributing it, "
                                      "or any part of it, without permission is not allowed.")},
        {StgNotCompoundFile, QStringLiteral("The file is not a valid compound file.")},
        {StgSharingViolation,
         QStringLiteral("The process cannot access the file because it is being used by another process.")},
        {SmbNetworkProvider, QStringLiteral("SMB Network")},

        {DbUnreadable,
         QStringLiteral("Unable to read the database \"%1\"! The file was left untouched.\r\n%2")},
        {StgIsDirectory, QStringLiteral("The name is a directory, not a regular file.")},
        {StgIsFifo, QStringLiteral("The name is a named pipe (FIFO), not a regular file.")},
        {StgIsSocket, QStringLiteral("The name is a socket, not a regular file.")},
        {StgIsDevice, QStringLiteral("The name is a device, not a regular file.")},
        {StgDanglingLink, QStringLiteral("The name is a symbolic link to a file that does not exist.")},
    };
    return table;
}

} // namespace

QString Str(int id)
{
    return Table().value(id);
}

} // namespace Res
