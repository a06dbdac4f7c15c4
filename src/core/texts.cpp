#include "core/texts.h"

#include <algorithm>
#include <QCoreApplication>
#include <QHash>

namespace Res {

namespace {

const QHash<int, const char*>& Table()
{
    // Never destroyed: workers still running while the process exits read their texts from it.
    static const auto& table = *new QHash<int, const char*>{
        {MainColName, QT_TRANSLATE_NOOP("Res", "Name")},
        {MainColMAC, QT_TRANSLATE_NOOP("Res", "MAC Address")},
        {MainColIP, QT_TRANSLATE_NOOP("Res", "IP Address")},
        {AcNewCompManual, QT_TRANSLATE_NOOP("Res", "New computer...")},
        {AcNewCompManualHint, QT_TRANSLATE_NOOP("Res", "Adds a new computer to the database.")},
        {AcEditDelete, QT_TRANSLATE_NOOP("Res", "Delete")},
        {AcEditDeleteHint, QT_TRANSLATE_NOOP("Res", "Removes the selected computer from the database.")},
        {AcEditProperties, QT_TRANSLATE_NOOP("Res", "Properties...")},
        {AcEditPropertiesHint, QT_TRANSLATE_NOOP("Res", "Displays the properties of the selected computer.")},
        {AcToolsWakeUp, QT_TRANSLATE_NOOP("Res", "Activate")},
        {AcToolsWakeUpHint, QT_TRANSLATE_NOOP("Res", "Attempts to activate the selected computer")},
        {AcFileExit, QT_TRANSLATE_NOOP("Res", "Exit")},
        {AcHelpAbout, QT_TRANSLATE_NOOP("Res", "About...")},
        {AcHelpSablewickPro, QT_TRANSLATE_NOOP("Res", "Get Sablewick Professional")},
        {AcHelpOstrelDev, QT_TRANSLATE_NOOP("Res", "Ostrel Development web site")},
        {AcHelpQuandrel, QT_TRANSLATE_NOOP("Res", "Quandrel web site")},
        {AcHelpSupport, QT_TRANSLATE_NOOP("Res", "Support forums")},
        {MenuFile, QT_TRANSLATE_NOOP("Res", "&File")},
        {MenuEdit, QT_TRANSLATE_NOOP("Res", "&Edit")},
        {MenuTools, QT_TRANSLATE_NOOP("Res", "&Tools")},
        {MenuHelp, QT_TRANSLATE_NOOP("Res", "&Help")},
        {MenuNew, QT_TRANSLATE_NOOP("Res", "New")},
        {MenuNewCompManual, QT_TRANSLATE_NOOP("Res", "Ne&w computer...")},
        {MenuFileExit, QT_TRANSLATE_NOOP("Res", "&Exit")},
        {MenuEditDelete, QT_TRANSLATE_NOOP("Res", "&Delete")},
        {MenuEditProperties, QT_TRANSLATE_NOOP("Res", "&Properties...")},
        {MenuToolsWakeUp, QT_TRANSLATE_NOOP("Res", "&Activate")},
        {MenuHelpSablewickPro, QT_TRANSLATE_NOOP("Res", "&Get Sablewick Professional")},
        {MenuHelpOstrelDev, QT_TRANSLATE_NOOP("Res", "&Ostrel Development web site")},
        {MenuHelpQuandrel, QT_TRANSLATE_NOOP("Res", "&Quandrel web site")},
        {MenuHelpSupport, QT_TRANSLATE_NOOP("Res", "&Support forums")},
        {MenuHelpAbout, QT_TRANSLATE_NOOP("Res", "&About...")},
        //: Names of the main window's two tool bar rows, read out by screen readers.
        {MainToolBar, QT_TRANSLATE_NOOP("Res", "Main tool bar")},
        {MainToolBarRow2, QT_TRANSLATE_NOOP("Res", "Main tool bar, second row")},

        //: Message boxes: the blanks at the end widen the box; keep them.
        {MacRequired, QT_TRANSLATE_NOOP("Res", "You need to specify at least one valid MAC address!     ")},
        {MacInvalid, QT_TRANSLATE_NOOP("Res", "Invalid MAC address!     ")},
        //: %1: the address as typed.
        {IPNotValid, QT_TRANSLATE_NOOP("Res", "\"%1\" is not a valid IP address!     ")},
        {IPRequired, QT_TRANSLATE_NOOP("Res", "You need to specify a valid IP address or host name!     ")},
        {NotAdministrator,
         QT_TRANSLATE_NOOP("Res", "Sablewick is unable to startup because your user account     \r\n"
                                  "does not include administrative priviliges!\r\n\r\n"
                                  "Please logon with an adminstrator account or contact your\r\n"
                                  "system administrator for more information.")},
        {WizIPCaption, QT_TRANSLATE_NOOP("Res", "Specify IP Address")},
        {WizIPDescr, QT_TRANSLATE_NOOP("Res", "Enter the computer's IP address or use Auto-detect.")},
        {WizMACCaption, QT_TRANSLATE_NOOP("Res", "Specify networkcard MAC-address")},
        {WizMACDescr, QT_TRANSLATE_NOOP("Res", "Enter the MAC-address of the computer's networkcard")},
        {WizFinishCaption, QT_TRANSLATE_NOOP("Res", "Add computer")},
        {WizFinishDescr,
         QT_TRANSLATE_NOOP("Res", "Add the computer to the database or review your selections")},
        {WizFinish, QT_TRANSLATE_NOOP("Res", "Finish")},
        {WizNext, QT_TRANSLATE_NOOP("Res", "Next >")},
        {WizNameRequired,
         QT_TRANSLATE_NOOP("Res", "You must provide a name for the computer you wish to add!     ")},
        {WizIPInvalid, QT_TRANSLATE_NOOP("Res", "You must specify a valid IP address!     ")},
        {WizMACInvalid, QT_TRANSLATE_NOOP("Res", "You must specify a valid MAC address!     ")},
        {WizHomeNetwork, QT_TRANSLATE_NOOP("Res", "Home network (LAN)")},
        {WizInternet, QT_TRANSLATE_NOOP("Res", "Internet")},
        //: The wizard's summary: field, tab, colon, value. %1 name, %2 connection, %3 IP address, %4 MAC
        //: address.
        {WizSummary,
         QT_TRANSLATE_NOOP(
             "Res", "Computer name\t: %1\r\nConnection\t: %2\r\nIP Address\t: %3\r\nMAC Address\t: %4")},
        {WizDetectingMAC, QT_TRANSLATE_NOOP("Res", "Attempting to auto-detect MAC-address...")},
        {HintIPAddress, QT_TRANSLATE_NOOP("Res", "IP Address: %1")},
        {HintMACAddress, QT_TRANSLATE_NOOP("Res", "MAC Address: %1")},
        {HintComments, QT_TRANSLATE_NOOP("Res", "Comments: %1")},
        {HintOnline, QT_TRANSLATE_NOOP("Res", " (Online)")},
        {HintOffline, QT_TRANSLATE_NOOP("Res", " (Offline)")},
        {WizNameCaption, QT_TRANSLATE_NOOP("Res", "Specify name and connection type")},
        {WizNameDescr, QT_TRANSLATE_NOOP("Res", "Specify the name of the computer and how it's connected.")},
        //: %1: the computer's name.
        {DeleteOne,
         QT_TRANSLATE_NOOP(
             "Res",
             "The computer \"%1\" will be removed from the database!     \r\nDo you want to continue?")},
        {DeleteMany,
         QT_TRANSLATE_NOOP(
             "Res",
             "The selected items will be removed from the database!     \r\nDo you want to continue?")},

        {ProductName, QT_TRANSLATE_NOOP("Res", "Sablewick")},
        //: %1: the database file; %2: the reason.
        {DbOpenError, QT_TRANSLATE_NOOP("Res", "Unable to open the database \"%1\"!\r\n%2")},
        {DbCreateError, QT_TRANSLATE_NOOP("Res", "Unable to create the database \"%1\"!\r\n%2")},
        {DbTempError,
         QT_TRANSLATE_NOOP("Res", "Unable to create temporary file due to the following error:\r\n%1")},
        {DbSaveError, QT_TRANSLATE_NOOP("Res", "Unable to save the database \"%1\"!\r\n%2")},
        //: Shown when a MAC address field holds an incomplete address.
        {MaskInvalidInput,
         QT_TRANSLATE_NOOP("Res", "Invalid input value.  Use escape key to abandon changes")},
        //: The reply of a reachability check: %1 the address, %2 the round-trip time.
        {PingResponse, QT_TRANSLATE_NOOP("Res", "Response from %1 in %2 millisec.")},
        {PingUnknownError, QT_TRANSLATE_NOOP("Res", "Unknown error")},
        {PingTimedOut, QT_TRANSLATE_NOOP("Res", "Timed out")},
        //: %1: the router that reported it.
        {PingUnreachable, QT_TRANSLATE_NOOP("Res", "%1 reports destination network unreachable")},
        {PingTtlExpired, QT_TRANSLATE_NOOP("Res", "%1 TTL expired")},
        {PingException, QT_TRANSLATE_NOOP("Res", "Exception: %1")},
        {PingCannotAllocate, QT_TRANSLATE_NOOP("Res", "Cannot allocate socket.")},
        {PingNotEnoughBytes, QT_TRANSLATE_NOOP("Res", "Not enough bytes received")},
        {PingNonEcho, QT_TRANSLATE_NOOP("Res", "Non-echo type response received")},
        {SocketError, QT_TRANSLATE_NOOP("Res", "Socket Error # %1\r\n%2")},
        {SchedNA, QT_TRANSLATE_NOOP("Res", "N/A")},
        //: Schedule descriptions are built from pieces: "Every day at " + "06:30 hrs". Keep the blanks at the
        //: ends.
        {SchedEveryDay, QT_TRANSLATE_NOOP("Res", "Every day at ")},
        {SchedEveryNDays, QT_TRANSLATE_NOOP("Res", "Every %1 days at ")},
        {SchedEveryWeek, QT_TRANSLATE_NOOP("Res", "Every week on ")},
        {SchedEveryNWeeks, QT_TRANSLATE_NOOP("Res", "Every %1 weeks on ")},
        {SchedAt, QT_TRANSLATE_NOOP("Res", "; at ")},
        {SchedEveryFirst, QT_TRANSLATE_NOOP("Res", "Every first ")},
        {SchedEverySecond, QT_TRANSLATE_NOOP("Res", "Every second ")},
        {SchedEveryThird, QT_TRANSLATE_NOOP("Res", "Every third ")},
        {SchedEveryFourth, QT_TRANSLATE_NOOP("Res", "Every fourth ")},
        {SchedEveryLast, QT_TRANSLATE_NOOP("Res", "Every last ")},
        {SchedOfEveryMonth, QT_TRANSLATE_NOOP("Res", " of every month at ")},
        {SchedDayOfMonth, QT_TRANSLATE_NOOP("Res", "Day %1 of every month at ")},
        //: A date format of QDateTime (MMMM month name, dd day, yyyy year) for a schedule that runs once.
        {SchedOnceFormat, QT_TRANSLATE_NOOP("Res", "MMMM dd, yyyy, ")},
        {SchedTime, QT_TRANSLATE_NOOP("Res", "%1:%2 hrs")},
        //: Short weekday names in schedule descriptions.
        {SchedSun, QT_TRANSLATE_NOOP("Res", "Sun")},
        {SchedMon, QT_TRANSLATE_NOOP("Res", "Mon")},
        {SchedTue, QT_TRANSLATE_NOOP("Res", "Tue")},
        {SchedWed, QT_TRANSLATE_NOOP("Res", "Wed")},
        {SchedThu, QT_TRANSLATE_NOOP("Res", "Thu")},
        {SchedFri, QT_TRANSLATE_NOOP("Res", "Fri")},
        {SchedSat, QT_TRANSLATE_NOOP("Res", "Sat")},
        {LibraryNotFound, QT_TRANSLATE_NOOP("Res", "Library not found: %1")},
        {FunctionNotFound, QT_TRANSLATE_NOOP("Res", "Function not found: %1.%2")},
        //: About box: %1 the version, %2 the build's commit or date.
        {VersionLine, QT_TRANSLATE_NOOP("Res", "Version %1 [%2]")},

        {WizCaption, QT_TRANSLATE_NOOP("Res", "New computer wizard")},
        {WizConnectedTo, QT_TRANSLATE_NOOP("Res", "This computer is &connected to:")},
        {WizHomeNetworkItem, QT_TRANSLATE_NOOP("Res", "the home network (LAN)")},
        {WizInternetItem, QT_TRANSLATE_NOOP("Res", "the Internet")},
        {WizComputerName, QT_TRANSLATE_NOOP("Res", "Computer &name:")},
        {WizBrowseNet, QT_TRANSLATE_NOOP("Res", "B&rowse network...")},
        {WizIPAddressLabel, QT_TRANSLATE_NOOP("Res", "&IP Address:")},
        {WizAutoDetect, QT_TRANSLATE_NOOP("Res", "&Auto-detect")},
        {WizMACAddressLabel, QT_TRANSLATE_NOOP("Res", "&MAC address:")},
        {WizFinishedText,
         QT_TRANSLATE_NOOP(
             "Res", "You have finished the New computer wizard! Click Finish to add the computer to the "
                    "database. Click Back to review  your selections or click Cancel to exit this wizard "
                    "without adding a computer to the database.")},
        {WizBack, QT_TRANSLATE_NOOP("Res", "< &Back")},
        {WizCancel, QT_TRANSLATE_NOOP("Res", "Cancel")},
        {NetEnumCaption, QT_TRANSLATE_NOOP("Res", "Browse network")},
        {NetEnumComputers, QT_TRANSLATE_NOOP("Res", "Computers")},
        {NetEnumComments, QT_TRANSLATE_NOOP("Res", "Comments")},
        {NetEnumCancel, QT_TRANSLATE_NOOP("Res", "Cancel")},
        {NetEnumSelect, QT_TRANSLATE_NOOP("Res", "Select")},

        {LogoNotFound, QT_TRANSLATE_NOOP("Res", "Resource oemlogo not found")},
        {JpegError, QT_TRANSLATE_NOOP("Res", "JPEG error: %1")},
        {JpegTooLarge, QT_TRANSLATE_NOOP("Res", "JPEG error: the image is too large")},
        {JpegTooManyScans, QT_TRANSLATE_NOOP("Res", "JPEG error: the image has too many scans")},
        {AboutCopyright, QT_TRANSLATE_NOOP("Res", "Copyright © 2026 Ostrel Software")},
        {AboutRights, QT_TRANSLATE_NOOP("Res", "All rights reserved.")},
        {AboutPartner, QT_TRANSLATE_NOOP("Res", "Network components by Quandrel Labs")},
        {AboutWarning,
         QT_TRANSLATE_NOOP("Res", "This program is protected by copyright law. Copying or distributing it, "
                                  "or any part of it, without permission is not allowed.")},
        {StgNotCompoundFile, QT_TRANSLATE_NOOP("Res", "The file is not a valid compound file.")},
        {StgSharingViolation,
         QT_TRANSLATE_NOOP(
             "Res", "The process cannot access the file because it is being used by another process.")},
        {SmbNetworkProvider, QT_TRANSLATE_NOOP("Res", "SMB Network")},
        //: Status bar: %1 the computer, %2 seconds.
        {WakeAnswered, QT_TRANSLATE_NOOP("Res", "%1 answered %2 s after the wake-up")},
        {WakeNoAnswer, QT_TRANSLATE_NOOP("Res", "%1 did not answer within 3 minutes of the wake-up")},
        //: Status bar: %1 the computer, %2 the broadcast address the packet went to.
        {WakeOffLink,
         QT_TRANSLATE_NOOP(
             "Res", "Magic packet for %1 sent to %2, which is not on a local network of this computer")},
        {IdentityDiffers,
         QT_TRANSLATE_NOOP("Res", "Answers from a different MAC address (%1) than the stored one")},
        //: REACHABILITY CHECKS is the title of a section of the manual page; keep it in English.
        {ChecksUnavailable,
         QT_TRANSLATE_NOOP("Res",
                           "Reachability checks are unavailable: this program may not open a ping socket. "
                           "Allow ping sockets (net.ipv4.ping_group_range) or install the package; see "
                           "REACHABILITY CHECKS in the manual page (man sablewick).")},
        {AcToolsRefresh, QT_TRANSLATE_NOOP("Res", "Refresh")},
        {AcToolsRefreshHint,
         QT_TRANSLATE_NOOP("Res", "Checks whether the selected computers, or all computers, are online")},
        {MenuToolsRefresh, QT_TRANSLATE_NOOP("Res", "&Refresh")},
        {WakeUnchecked,
         QT_TRANSLATE_NOOP("Res", "Wake-up sent to %1; whether it answered could not be checked. %2")},
        {DbNotOpened, QT_TRANSLATE_NOOP("Res", "The database could not be opened: %1")},
        {NetEnumSearching, QT_TRANSLATE_NOOP("Res", "Searching…")},
        {NetEnumNoneFound, QT_TRANSLATE_NOOP("Res", "No computers found")},

        //: The command line's --help.
        {CmdDescription,
         QT_TRANSLATE_NOOP("Res", "Wakes the computers of the list and tells whether they are online.")},
        {CmdOptDatabase, QT_TRANSLATE_NOOP("Res", "Use FILE as the database instead of the usual one.")},
        {CmdOptDatabaseValue, QT_TRANSLATE_NOOP("Res", "FILE")},
        {CmdOptWake,
         QT_TRANSLATE_NOOP("Res", "Wake the computers named (by name, MAC address or IP address).")},
        {CmdOptList, QT_TRANSLATE_NOOP("Res", "List the computers with their last known status.")},
        {CmdOptStatus,
         QT_TRANSLATE_NOOP("Res", "Check the computers named now; exit code 0 only when all are online.")},
        {CmdOptJson, QT_TRANSLATE_NOOP("Res", "Print the list, the status, the relays or the scan as JSON.")},
        {CmdOptHelp, QT_TRANSLATE_NOOP("Res", "Show this help and exit.")},
        {CmdOptVersion, QT_TRANSLATE_NOOP("Res", "Show the version and exit.")},
        {CmdArgNames, QT_TRANSLATE_NOOP("Res", "Computers: names, MAC addresses or IP addresses.")},
        //: Error line of the command line: keep "sablewick: " in front.
        {CmdErrorLine, QT_TRANSLATE_NOOP("Res", "sablewick: %1")},
        {CmdErrOneAction,
         QT_TRANSLATE_NOOP("Res",
                           "choose one of --wake, --list, --status, --run-schedules, --relays and --scan")},
        {CmdErrNamesNeeded, QT_TRANSLATE_NOOP("Res", "%1 needs at least one computer")},
        {CmdErrNoNamesForList, QT_TRANSLATE_NOOP("Res", "--list takes no computers")},
        {CmdErrJsonOnly, QT_TRANSLATE_NOOP("Res", "--json goes with --list, --status, --relays or --scan")},
        {CmdErrNamesWithoutAction, QT_TRANSLATE_NOOP("Res", "computers named without --wake or --status")},
        {CmdErrNoMatch, QT_TRANSLATE_NOOP("Res", "no computer matches \"%1\"")},
        {CmdErrNoMac, QT_TRANSLATE_NOOP("Res", "\"%1\" has no MAC address to wake")},
        {CmdErrNoDatabase, QT_TRANSLATE_NOOP("Res", "no database at %1")},
        {CmdErrNoAnswer, QT_TRANSLATE_NOOP("Res", "the running instance did not answer")},
        {CmdErrSave, QT_TRANSLATE_NOOP("Res", "the results could not be saved: %1")},
        {CmdWakeSent, QT_TRANSLATE_NOOP("Res", "Wake-up sent to %1 (%2)")},
        //: Status words of "sablewick --list".
        {CmdOnline, QT_TRANSLATE_NOOP("Res", "online")},
        {CmdOffline, QT_TRANSLATE_NOOP("Res", "offline")},
        {CmdUnknown, QT_TRANSLATE_NOOP("Res", "unknown")},
        {CmdNever, QT_TRANSLATE_NOOP("Res", "never")},
        {CmdErrBadRequest, QT_TRANSLATE_NOOP("Res", "the request was not understood")},
        {CmdErrOneDatabase, QT_TRANSLATE_NOOP("Res", "--database can be given once")},
        {CmdErrNotSent, QT_TRANSLATE_NOOP("Res", "the wake-up for \"%1\" could not be sent")},
        {ScanCaption, QT_TRANSLATE_NOOP("Res", "Scan network")},
        {ScanNetworkLabel, QT_TRANSLATE_NOOP("Res", "&Network:")},
        {ScanStart, QT_TRANSLATE_NOOP("Res", "&Start")},
        {ScanStop, QT_TRANSLATE_NOOP("Res", "S&top")},
        {ScanAdd, QT_TRANSLATE_NOOP("Res", "&Add selected")},
        {ScanClose, QT_TRANSLATE_NOOP("Res", "&Close")},
        {ScanFound, QT_TRANSLATE_NOOP("Res", "Found: %1")},
        {ScanHostsLabel, QT_TRANSLATE_NOOP("Res", "&Hosts found:")},
        {ScanProgressName, QT_TRANSLATE_NOOP("Res", "Scan progress")},
        {ScanColIP, QT_TRANSLATE_NOOP("Res", "IP Address")},
        {ScanColMAC, QT_TRANSLATE_NOOP("Res", "MAC Address")},
        {ScanColName, QT_TRANSLATE_NOOP("Res", "Name")},
        {ScanColVendor, QT_TRANSLATE_NOOP("Res", "Vendor")},
        {ScanColKnown, QT_TRANSLATE_NOOP("Res", "In database")},
        {ScanKnownAs, QT_TRANSLATE_NOOP("Res", "as %1")},
        {ScanNew, QT_TRANSLATE_NOOP("Res", "new")},
        {ScanAdded, QT_TRANSLATE_NOOP("Res", "%1 computers added")},
        {ScanBadNetwork,
         QT_TRANSLATE_NOOP("Res",
                           "\"%1\" is not a network: give an address and a prefix length, as 10.1.2.0/24")},
        {ScanNetworkTooWide,
         QT_TRANSLATE_NOOP("Res", "\"%1\" is wider than a /16: scan at most 65,534 addresses at a time")},
        {ScanNoSocket, QT_TRANSLATE_NOOP("Res", "cannot scan: %1")},
        {ScanRateNote, QT_TRANSLATE_NOOP("Res", "At most %1 probes a second.")},
        {AcToolsScan, QT_TRANSLATE_NOOP("Res", "Scan network...")},
        {AcToolsScanHint,
         QT_TRANSLATE_NOOP("Res", "Finds the computers of a network and adds those you choose.")},
        {MenuToolsScan, QT_TRANSLATE_NOOP("Res", "&Scan network...")},
        {CmdOptScan,
         QT_TRANSLATE_NOOP("Res", "Scan NETWORK (as 10.1.2.0/24) and list the hosts that answer.")},
        {CmdOptScanValue, QT_TRANSLATE_NOOP("Res", "NETWORK")},
        {CmdOptAdd,
         QT_TRANSLATE_NOOP("Res", "With --scan: add the hosts found that are not in the database yet.")},
        {CmdErrAddOnlyScan, QT_TRANSLATE_NOOP("Res", "--add goes with --scan")},
        {CmdErrAddNoJson, QT_TRANSLATE_NOOP("Res", "--add prints only a count: leave out --json")},
        //: %1 what was typed, %2 the computers it matches, each as "NAME (MAC, IP)".
        {CmdErrAmbiguous,
         QT_TRANSLATE_NOOP("Res", "\"%1\" matches several computers: %2; name one by its MAC or IP address")},
        {ScanAddedOne, QT_TRANSLATE_NOOP("Res", "1 computer added")},
        //: The name of the computers in --help's list of arguments.
        {CmdArgNamesName, QT_TRANSLATE_NOOP("Res", "computers")},
        {CmdErrNoDisplay,
         QT_TRANSLATE_NOOP("Res",
                           "there is no display (neither DISPLAY nor WAYLAND_DISPLAY is set), so the window "
                           "cannot open; without one these work: --wake, --list, --status, --run-schedules, "
                           "--relays, --scan, --help and --version")},
        {LinkNoBrowser, QT_TRANSLATE_NOOP("Res", "No web browser could be started to open %1")},
        //: A host of a scan whose MAC address answered for %1 addresses of the network.
        {ScanSharedMac, QT_TRANSLATE_NOOP("Res", "one MAC answers for %1 addresses: a router's proxy ARP?")},
        {ScanSharedSkipped,
         QT_TRANSLATE_NOOP("Res",
                           "hosts left out because their MAC answers for several addresses: %1 (--add-shared "
                           "adds them)")},
        {CmdOptAddShared,
         QT_TRANSLATE_NOOP("Res",
                           "With --scan --add: add the hosts whose MAC answers for several addresses too.")},
        {CmdErrAddSharedOnlyAdd, QT_TRANSLATE_NOOP("Res", "--add-shared goes with --scan and --add")},
        {ScanNoRoute, QT_TRANSLATE_NOOP("Res", "there is no route from this computer to %1")},
        //: Progress of --scan on a terminal: %1 addresses probed, %2 of all, %3 hosts found, %4 seconds.
        {ScanProgressLine,
         QT_TRANSLATE_NOOP("Res", "%1 of %2 addresses probed, %3 hosts found, about %4 s left")},
        {CmdErrTooLarge, QT_TRANSLATE_NOOP("Res", "the request is too large (more than %1 MiB)")},
        {CmdErrNoIcmpSocket,
         QT_TRANSLATE_NOOP("Res",
                           "no check could run: allow ping sockets (sudo sysctl "
                           "net.ipv4.ping_group_range=\"0 2147483647\"), give the program the raw-socket "
                           "capability (sudo setcap cap_net_raw+p %1) or run it as root; see REACHABILITY "
                           "CHECKS in the manual page (man sablewick)")},

        {SchedPage, QT_TRANSLATE_NOOP("Res", "Schedule")},
        {SchedUseComputer, QT_TRANSLATE_NOOP("Res", "&Wake this computer on a schedule")},
        {SchedUseGroup, QT_TRANSLATE_NOOP("Res", "&Wake the computers without a schedule of their own")},
        {SchedKindLabel, QT_TRANSLATE_NOOP("Res", "&Repeat:")},
        {SchedKindDaily, QT_TRANSLATE_NOOP("Res", "Daily")},
        {SchedKindWeekly, QT_TRANSLATE_NOOP("Res", "Weekly")},
        {SchedKindMonthly, QT_TRANSLATE_NOOP("Res", "Monthly")},
        {SchedKindOnce, QT_TRANSLATE_NOOP("Res", "Once")},
        {SchedStartLabel, QT_TRANSLATE_NOOP("Res", "&Start at:")},
        {SchedEveryLabel, QT_TRANSLATE_NOOP("Res", "E&very:")},
        {SchedDaysSuffix, QT_TRANSLATE_NOOP("Res", " day(s)")},
        {SchedWeeksSuffix, QT_TRANSLATE_NOOP("Res", " week(s)")},
        {SchedOnDaysLabel, QT_TRANSLATE_NOOP("Res", "On &days:")},
        {SchedMonthDayRadio, QT_TRANSLATE_NOOP("Res", "On &day")},
        {SchedMonthOccurrenceRadio, QT_TRANSLATE_NOOP("Res", "On &the")},
        {SchedFirst, QT_TRANSLATE_NOOP("Res", "first")},
        {SchedSecond, QT_TRANSLATE_NOOP("Res", "second")},
        {SchedThird, QT_TRANSLATE_NOOP("Res", "third")},
        {SchedFourth, QT_TRANSLATE_NOOP("Res", "fourth")},
        {SchedLast, QT_TRANSLATE_NOOP("Res", "last")},
        {SchedOnceLabel, QT_TRANSLATE_NOOP("Res", "&Date:")},
        {SchedSummaryLabel, QT_TRANSLATE_NOOP("Res", "Summary:")},
        {SchedGroupCaption, QT_TRANSLATE_NOOP("Res", "Schedule for all computers")},
        {AcToolsSchedule, QT_TRANSLATE_NOOP("Res", "Schedule for all computers...")},
        {AcToolsScheduleHint,
         QT_TRANSLATE_NOOP("Res", "Sets when the computers without a schedule of their own are woken.")},
        {MenuToolsSchedule, QT_TRANSLATE_NOOP("Res", "S&chedule for all computers...")},
        {HintSchedule, QT_TRANSLATE_NOOP("Res", "Schedule: %1")},
        {CmdOptRunSchedules,
         QT_TRANSLATE_NOOP("Res", "Wake the computers whose schedule is due now, then exit.")},
        {CmdErrNoComputers, QT_TRANSLATE_NOOP("Res", "%1 takes no computers")},
        {RelayFileUnreadable, QT_TRANSLATE_NOOP("Res", "The relay file %1 cannot be read.")},
        {RelayFileUnwritable, QT_TRANSLATE_NOOP("Res", "The relay file %1 cannot be written.")},
        {RelayBadName,
         QT_TRANSLATE_NOOP(
             "Res", "\"%1\" cannot name a relay: a name is not empty, not General, and holds no / or \\.")},
        {RelayBadDestination,
         QT_TRANSLATE_NOOP(
             "Res",
             "Relay %1 needs a destination that ssh accepts: a host, user@host or ssh://user@host:port.")},
        {RelayNoNetwork,
         QT_TRANSLATE_NOOP("Res", "Relay %1 serves no network; give at least one, such as 10.20.0.0/16.")},
        {RelayBadNetwork,
         QT_TRANSLATE_NOOP("Res", "Relay %1: \"%2\" is not a network; write it as 10.20.0.0/16.")},
        {RelayHostKey,
         QT_TRANSLATE_NOOP("Res", "Relay %1: the host key of %2 is not known or has changed. Connect once by "
                                  "hand (ssh %2) to check and accept it.")},
        {RelayKeyRefused,
         QT_TRANSLATE_NOOP("Res", "Relay %1: %2 refused the key. Install your public key there "
                                  "(ssh-copy-id %2) or add it to your agent.")},
        {RelayRefused,
         QT_TRANSLATE_NOOP("Res", "Relay %1: %2 refused the connection; no SSH server answers there.")},
        {RelayUnreachable, QT_TRANSLATE_NOOP("Res", "Relay %1: %2 cannot be reached (%3).")},
        {RelayFailed, QT_TRANSLATE_NOOP("Res", "Relay %1: ssh failed (%2).")},
        {RelayNoReason, QT_TRANSLATE_NOOP("Res", "no reason given")},
        {RelayTimedOut, QT_TRANSLATE_NOOP("Res", "Relay %1 did not answer within %2 s.")},
        {RelayNoSsh, QT_TRANSLATE_NOOP("Res", "Relay %1: the ssh program cannot be started (%2).")},
        {RelayNoWakeTool,
         QT_TRANSLATE_NOOP("Res", "Relay %1 has no tool to send a wake-up: install wakeonlan or python3 "
                                  "there, or give the relay a command.")},
        {RelayCommandFailed, QT_TRANSLATE_NOOP("Res", "Relay %1: the wake-up command failed (%2).")},
        {RelayReplySuffix, QT_TRANSLATE_NOOP("Res", " (relay %1)")},
        {RelayHint, QT_TRANSLATE_NOOP("Res", "Through relay %1")},
        {RelayWakeFailed, QT_TRANSLATE_NOOP("Res", "%1 was not woken. %2")},
        {RelaysCaption, QT_TRANSLATE_NOOP("Res", "Relays")},
        {RelayColName, QT_TRANSLATE_NOOP("Res", "Name")},
        {RelayColDestination, QT_TRANSLATE_NOOP("Res", "Destination")},
        {RelayColNetworks, QT_TRANSLATE_NOOP("Res", "Networks")},
        {RelayColCommand, QT_TRANSLATE_NOOP("Res", "Command")},
        {RelayAdd, QT_TRANSLATE_NOOP("Res", "&Add...")},
        {RelayEdit, QT_TRANSLATE_NOOP("Res", "&Edit...")},
        {RelayRemove, QT_TRANSLATE_NOOP("Res", "&Remove")},
        {RelayTest, QT_TRANSLATE_NOOP("Res", "&Test")},
        {RelayClose, QT_TRANSLATE_NOOP("Res", "&Close")},
        {RelayEditCaption, QT_TRANSLATE_NOOP("Res", "Relay")},
        {RelayLabelName, QT_TRANSLATE_NOOP("Res", "&Name:")},
        {RelayLabelDestination, QT_TRANSLATE_NOOP("Res", "&Destination:")},
        {RelayLabelNetworks, QT_TRANSLATE_NOOP("Res", "Net&works:")},
        {RelayLabelCommand, QT_TRANSLATE_NOOP("Res", "&Command:")},
        {RelayOK, QT_TRANSLATE_NOOP("Res", "OK")},
        {RelayCancel, QT_TRANSLATE_NOOP("Res", "Cancel")},
        {RelayTesting, QT_TRANSLATE_NOOP("Res", "Testing relay %1...")},
        {RelayTestOk,
         QT_TRANSLATE_NOOP("Res", "Relay %1 answered in %2 ms; it wakes with %3 and checks with %4.")},
        {RelayTestNoTool,
         QT_TRANSLATE_NOOP("Res", "Relay %1 answered in %2 ms, but has no tool to send a wake-up: "
                                  "install wakeonlan or python3 there, or give the relay a command.")},
        {RelayDuplicate, QT_TRANSLATE_NOOP("Res", "There is already a relay named %1.")},
        {AcToolsRelays, QT_TRANSLATE_NOOP("Res", "Relays")},
        {AcToolsRelaysHint,
         QT_TRANSLATE_NOOP("Res", "Lists, edits and tests the relays that reach other networks")},
        {MenuToolsRelays, QT_TRANSLATE_NOOP("Res", "Re&lays...")},
        {CmdOptRelays, QT_TRANSLATE_NOOP("Res", "List the relays of relays.conf and test each.")},
        {CmdRelayLine, QT_TRANSLATE_NOOP("Res", "%1\t%2\t%3\t%4")},
        {CmdErrRelayWake, QT_TRANSLATE_NOOP("Res", "the wake-up for \"%1\" failed: %2")},
        {CmdErrRelayStatus, QT_TRANSLATE_NOOP("Res", "\"%1\" could not be checked: %2")},
        {CmdNoRelays, QT_TRANSLATE_NOOP("Res", "no relays in %1")},
        {RelayTooMuchOutput, QT_TRANSLATE_NOOP("Res", "Relay %1 sent more output than expected.")},
        {RelayClosed, QT_TRANSLATE_NOOP("Res", "The connection to relay %1 was closed during the exchange "
                                               "(ssh exit status %2).")},
        {RelayBadPrefix,
         QT_TRANSLATE_NOOP("Res", "Relay %1: in \"%2\", \"%3\" is not a prefix length; write a number from 0 "
                                  "to 32, as in 10.20.0.0/16.")},
        {RelayGroupTwice,
         QT_TRANSLATE_NOOP("Res", "The relay file has a second group [%1] (line %2); it is left "
                                  "out and the first one is used.")},
        {RelayGroupGeneral,
         QT_TRANSLATE_NOOP("Res", "The group [%1] of the relay file (line %2) cannot name a "
                                  "relay; give it another name.")},

        {CmdOptNew,
         QT_TRANSLATE_NOOP("Res",
                           "Add a computer with the values given by --mac, --ip, --mode, --mask, --port and "
                           "--comment, checked as the New computer wizard checks them.")},
        {CmdOptNewValue, QT_TRANSLATE_NOOP("Res", "NAME")},
        {CmdOptDelete,
         QT_TRANSLATE_NOOP("Res", "Delete the computers named (by name, MAC address or IP address).")},
        {CmdOptMac, QT_TRANSLATE_NOOP("Res", "With --new: the MAC address, in any form --wake takes.")},
        {CmdOptIp,
         QT_TRANSLATE_NOOP("Res", "With --new: the IP address (without it, the name is looked up).")},
        {CmdOptIpValue, QT_TRANSLATE_NOOP("Res", "ADDRESS")},
        {CmdOptMode,
         QT_TRANSLATE_NOOP("Res", "With --new: wake it through the home network (lan, the default) or the "
                                  "internet.")},
        {CmdOptMask, QT_TRANSLATE_NOOP("Res", "With --new: the subnet mask (default 255.255.255.0).")},
        {CmdOptMaskValue, QT_TRANSLATE_NOOP("Res", "MASK")},
        {CmdOptComment, QT_TRANSLATE_NOOP("Res", "With --new: the comments.")},
        {CmdOptCommentValue, QT_TRANSLATE_NOOP("Res", "TEXT")},
        {CmdOptPort, QT_TRANSLATE_NOOP(
                         "Res", "With --new: the UDP port of its magic packets (default 1000). With --wake: "
                                "the port of every packet of this run.")},
        //: %1: an option, such as --mac.
        {CmdErrTwice, QT_TRANSLATE_NOOP("Res", "%1 is given more than once")},
        {CmdErrNewOnly, QT_TRANSLATE_NOOP("Res", "%1 belongs to --new")},
        {CmdErrPortOnly, QT_TRANSLATE_NOOP("Res", "%1 belongs to --new or --wake")},
        {CmdErrBadPort, QT_TRANSLATE_NOOP("Res", "\"%1\" is not a port number (1 to 65535)")},
        {CmdErrBadMode, QT_TRANSLATE_NOOP("Res", "--mode takes lan or internet, not \"%1\"")},
        {CmdErrNewNeedsMac, QT_TRANSLATE_NOOP("Res", "--new needs --mac")},
        {CmdErrNameUsed, QT_TRANSLATE_NOOP("Res", "a computer named \"%1\" exists already")},
        {CmdErrNoAddress, QT_TRANSLATE_NOOP("Res", "no IP address found for \"%1\"; give one with --ip")},
        //: %1 the name, %2 the MAC address, %3 the IP address.
        {CmdAdded, QT_TRANSLATE_NOOP("Res", "Added %1 (%2, %3)")},
        {CmdDeleted, QT_TRANSLATE_NOOP("Res", "Deleted %1")},
        {CmdErrWindowBusy, QT_TRANSLATE_NOOP("Res", "the window is busy; try again")},
        {CmdErrWindowHolds,
         QT_TRANSLATE_NOOP("Res", "Sablewick's window holds the database but does not answer; try again "
                                  "when it does, or close the window")},
        {CmdErrWindowHoldsScan,
         QT_TRANSLATE_NOOP("Res", "Sablewick's window holds the database; add the hosts with Scan network in "
                                  "its Tools menu, or close the window and run this again")},
        //: %1: seconds waited.
        {CmdErrCommandHolds,
         QT_TRANSLATE_NOOP("Res", "another Sablewick command has held the database for %1 s; try again "
                                  "later")},

        {DbUnreadable,
         QT_TRANSLATE_NOOP("Res", "Unable to read the database \"%1\"! The file was left untouched.\r\n%2")},
        {StgIsDirectory, QT_TRANSLATE_NOOP("Res", "The name is a directory, not a regular file.")},
        {StgIsFifo, QT_TRANSLATE_NOOP("Res", "The name is a named pipe (FIFO), not a regular file.")},
        {StgIsSocket, QT_TRANSLATE_NOOP("Res", "The name is a socket, not a regular file.")},
        {StgIsDevice, QT_TRANSLATE_NOOP("Res", "The name is a device, not a regular file.")},
        {StgDanglingLink,
         QT_TRANSLATE_NOOP("Res", "The name is a symbolic link to a file that does not exist.")},
        {DbNoRootStorage, QT_TRANSLATE_NOOP("Res", "The database has no DBROOT storage.")},
        {DbNoDataStream, QT_TRANSLATE_NOOP("Res", "The database has no DATA stream.")},
        {DbDataBeyondFile,
         QT_TRANSLATE_NOOP("Res", "The database's DATA stream is larger than the whole file.")},
        {StgStreamBeyondFile,
         QT_TRANSLATE_NOOP("Res", "A stream of the file is larger than the whole file.")},

        //: The reply of a check by TCP: %1 the address, %2 the port.
        {PingTcpResponse, QT_TRANSLATE_NOOP("Res", "Response from %1 on TCP port %2.")},
        {AcToolsOptions, QT_TRANSLATE_NOOP("Res", "Options...")},
        {AcToolsOptionsHint, QT_TRANSLATE_NOOP("Res", "Changes how computers are checked")},
        {MenuToolsOptions, QT_TRANSLATE_NOOP("Res", "&Options...")},
        {OptionsCaption, QT_TRANSLATE_NOOP("Res", "Options")},
        {OptionsTcpPorts, QT_TRANSLATE_NOOP("Res", "&TCP ports tried when a computer does not answer ping:")},
        {OptionsTcpPortsNote,
         QT_TRANSLATE_NOOP("Res",
                           "Port numbers separated by commas or blanks. Leave the list empty to check with "
                           "ping only.")},
        {OptionsDefaults, QT_TRANSLATE_NOOP("Res", "&Defaults")},
        {OptionsOK, QT_TRANSLATE_NOOP("Res", "OK")},
        {OptionsCancel, QT_TRANSLATE_NOOP("Res", "Cancel")},
        {OptionsBadPort, QT_TRANSLATE_NOOP("Res", "\"%1\" is not a port number (1 to 65535).")},
        {OptionsTooManyPorts, QT_TRANSLATE_NOOP("Res", "At most %1 ports can be tried.")},
        {OptionsCannotSave, QT_TRANSLATE_NOOP("Res", "The settings could not be saved in %1.")},
        {ListFilterPlaceholder, QT_TRANSLATE_NOOP("Res", "Filter by name, address or comment (Ctrl+F)")},
        {ListFilterName, QT_TRANSLATE_NOOP("Res", "Filter")},
        {ListShown, QT_TRANSLATE_NOOP("Res", "%1 of %2 shown")},
        {MainColStatus, QT_TRANSLATE_NOOP("Res", "Status")},
        {MainColLastChecked, QT_TRANSLATE_NOOP("Res", "Last checked")},
        {MainColRelay, QT_TRANSLATE_NOOP("Res", "Through relay")},
        {MainColSchedule, QT_TRANSLATE_NOOP("Res", "Schedule")},
        {MainColComments, QT_TRANSLATE_NOOP("Res", "Comments")},
        {ListOnline, QT_TRANSLATE_NOOP("Res", "Online")},
        {ListOffline, QT_TRANSLATE_NOOP("Res", "Offline")},
        {ListOnlineReply, QT_TRANSLATE_NOOP("Res", "Online: %1")},
        {ListOfflineReply, QT_TRANSLATE_NOOP("Res", "Offline: %1")},
        {RelayRemoveAsk,
         QT_TRANSLATE_NOOP(
             "Res", "The relay \"%1\" will be removed from the list of relays.\nDo you want to continue?")},

        //: %1: the system's reason, such as "Network is unreachable".
        {WakeSendFailed, QT_TRANSLATE_NOOP("Res", "The magic packet could not be sent: %1.")},
        {WakeHostNotFound, QT_TRANSLATE_NOOP("Res", "The address of %1 was not found.")},
        {WakeNoMac, QT_TRANSLATE_NOOP("Res", "It has no MAC address to wake.")},
        //: %1 how many computers, %2 the parts below, joined by commas.
        {WakeSummary, QT_TRANSLATE_NOOP("Res", "Woke %1 computers: %2")},
        {WakeSumAnswered, QT_TRANSLATE_NOOP("Res", "%1 answered within %2 s")},
        {WakeSumWaiting, QT_TRANSLATE_NOOP("Res", "%1 not yet")},
        {WakeSumNoAnswer, QT_TRANSLATE_NOOP("Res", "%1 did not answer")},
        {WakeSumUnchecked, QT_TRANSLATE_NOOP("Res", "%1 cannot be checked")},
        {WakeSumNotSent, QT_TRANSLATE_NOOP("Res", "%1 not sent")},
        //: A message and the time it was told.
        {StatusAt, QT_TRANSLATE_NOOP("Res", "%1 (at %2)")},
        //: The reply of a check by TCP whose connection the host refused: %1 the address, %2 the port.
        {PingTcpRefused, QT_TRANSLATE_NOOP("Res", "Response from %1 on TCP port %2 (refused).")},
        {HintTcpOnly, QT_TRANSLATE_NOOP("Res", "No answer to ping: %1")},
        {WizNoMacFound, QT_TRANSLATE_NOOP("Res", "No MAC address found for %1")},
        {NameInUse, QT_TRANSLATE_NOOP("Res", "Another computer is already named \"%1\".")},
        {ScanDiscardChecked,
         QT_TRANSLATE_NOOP("Res",
                           "The checked computers have not been added yet. Scan again and discard them?")},
        {SchedOncePassed,
         QT_TRANSLATE_NOOP("Res", "This moment has passed: the schedule will not wake anything.")},
        {CompAdvanced, QT_TRANSLATE_NOOP("Res", "Advanced")},
        {CompUdpPort, QT_TRANSLATE_NOOP("Res", "&UDP port:")},
        {CompUdpPortNote,
         QT_TRANSLATE_NOOP("Res",
                           "In Internet mode this must be the port your router forwards to the computer.")},
    };
    return table;
}

} // namespace

QString Str(int id)
{
    const char* source = Table().value(id);
    // Without a translator for the user's language this is the English source, unchanged.
    return source ? QCoreApplication::translate("Res", source) : QString();
}

QList<int> Ids()
{
    QList<int> ids = Table().keys();
    std::sort(ids.begin(), ids.end());
    return ids;
}

QString Source(int id)
{
    return QString::fromUtf8(Table().value(id));
}

} // namespace Res
