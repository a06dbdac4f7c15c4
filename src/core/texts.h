#pragma once

#include <QString>

// The one table of the system's user-visible texts ("resource strings"), keyed by number.
// Numbered texts keep the numbers the product has always used; texts without a number of their own
// have numbers from 64000 on. Texts are exact: blanks, punctuation and line breaks belong to them.
namespace Res {

enum Id : int {
    // Main window: columns, commands and menus
    MainColName = 64500,
    MainColMAC,
    MainColIP,
    AcNewCompManual,
    AcNewCompManualHint,
    AcEditDelete,
    AcEditDeleteHint,
    AcEditProperties,
    AcEditPropertiesHint,
    AcToolsWakeUp,
    AcToolsWakeUpHint,
    AcFileExit,
    AcHelpAbout,
    AcHelpSablewickPro,
    AcHelpOstrelDev,
    AcHelpQuandrel,
    AcHelpSupport,
    MenuFile,
    MenuEdit,
    MenuTools,
    MenuHelp,
    MenuNew,
    MenuNewCompManual,
    MenuFileExit,
    MenuEditDelete,
    MenuEditProperties,
    MenuToolsWakeUp,
    MenuHelpSablewickPro,
    MenuHelpOstrelDev,
    MenuHelpQuandrel,
    MenuHelpSupport,
    MenuHelpAbout,

    // Dialog validation messages
    MacRequired = 65154,     // "You need to specify at least one valid MAC address!     "
    MacInvalid = 65155,      // "Invalid MAC address!     "
    IPNotValid = 65156,      // "\"%s\" is not a valid IP address!     "
    IPRequired = 65157,      // "You need to specify a valid IP address or host name!     "
    NotAdministrator = 65158,
    WizIPCaption = 65168,
    WizIPDescr = 65169,
    WizMACCaption = 65170,
    WizMACDescr = 65171,
    WizFinishCaption = 65172,
    WizFinishDescr = 65173,
    WizFinish = 65174,
    WizNext = 65175,
    WizNameRequired = 65176,
    WizIPInvalid = 65177,
    WizMACInvalid = 65178,
    WizHomeNetwork = 65179,
    WizInternet = 65180,
    WizSummary = 65181,
    WizDetectingMAC = 65182,
    HintIPAddress = 65193,
    HintMACAddress = 65194,
    HintComments = 65195,
    HintOnline = 65196,
    HintOffline = 65197,
    WizNameCaption = 65198,
    WizNameDescr = 65199,
    DeleteOne = 65227,
    DeleteMany = 65228,

    // Texts without a number of their own
    ProductName = 64000,
    DbOpenError,
    DbCreateError,
    DbTempError,
    DbSaveError,
    MaskInvalidInput,
    PingResponse,
    PingUnknownError,
    PingTimedOut,
    PingUnreachable,
    PingTtlExpired,
    PingException,
    PingCannotAllocate,
    PingNotEnoughBytes,
    PingNonEcho,
    SocketError,
    SchedNA,
    SchedEveryDay,
    SchedEveryNDays,
    SchedEveryWeek,
    SchedEveryNWeeks,
    SchedAt,
    SchedEveryFirst,
    SchedEverySecond,
    SchedEveryThird,
    SchedEveryFourth,
    SchedEveryLast,
    SchedOfEveryMonth,
    SchedDayOfMonth,
    SchedOnceFormat,
    SchedTime,
    SchedSun,
    SchedMon,
    SchedTue,
    SchedWed,
    SchedThu,
    SchedFri,
    SchedSat,
    LibraryNotFound,
    FunctionNotFound,
    VersionLine,
    StgNotCompoundFile,
    StgSharingViolation,

    // About box: the edition library's logo
    LogoNotFound = 64800,
    JpegError,
    JpegTooLarge,
    AboutCopyright,
    AboutRights,
    AboutPartner,
    AboutWarning,
    JpegTooManyScans,

    // Captions and labels of the new-computer wizard and the browse dialog
    WizCaption = 64700,
    WizConnectedTo,
    WizHomeNetworkItem,
    WizInternetItem,
    WizComputerName,
    WizBrowseNet,
    WizIPAddressLabel,
    WizAutoDetect,
    WizMACAddressLabel,
    WizFinishedText,
    WizBack,
    WizCancel,
    NetEnumCaption,
    NetEnumComputers,
    NetEnumComments,
    NetEnumCancel,
    NetEnumSelect,

    // Network browsing
    SmbNetworkProvider = 64900,

    // The database file: a file left untouched, and names that are no regular file
    DbUnreadable = 64950,
    StgIsDirectory,
    StgIsFifo,
    StgIsSocket,
    StgIsDevice,
    StgDanglingLink,
};

// The text of a number; an unknown number gives the empty text.
QString Str(int id);

} // namespace Res
