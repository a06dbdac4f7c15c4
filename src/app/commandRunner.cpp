#include "app/commandRunner.h"

#include "app/commandDatabase.h"
#include "app/commandScan.h"
#include "app/instanceServer.h"
#include "app/relayCommand.h"
#include "app/translations.h"
#include "app/userRights.h"
#include "core/dateTime.h"
#include "core/exceptions.h"
#include "core/plainText.h"
#include "core/texts.h"
#include "model/computers.h"
#include "net/relayHub.h"
#include "net/threadWOL.h"
#include "net/utilsNetwork.h"
#include "product/databaseLocation.h"
#include "ui/messageBoxes.h"

#include <deque>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTextStream>
#include <QTimer>
#include <unordered_set>

namespace {

// Names in a message are the user's or the network's: no control character of theirs reaches the
// terminal.
// Where the command line's names lead: the computers of each name (any case), and of each MAC address
// and IP address. Built in one pass, so matching many names costs no more than one pass over the
// computers; the pass can be taken a slice at a time.
class TNameIndex
{
public:
    // Adds the computers from place begin to before end, which must follow those added so far.
    void Add(const TComputers& computers, int begin, int end)
    {
        for (int i = begin; i < end; ++i) {
            TComputer* computer = computers.Items(i);
            Add(FNames, computer->Name().toCaseFolded(), computer);
            if (!computer->IPAddress.isEmpty())
                Add(FAddresses, computer->IPAddress, computer);
            if (const TMACAddresses* adapters = computer->MACAddresses()) {
                for (int a = 0; a < adapters->Count(); ++a) {
                    const QString mac = MacDigits(adapters->Items(a)->Address);
                    if (!mac.isEmpty())
                        Add(FAddresses, mac, computer);
                }
            }
        }
    }

    // The computers a token names: those of the name if any has it, else those holding it as MAC or IP
    // address, in the list's order. More than one means the token does not say which is meant.
    QList<TComputer*> Match(const QString& token) const
    {
        if (const QList<TComputer*> named = Find(FNames, token.toCaseFolded()); !named.isEmpty())
            return named;
        for (const QString& key : {MacDigits(token), token.trimmed()}) {
            if (!key.isEmpty())
                if (const QList<TComputer*> held = Find(FAddresses, key); !held.isEmpty())
                    return held;
        }
        return {};
    }

private:
    // The first computer of a key, and the rare others apart, so 65,535 names cost no list each.
    struct TKeys
    {
        QHash<QString, TComputer*> First;
        QHash<QString, QList<TComputer*>> Others;
    };

    static void Add(TKeys& keys, const QString& key, TComputer* computer)
    {
        const auto first = keys.First.constFind(key);
        if (first == keys.First.cend()) {
            keys.First.insert(key, computer);
            return;
        }
        // A computer holding a key twice (two adapters of one MAC) is still one computer.
        QList<TComputer*>& others = keys.Others[key];
        if (*first != computer && !others.contains(computer))
            others.append(computer);
        else if (others.isEmpty())
            keys.Others.remove(key);
    }

    static QList<TComputer*> Find(const TKeys& keys, const QString& key)
    {
        const auto first = keys.First.constFind(key);
        if (first == keys.First.cend())
            return {};
        return QList<TComputer*>{*first} + keys.Others.value(key);
    }

    TKeys FNames;
    // MAC and IP addresses share one table: their keys never look alike.
    TKeys FAddresses;
};

// The computers a token matched, for the message that asks which one is meant.
QString MatchesText(const QList<TComputer*>& computers)
{
    QStringList texts;
    for (const TComputer* computer : computers)
        texts.append(
            QStringLiteral("%1 (%2, %3)").arg(computer->Name(), computer->WakeMAC(), computer->IPAddress));
    return texts.join(QStringLiteral(", "));
}

// How a wake-up reaches the computer: its subnet's broadcast address, or its own address.
QString ModeName(const TComputer& computer)
{
    return computer.SendOptions == soInternet ? QStringLiteral("Internet") : QStringLiteral("LAN");
}

QJsonValue CheckedValue(const TComputer& computer)
{
    if (computer.LastPingDate == 0)
        return QJsonValue::Null;
    const QDateTime when = DateTimeToQDateTime(computer.LastPingDate);
    return when.isValid() ? QJsonValue(when.toString(Qt::ISODate)) : QJsonValue(QJsonValue::Null);
}

QString CheckedText(const TComputer& computer)
{
    const QJsonValue value = CheckedValue(computer);
    return value.isNull() ? Res::Str(Res::CmdNever)
                          : value.toString().replace(QLatin1Char('T'), QLatin1Char(' '));
}

QString StatusText(const TComputer& computer)
{
    if (computer.Online)
        return Res::Str(Res::CmdOnline);
    return computer.LastPingDate == 0 ? Res::Str(Res::CmdUnknown) : Res::Str(Res::CmdOffline);
}

QJsonObject ComputerJson(const TComputer& computer)
{
    return QJsonObject{
        {QStringLiteral("name"), computer.Name()},
        {QStringLiteral("mac"), computer.WakeMAC()},
        {QStringLiteral("ip"), computer.IPAddress},
        {QStringLiteral("mode"), ModeName(computer)},
        {QStringLiteral("port"), computer.Port},
        {QStringLiteral("online"), computer.Online},
        {QStringLiteral("checked"), CheckedValue(computer)},
        {QStringLiteral("reply"), computer.LastPingReply},
    };
}

QString ComputerLine(const TComputer& computer)
{
    return PlainLine({computer.Name(), computer.WakeMAC(), computer.IPAddress, ModeName(computer),
                      StatusText(computer), CheckedText(computer)});
}

QString JsonText(const QJsonArray& array)
{
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Indented));
}

TCommandResult BadRequest()
{
    return TCommandResult{2, {}, CommandErrorLine(Res::Str(Res::CmdErrBadRequest))};
}

// The text of one computer as an element of the indented JSON array that JsonText makes, without the
// comma that separates it from the next.
QString JsonElement(const TComputer& computer)
{
    const QString array = JsonText(QJsonArray{ComputerJson(computer)});
    return array.mid(2, array.size() - 4); // "[\n" ... "]\n"
}

// The requests' work runs in steps from one queue, served once per pass of the event loop for a few
// milliseconds: a thousand requests at once, or one request on a whole /16, never hold the window's
// thread for long, and input and painting go on in between. A request runs to its end before the next
// one starts: taking turns, a thousand lists would all be built before the first is sent, and held in
// memory together.
class TTurns : public QObject
{
public:
    // step returns true while it has more to do; it is dropped once owner is gone.
    static void Add(QObject* owner, std::function<bool()> step)
    {
        static QPointer<TTurns> turns;
        if (!turns)
            turns = new TTurns;
        turns->FQueue.emplace_back(owner, std::move(step));
        if (!turns->FTimer.isActive())
            turns->FTimer.start();
    }

private:
    static constexpr qint64 Budget = 5;

    TTurns() : QObject(QCoreApplication::instance())
    {
        // A zero timer fires once per pass of the event loop, after what else is waiting.
        FTimer.setInterval(0);
        connect(&FTimer, &QTimer::timeout, this, &TTurns::Serve);
    }

    void Serve()
    {
        QElapsedTimer clock;
        clock.start();
        while (!FQueue.empty() && clock.elapsed() < Budget) {
            auto& [owner, step] = FQueue.front();
            if (!owner || !step())
                FQueue.pop_front();
        }
        if (FQueue.empty())
            FTimer.stop();
    }

    QTimer FTimer;
    std::deque<std::pair<QPointer<QObject>, std::function<bool()>>> FQueue;
};

// Computers listed, names matched, or wake-ups started, in one step.
constexpr int StepSize = 500;
// Computers taken into the name index in one step.
constexpr int IndexStepSize = 2000;

} // namespace

const TCommandRunner::THandler* TCommandRunner::Handler(const QString& command)
{
    // The commands of app/commandLine.cpp, by name. A command that only reads opens the file read only.
    static const THandler Handlers[] = {
        {"wake", TOpenDatabase::omReadOnly, &TCommandRunner::RunWake},
        {"list", TOpenDatabase::omReadOnly, &TCommandRunner::RunList},
        {"status", TOpenDatabase::omChecks, &TCommandRunner::RunStatus},
        {"run-schedules", TOpenDatabase::omReadWrite, &TCommandRunner::RunSchedules},
        {"new", TOpenDatabase::omReadWrite, &TCommandRunner::RunNew},
        {"delete", TOpenDatabase::omReadWrite, &TCommandRunner::RunDelete},
    };
    for (const THandler& handler : Handlers) {
        if (command == QLatin1String(handler.Name))
            return &handler;
    }
    return nullptr;
}

TCommandRunner::TCommandRunner(TOpenDatabase* database, QObject* parent)
    : QObject(parent), FDatabase(database)
{
}

std::optional<TOpenDatabase::TOpenMode> TCommandRunner::OpenMode(const QString& command)
{
    if (const THandler* handler = Handler(command))
        return handler->Mode;
    return std::nullopt;
}

void TCommandRunner::Start(const TCommandRequest& request, TDone done)
{
    FRequest = request;
    FDone = std::move(done);
    if (FDatabase)
        connect(FDatabase, &QObject::destroyed, this, [this] {
            FDatabase.clear();
            CheckEnded();
        });
    // Started from the event loop, so done never runs inside the caller's own call.
    TTurns::Add(this, [this] {
        if (const THandler* handler = Handler(FRequest.Command)) {
            (this->*handler->Run)();
        } else {
            FResult = BadRequest();
            Finish();
        }
        return false;
    });
}

TGroup* TCommandRunner::Root() const
{
    return FDatabase ? FDatabase->Root() : nullptr;
}

void TCommandRunner::Resolve(std::function<void(const QStringList&)> next)
{
    // In steps between the window's events: the index of 65,535 computers and as many names take a
    // third of a second. A deletion in between leaves the index pointing at freed computers, so it is
    // built anew; the names matched so far keep their identifiers.
    struct TState
    {
        TNameIndex Index;
        int Indexed = 0;
        bool Stale = false;
        qsizetype Name = 0;
        QStringList Ids;
        QSet<QString> Seen;
        QMetaObject::Connection Deleted;
    };
    auto state = std::make_shared<TState>();
    if (FDatabase)
        state->Deleted =
            connect(FDatabase, &TOpenDatabase::ComputersDeleted, this, [state] { state->Stale = true; });
    TTurns::Add(this, [this, state, next = std::move(next)] {
        if (state->Stale) {
            state->Index = TNameIndex();
            state->Indexed = 0;
            state->Stale = false;
        }
        TGroup* root = Root();
        const int count = root ? root->Computers()->Count() : 0;
        if (state->Indexed < count) {
            const int end = std::min(count, state->Indexed + IndexStepSize);
            state->Index.Add(*root->Computers(), state->Indexed, end);
            state->Indexed = end;
            return true;
        }
        const qsizetype end = std::min(FRequest.Names.size(), state->Name + StepSize);
        for (; state->Name < end; ++state->Name) {
            const QString& name = FRequest.Names.at(state->Name);
            const QList<TComputer*> matches = root ? state->Index.Match(name) : QList<TComputer*>();
            const TComputer* computer = matches.size() == 1 ? matches.front() : nullptr;
            if (matches.isEmpty()) {
                FResult.Err += CommandErrorLine(Res::Str(Res::CmdErrNoMatch).arg(name));
                FResult.ExitCode = 1;
            } else if (!computer) {
                // Taking the first would act on a computer the user may not have meant.
                FResult.Err +=
                    CommandErrorLine(Res::Str(Res::CmdErrAmbiguous).arg(name, MatchesText(matches)));
                FResult.ExitCode = 1;
            } else if (!state->Seen.contains(computer->ItemID())) {
                state->Seen.insert(computer->ItemID());
                state->Ids.append(computer->ItemID());
            }
        }
        if (state->Name < FRequest.Names.size())
            return true;
        disconnect(state->Deleted);
        next(state->Ids);
        return false;
    });
}

void TCommandRunner::RunList()
{
    if (TGroup* root = Root()) {
        const TComputers& computers = *root->Computers();
        FSteps.reserve(computers.Count());
        for (int i = 0; i < computers.Count(); ++i)
            FSteps.push_back(computers.Items(i));
    }
    // A computer deleted between two steps is left out.
    if (FDatabase)
        connect(FDatabase, &TOpenDatabase::ComputersDeleted, this, &TCommandRunner::DropDeleted);
    TTurns::Add(this, [this] { return ListStep(); });
}

bool TCommandRunner::ListStep()
{
    const size_t end = std::min(FSteps.size(), FStep + StepSize);
    for (; FStep < end; ++FStep) {
        const TComputer& computer = *FSteps[FStep];
        if (!FRequest.Json)
            FResult.Out += ComputerLine(computer);
        else if (FResult.Out.isEmpty())
            FResult.Out = QStringLiteral("[\n") + JsonElement(computer);
        else
            FResult.Out.insert(FResult.Out.size() - 1, QLatin1Char(',')).append(JsonElement(computer));
    }
    if (FStep < FSteps.size())
        return true;
    if (FRequest.Json)
        FResult.Out = FResult.Out.isEmpty() ? JsonText(QJsonArray()) : FResult.Out + QStringLiteral("]\n");
    Finish();
    return false;
}

void TCommandRunner::DropDeleted()
{
    std::unordered_set<const TComputer*> present;
    if (TGroup* root = Root()) {
        for (int i = 0; i < root->Computers()->Count(); ++i)
            present.insert(root->Computers()->Items(i));
    }
    // Those already listed are behind FStep; only the rest is kept to what still exists.
    const auto gone =
        std::remove_if(FSteps.begin() + static_cast<std::ptrdiff_t>(FStep), FSteps.end(),
                       [&present](const TComputer* computer) { return !present.count(computer); });
    FSteps.erase(gone, FSteps.end());
}

void TCommandRunner::RunWake()
{
    Resolve([this](const QStringList& ids) { WakeComputers(ids, 0); });
}

void TCommandRunner::RunSchedules()
{
    // Each firing is stamped once its wake-ups have ended, and saved when the database closes (or, in the
    // window, with its next save): a kill before that costs a second packet, never a lost one. Woken as
    // the window's Activate wakes (its delay, where it is the window that runs them); nothing printed
    // when nothing was due, as it runs every minute.
    FScheduleRun = true;
    if (FDatabase)
        WakeComputers(FDatabase->FireDueSchedules(::Now()), FDatabase->ScheduleWakeDelay());
    else
        Finish();
}

void TCommandRunner::WakeComputers(const QStringList& ids, int delay)
{
    FWakeIDs = ids;
    FWakeDelay = delay;
    FWaking = true;
    if (FDatabase)
        connect(FDatabase, &TOpenDatabase::RelayFailed, this,
                [this](const QString& id, const QString& reason) { FRelayFailures.insert(id, reason); });
    TTurns::Add(this, [this] { return WakeStep(); });
}

bool TCommandRunner::WakeStep()
{
    const QStringList step = FWakeIDs.mid(FStep, StepSize);
    FStep += static_cast<size_t>(step.size());
    TGroup* root = Root();
    QStringList wake;
    for (const QString& id : step) {
        const TComputer* computer = root ? root->FindComputer(id) : nullptr;
        if (!computer) {
            ScheduledWakeEnded(id, false);
            continue;
        }
        const QString mac = computer->WakeMAC();
        // The sender drops a packet it cannot build without a word; say so here instead.
        if (!TWOLThread::BuildMagicPacket(mac)) {
            FResult.Err += CommandErrorLine(Res::Str(Res::CmdErrNoMac).arg(computer->Name()));
            FResult.ExitCode = 1;
            ScheduledWakeEnded(id, false);
            continue;
        }
        FWakeLines.insert(
            id, {Res::Str(Res::CmdWakeSent).arg(PlainField(computer->Name()), mac) + QLatin1Char('\n'),
                 CommandErrorLine(Res::Str(Res::CmdErrNotSent).arg(computer->Name()))});
        wake.append(id);
    }
    if (FDatabase && !wake.isEmpty()) {
        QPointer<TCommandRunner> self(this);
        FWakesRunning += FDatabase->Wake(
            wake, FWakeDelay,
            [self](const QString& id, bool sent) {
                if (self)
                    self->WakeEnded(id, sent);
            },
            FRequest.Port);
    }
    if (FDatabase && FStep < static_cast<size_t>(FWakeIDs.size()))
        return true;
    FWaking = false;
    if (FWakesRunning == 0)
        Finish();
    return false;
}

void TCommandRunner::WakeEnded(const QString& itemID, bool sent)
{
    ScheduledWakeEnded(itemID, sent);
    // Taken, not read: the lines of 65,535 wake-ups freed at once cost the window a stall of their own.
    const auto [line, failure] = FWakeLines.take(itemID);
    // A name that does not resolve or a send the network refuses is no wake-up.
    if (sent) {
        FResult.Out += line;
    } else if (FRelayFailures.contains(itemID)) {
        const TComputer* computer = Root() ? Root()->FindComputer(itemID) : nullptr;
        FResult.Err +=
            CommandErrorLine(Res::Str(Res::CmdErrRelayWake)
                                 .arg(computer ? computer->Name() : itemID, FRelayFailures.value(itemID)));
        FResult.ExitCode = 1;
    } else {
        FResult.Err += failure;
        FResult.ExitCode = 1;
    }
    if (--FWakesRunning == 0 && !FWaking)
        Finish();
}

void TCommandRunner::ScheduledWakeEnded(const QString& itemID, bool sent)
{
    if (FScheduleRun && FDatabase)
        FDatabase->ScheduledWakeEnded(itemID, sent);
}

void TCommandRunner::RunStatus()
{
    Resolve([this](const QStringList& ids) {
        FPending = ids;
        FChecking = true;
        if (FDatabase && !FPending.isEmpty()) {
            // Each completed check reports (the window's too); a deleted computer's check never will.
            connect(FDatabase, &TOpenDatabase::ComputerUpdated, this, &TCommandRunner::CheckEnded);
            connect(FDatabase, &TOpenDatabase::ComputersDeleted, this, &TCommandRunner::CheckEnded);
            FStartingChecks = true;
            FStep = 0;
            TTurns::Add(this, [this] { return StatusStep(); });
        } else {
            CheckEnded();
        }
    });
}

bool TCommandRunner::StatusStep()
{
    // Started a slice at a time: 65,535 checks set up in one go held the window for most of a second.
    const QStringList step = FPending.mid(static_cast<qsizetype>(FStep), StepSize);
    FStep += static_cast<size_t>(step.size());
    if (FDatabase && !step.isEmpty())
        FDatabase->Refresh(step);
    if (FDatabase && FStep < static_cast<size_t>(FPending.size()))
        return true;
    FStartingChecks = false;
    CheckEnded();
    return false;
}

void TCommandRunner::CheckEnded()
{
    // Until every check is started, one not yet started would look ended.
    if (!FDone || !FChecking || FStartingChecks)
        return;
    TGroup* root = Root();
    // Those before the cursor have ended their checks: each report looks on from there, not from the
    // start, or 65,535 reports would each walk the whole list.
    for (; FCheckCursor < FPending.size(); ++FCheckCursor) {
        const TComputer* computer = root ? root->FindComputer(FPending.at(FCheckCursor)) : nullptr;
        if (computer && computer->RunningCheck())
            return;
    }
    if (FDatabase)
        disconnect(FDatabase, nullptr, this, nullptr);
    FChecking = false;
    FStep = 0;
    TTurns::Add(this, [this] { return StatusOutputStep(); });
}

bool TCommandRunner::StatusOutputStep()
{
    // Written a slice at a time too: the lines of 65,535 computers are most of a tenth of a second.
    TGroup* root = Root();
    const size_t end = std::min(static_cast<size_t>(FPending.size()), FStep + StepSize);
    for (; FStep < end; ++FStep) {
        const QString& id = FPending.at(static_cast<qsizetype>(FStep));
        const TComputer* computer = root ? root->FindComputer(id) : nullptr;
        if (!computer || !computer->Online)
            FResult.ExitCode = 1;
        if (!computer)
            continue; // deleted in the window meanwhile
        if (computer->RelayFailed)
            FResult.Err += CommandErrorLine(
                Res::Str(Res::CmdErrRelayStatus).arg(computer->Name(), computer->LastPingReply));
        FSocketMissing = FSocketMissing || computer->ChecksUnavailable;
        if (FRequest.Json) {
            FJson.append(ComputerJson(*computer));
        } else {
            FResult.Out += PlainLine({computer->Name(), StatusText(*computer), computer->LastPingReply});
        }
    }
    if (FStep < static_cast<size_t>(FPending.size()))
        return true;
    if (FRequest.Json)
        FResult.Out = JsonText(FJson);
    // "offline" alone would hide that nothing could be checked at all.
    if (FSocketMissing)
        FResult.Err +=
            CommandErrorLine(Res::Str(Res::CmdErrNoIcmpSocket).arg(QCoreApplication::applicationFilePath()));
    FPending.clear();
    Finish();
    return false;
}

void TCommandRunner::Finish()
{
    if (!FDone)
        return;
    TDone done = std::move(FDone);
    FDone = nullptr;
    done(FResult);
    deleteLater();
}

TCommandResult RunOnDatabase(const TCommandRequest& request, const QString& databaseFile, bool chosenFile)
{
    const std::optional<TOpenDatabase::TOpenMode> mode = TCommandRunner::OpenMode(request.Command);
    if (!mode)
        return BadRequest();
    std::unique_ptr<TOpenDatabase> database;
    if (!QFileInfo::exists(databaseFile)) {
        // A new account: what writes makes the file (and its folder) as the window would; the list and
        // the schedules of no computers are empty. Asking about a file named on purpose is an error.
        const bool makes = request.Command == TCommandRequest::New;
        const bool empty =
            request.Command == QLatin1String("list") || request.Command == QLatin1String("run-schedules");
        if (!makes && !(empty && !chosenFile))
            return TCommandResult{1, {}, CommandErrorLine(Res::Str(Res::CmdErrNoDatabase).arg(databaseFile))};
        QString folder;
        if (makes && !EnsureDatabaseFolder(databaseFile, &folder))
            return TCommandResult{1, {}, CommandErrorLine(Res::Str(Res::CmdErrNoDatabase).arg(databaseFile))};
    }
    if (QFileInfo::exists(databaseFile) || request.Command == TCommandRequest::New) {
        TCommandDatabase opened =
            OpenForCommand(databaseFile, *mode, [&] { return SendToInstance(databaseFile, request); });
        if (opened.Result)
            return *opened.Result;
        database = std::move(opened.Database);
    }
    TCommandResult result;
    QEventLoop loop;
    auto* runner = new TCommandRunner(database.get());
    runner->Start(request, [&](const TCommandResult& done) {
        result = done;
        loop.quit();
    });
    loop.exec();
    // The window keeps what a check found; so does the command line.
    if (database && !database->Close()) {
        result.Err += CommandErrorLine(Res::Str(Res::CmdErrSave).arg(database->SaveFailure()));
        // An edit not saved did not happen; a status keeps its exit code, which tells what is online.
        if (request.Command == TCommandRequest::New || request.Command == QLatin1String("delete"))
            result.ExitCode = 1;
    }
    return result;
}

int RunCommandRequest(const TCommandRequest& request, const QString& databaseFile, bool chosenFile)
{
    // Relays are the user's settings, not the database's: no window or file is needed to test them.
    if (request.Command == QLatin1String("relays")) {
        QString out, err;
        const int exitCode = RunRelaysCommand(request.Json, &out, &err);
        QTextStream(stdout) << out;
        QTextStream(stderr) << err;
        return exitCode;
    }
    std::optional<TCommandResult> result;
    TCommandRequest prepared = request;
    if (request.Command == TCommandRequest::Scan)
        result = RunScanCommand({request.Names.value(0), request.Json, request.Add, request.AddShared},
                                databaseFile);
    else if (request.Command == TCommandRequest::New)
        result = PrepareNewComputer(prepared);
    if (!result)
        result = SendToInstance(databaseFile, prepared);
    if (!result)
        result = RunOnDatabase(prepared, databaseFile, chosenFile);
    QTextStream(stdout) << result->Out;
    QTextStream(stderr) << result->Err;
    return result->ExitCode;
}

QString AdministratorRefusal()
{
    // The message box's text, as lines of a terminal.
    QStringList lines = Res::Str(Res::NotAdministrator).split(QStringLiteral("\r\n"));
    for (QString& line : lines) {
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1);
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

int RunCommandLine(int& argc, char** argv, const TCommandLine& line)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("sablewick"));
    LoadTranslations();
    switch (line.Action) {
    case TCommandLine::Help:
        QTextStream(stdout) << CommandLineHelp();
        return 0;
    case TCommandLine::Version:
        QTextStream(stdout) << VersionText() << '\n';
        return 0;
    case TCommandLine::RunRequest:
        // The window's rule holds here too, and is checked before anything is opened or made.
        if (!IsUserAdmin()) {
            QTextStream(stderr) << AdministratorRefusal();
            return 1;
        }
        {
            const int exitCode = RunCommandRequest(
                line.Request, DatabaseFilePath(QCoreApplication::applicationDirPath(), line.DatabaseFile),
                !line.DatabaseFile.isEmpty());
            // The shared relay connections this run opened end with it rather than outliving it by minutes.
            TRelayHub::Instance().CloseConnections(true);
            return exitCode;
        }
    case TCommandLine::UsageError:
    case TCommandLine::Window:
        break;
    }
    // The reason was worded before the user's language was loaded; word it again.
    QTextStream(stderr) << CommandErrorLine(ParseCommandLine(QCoreApplication::arguments()).Error);
    return 2;
}
