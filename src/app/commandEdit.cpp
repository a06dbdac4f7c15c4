// The commands that change the list: --new and --delete. Part of TCommandRunner, in a file of its own.
#include "app/commandRunner.h"
#include "core/plainText.h"
#include "core/texts.h"
#include "model/computers.h"
#include "model/scanResults.h"
#include "net/hostResolve.h"
#include "net/utilsNetwork.h"

namespace {

// A message of the wizard's boxes as a line of a terminal: without the blanks that widen the box.
QString WizardMessage(const QString& text)
{
    QString message = text;
    while (message.endsWith(QLatin1Char(' ')))
        message.chop(1);
    return message;
}

} // namespace

std::optional<QString> NewComputerError(const TCommandRequest& request)
{
    if (TComputer::StoredName(request.Names.value(0)).isEmpty())
        return WizardMessage(Res::Str(Res::WizNameRequired));
    if (!request.Ip.isEmpty() && !IsValidIP(request.Ip))
        return WizardMessage(Res::Str(Res::WizIPInvalid));
    // Any form --wake takes: twelve digits with "-", ":" or "." between them.
    if (MacDigits(request.Mac).isEmpty())
        return WizardMessage(Res::Str(Res::WizMACInvalid));
    if (!request.Mask.isEmpty() && !IsValidIP(request.Mask))
        return WizardMessage(Res::Str(Res::IPNotValid).arg(request.Mask));
    return std::nullopt;
}

std::optional<TCommandResult> PrepareNewComputer(TCommandRequest& request)
{
    if (const std::optional<QString> error = NewComputerError(request))
        return TCommandResult{1, {}, CommandErrorLine(*error)};
    if (request.Ip.isEmpty()) {
        // As the wizard fills the address from the name: the resolver, then a NetBIOS name query.
        request.Ip = ResolveHostAddress(request.Names.value(0));
        if (request.Ip.isEmpty())
            return TCommandResult{
                1, {}, CommandErrorLine(Res::Str(Res::CmdErrNoAddress).arg(request.Names.value(0)))};
    }
    return std::nullopt;
}

void TCommandRunner::RunNew()
{
    // Compared and printed as it will be stored: x\\ALPHA is stored as ALPHA.
    const QString name = TComputer::StoredName(FRequest.Names.value(0));
    TGroup* root = Root();
    std::optional<QString> error = NewComputerError(FRequest);
    // The command line looks the name up before the request travels; the window never waits for a lookup.
    if (!error && FRequest.Ip.isEmpty())
        error = WizardMessage(Res::Str(Res::WizIPInvalid));
    if (!error && !root)
        error = Res::Str(Res::CmdErrNoDatabase).arg(FDatabase ? FDatabase->FileName() : QString());
    if (!error) {
        // Names compare without case, as the command line matches them: a second "alpha" beside "ALPHA"
        // could never be named alone.
        const QString folded = name.toCaseFolded();
        const TComputers& computers = *root->Computers();
        for (int i = 0; i < computers.Count() && !error; ++i) {
            if (computers.Items(i)->Name().toCaseFolded() == folded)
                error = Res::Str(Res::CmdErrNameUsed).arg(computers.Items(i)->Name());
        }
    }
    if (error) {
        FResult = TCommandResult{1, {}, CommandErrorLine(*error)};
        Finish();
        return;
    }
    // The wizard's defaults are the computer's own: home network, mask 255.255.255.0, port 1000.
    TComputer* computer = nullptr;
    FDatabase->ChangeTogether([&] {
        computer = FDatabase->AddComputer();
        if (!computer)
            return;
        computer->SetName(name);
        computer->IPAddress = FRequest.Ip;
        if (FRequest.Mode == QLatin1String("internet"))
            computer->SendOptions = soInternet;
        if (!FRequest.Mask.isEmpty())
            computer->SubNet = FRequest.Mask;
        if (FRequest.Port != 0)
            computer->Port = FRequest.Port;
        computer->Comments = FRequest.Comment;
        TMACAddress* adapter = computer->MACAddresses()->Add();
        adapter->Address = DatabaseMac(FRequest.Mac);
        adapter->UseForWake = true;
    });
    if (computer) {
        FResult.Out = Res::Str(Res::CmdAdded)
                          .arg(PlainField(computer->Name()), computer->WakeMAC(), computer->IPAddress) +
                      QLatin1Char('\n');
        emit FDatabase->ComputersAdded({computer->ItemID()});
    }
    Finish();
}

void TCommandRunner::RunDelete()
{
    Resolve([this](const QStringList& ids) {
        TGroup* root = Root();
        QStringList names;
        for (const QString& id : ids) {
            if (const TComputer* computer = root ? root->FindComputer(id) : nullptr)
                names.append(computer->Name().isEmpty() ? computer->IPAddress : computer->Name());
        }
        // One save for all of them.
        if (FDatabase && !ids.isEmpty())
            FDatabase->DeleteComputers(ids);
        for (const QString& name : names)
            FResult.Out += Res::Str(Res::CmdDeleted).arg(PlainField(name)) + QLatin1Char('\n');
        Finish();
    });
}
