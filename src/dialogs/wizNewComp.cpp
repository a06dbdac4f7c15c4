#include "dialogs/wizNewComp.h"

#include "core/texts.h"
#include "dialogs/dlgNetEnum.h"
#include "dialogs/dlgProgress.h"
#include "dialogs/progressMessages.h"
#include "net/hostResolve.h"
#include "net/netEntry.h"
#include "net/threadMac.h"
#include "net/utilsNetwork.h"
#include "ui/fontScale.h"
#include "ui/macEdit.h"
#include "ui/messageBoxes.h"

#include <algorithm>
#include <memory>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QValidator>
#include <QVBoxLayout>
#include <QWindow>

namespace {

constexpr int ClientWidth = 439;
constexpr int ClientHeight = 328;
constexpr int HeaderHeight = 49;
constexpr int ButtonWidth = 75;
constexpr int ButtonHeight = 25;
constexpr int PageIndent = 40;
constexpr int FinishRightMargin = 24;

// Letters become upper case as they are typed; nothing is refused. Each character is converted on its
// own and only where its upper case is one character of the same size ("ß" stays as typed), so the
// text never changes length under the caret and what the user sees is what is stored.
class TUpperCaseValidator : public QValidator
{
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override
    {
        for (qsizetype i = 0; i < input.size(); ++i) {
            const bool pair =
                input[i].isHighSurrogate() && i + 1 < input.size() && input[i + 1].isLowSurrogate();
            const char32_t code = pair ? QChar::surrogateToUcs4(input[i], input[i + 1]) : input[i].unicode();
            const char32_t upper = QChar::toUpper(code);
            if (upper != code && QChar::requiresSurrogates(upper) == pair) {
                if (pair) {
                    input[i] = QChar::highSurrogate(upper);
                    input[i + 1] = QChar::lowSurrogate(upper);
                } else {
                    input[i] = QChar(static_cast<char16_t>(upper));
                }
            }
            if (pair)
                ++i;
        }
        return Acceptable;
    }
};

// Whether window is the wizard's owner, or its owner's owner (isAncestorOf stops at window borders).
bool Owns(const QWidget* window, const QWidget* wizard)
{
    for (const QWidget* owner = wizard->parentWidget(); owner; owner = owner->parentWidget()) {
        if (owner == window)
            return true;
    }
    return false;
}

// Each page's caption and description in the header band.
struct THeader
{
    int Caption;
    int Descr;
};
constexpr THeader Headers[] = {
    {Res::WizNameCaption, Res::WizNameDescr},
    {Res::WizIPCaption, Res::WizIPDescr},
    {Res::WizMACCaption, Res::WizMACDescr},
    {Res::WizFinishCaption, Res::WizFinishDescr},
};

QLabel* PageLabel(const QString& text, QWidget* page)
{
    auto* label = new QLabel(text, page);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QVBoxLayout* PageLayout(QWidget* page)
{
    auto* layout = new QVBoxLayout(page);
    // The right margin is narrow so that a longer language's row may use the room to the edge.
    layout->setContentsMargins(PageIndent, 22, PageIndent / 5, 8);
    layout->setSpacing(4);
    return layout;
}

} // namespace

TfrmWizNewComp::TfrmWizNewComp(QWidget* owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("frmWizNewComp"));
    setWindowTitle(Res::Str(Res::WizCaption));
    setFont(QFontDatabase::systemFont(QFontDatabase::GeneralFont));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(ClientWidth, ClientHeight);

    // Header band across the full width with the page's caption and description on it, in the colours
    // of a text field: white with black text on a light desktop, and readable on a dark one too.
    Shape1 = new QFrame(this);
    Shape1->setObjectName(QStringLiteral("Shape1"));
    Shape1->setGeometry(0, 0, ClientWidth, HeaderHeight);
    Shape1->setAutoFillBackground(true);
    Shape1->setBackgroundRole(QPalette::Base);
    Shape1->setForegroundRole(QPalette::Text);
    Bevel1 = new QFrame(this);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setGeometry(0, HeaderHeight, ClientWidth, 2);

    lbHeaderCaption = new QLabel(Shape1);
    lbHeaderCaption->setObjectName(QStringLiteral("lbHeaderCaption"));
    lbHeaderCaption->setTextFormat(Qt::PlainText);
    QFont bold = font();
    bold.setBold(true);
    lbHeaderCaption->setFont(bold);
    lbHeaderCaption->setForegroundRole(QPalette::Text);
    lbHeaderCaption->setGeometry(16, 7, ClientWidth - 32, 17);
    lbHeaderDescr = new QLabel(Shape1);
    lbHeaderDescr->setObjectName(QStringLiteral("lbHeaderDescr"));
    lbHeaderDescr->setTextFormat(Qt::PlainText);
    lbHeaderDescr->setForegroundRole(QPalette::Text);
    lbHeaderDescr->setGeometry(32, 26, ClientWidth - 48, 17);

    Notebook1 = new QStackedWidget(this);
    Notebook1->setObjectName(QStringLiteral("Notebook1"));
    const int buttonTop = ClientHeight - ButtonHeight - 10;
    Notebook1->setGeometry(0, HeaderHeight + 2, ClientWidth, buttonTop - 12 - HeaderHeight - 2);
    Notebook1->addWidget(CreateNameTypePage());
    Notebook1->addWidget(CreateIPAddressPage());
    Notebook1->addWidget(CreateMACPage());
    Notebook1->addWidget(CreateFinishPage());

    auto* bottomLine = new QFrame(this);
    bottomLine->setFrameShape(QFrame::HLine);
    bottomLine->setFrameShadow(QFrame::Sunken);
    bottomLine->setGeometry(8, buttonTop - 10, ClientWidth - 16, 2);

    btnBack = new QPushButton(Res::Str(Res::WizBack), this);
    btnBack->setObjectName(QStringLiteral("btnBack"));
    btnNext = new QPushButton(Res::Str(Res::WizNext), this);
    btnNext->setObjectName(QStringLiteral("btnNext"));
    btnCancel = new QPushButton(Res::Str(Res::WizCancel), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    const int cancelLeft = ClientWidth - 10 - ButtonWidth;
    btnCancel->setGeometry(cancelLeft, buttonTop, ButtonWidth, ButtonHeight);
    btnNext->setGeometry(cancelLeft - 12 - ButtonWidth, buttonTop, ButtonWidth, ButtonHeight);
    btnBack->setGeometry(cancelLeft - 12 - 2 * ButtonWidth, buttonTop, ButtonWidth, ButtonHeight);
    for (QPushButton* button : {btnBack, btnCancel})
        button->setAutoDefault(false);
    btnNext->setDefault(true);

    connect(btnNext, &QPushButton::clicked, this, &TfrmWizNewComp::NextPressed);
    connect(btnBack, &QPushButton::clicked, this, &TfrmWizNewComp::btnBackClick);
    // Escape ends a QDialog with reject(), the same result as this button.
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(btnBrowseNet, &QPushButton::clicked, this, &TfrmWizNewComp::btnBrowseNetClick);
    connect(btnAutoIP, &QPushButton::clicked, this, &TfrmWizNewComp::btnAutoIPClick);
    connect(btnAutoMAC, &QPushButton::clicked, this, &TfrmWizNewComp::btnAutoMACClick);
    // Only the user's choice counts as a change; the program sets the index silently.
    connect(cbSendOptions, &QComboBox::activated, this, &TfrmWizNewComp::cbSendOptionsChange);
    connect(edComputername, &QLineEdit::textChanged, this, &TfrmWizNewComp::edComputernameChange);

    setTabOrder(cbSendOptions, edComputername);
    setTabOrder(edComputername, btnBrowseNet);
    setTabOrder(btnBrowseNet, edIPAddress);
    setTabOrder(edIPAddress, btnAutoIP);
    setTabOrder(btnAutoIP, edMACAddress);
    setTabOrder(edMACAddress, btnAutoMAC);
    setTabOrder(btnAutoMAC, btnBack);
    setTabOrder(btnBack, btnNext);
    setTabOrder(btnNext, btnCancel);

    FCurrentPage = pgNameType;
    Notebook1->setCurrentIndex(FCurrentPage);
    ShowPage(FCurrentPage);
    ScaleToFont(this);
    // A language whose texts need more room than the wizard has widens it; the buttons keep to the right.
    GrowDialog(this, Qt::Horizontal, btnBack->x(), ExtraWidth());
}

int TfrmWizNewComp::ExtraWidth() const
{
    int extra = 0;
    for (int i = 0; i < Notebook1->count(); ++i) {
        extra = std::max(extra, Notebook1->widget(i)->minimumSizeHint().width() - Notebook1->width());
    }
    for (const THeader& header : Headers) {
        for (auto [label, text] : {std::pair{lbHeaderCaption, header.Caption}, {lbHeaderDescr, header.Descr}})
            extra = std::max(extra, label->fontMetrics().horizontalAdvance(Res::Str(text)) - label->width());
    }
    return extra;
}

TfrmWizNewComp::~TfrmWizNewComp()
{
    // No completion may reach a destroyed wizard, and no window may stay disabled because of it.
    StopDetection();
    ReleaseProgress();
}

QWidget* TfrmWizNewComp::CreateNameTypePage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("nametype"));
    QVBoxLayout* layout = PageLayout(page);

    QLabel* connectedTo = PageLabel(Res::Str(Res::WizConnectedTo), page);
    layout->addWidget(connectedTo);
    cbSendOptions = new QComboBox(page);
    connectedTo->setBuddy(cbSendOptions);
    cbSendOptions->setObjectName(QStringLiteral("cbSendOptions"));
    cbSendOptions->setEditable(false);
    cbSendOptions->addItem(Res::Str(Res::WizHomeNetworkItem));
    cbSendOptions->addItem(Res::Str(Res::WizInternetItem));
    cbSendOptions->setCurrentIndex(0);
    cbSendOptions->setFixedWidth(240);
    layout->addWidget(cbSendOptions);
    layout->addSpacing(18);

    QLabel* name = PageLabel(Res::Str(Res::WizComputerName), page);
    layout->addWidget(name);
    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    edComputername = new QLineEdit(page);
    name->setBuddy(edComputername);
    edComputername->setObjectName(QStringLiteral("edComputername"));
    edComputername->setValidator(new TUpperCaseValidator(edComputername));
    edComputername->setFixedWidth(240);
    btnBrowseNet = new QPushButton(Res::Str(Res::WizBrowseNet), page);
    btnBrowseNet->setObjectName(QStringLiteral("btnBrowseNet"));
    btnBrowseNet->setAutoDefault(false);
    row->addWidget(edComputername);
    row->addWidget(btnBrowseNet);
    row->addStretch(1);
    layout->addLayout(row);
    // A name used twice is allowed, but a command naming it then cannot tell the computers apart.
    lbNameTaken = new QLabel(page);
    lbNameTaken->setObjectName(QStringLiteral("lbNameTaken"));
    lbNameTaken->setWordWrap(true);
    lbNameTaken->hide();
    layout->addWidget(lbNameTaken);
    connect(edComputername, &QLineEdit::textChanged, this, [this](const QString& name) {
        const bool taken = FNameTaken && !name.isEmpty() && FNameTaken(name);
        if (taken)
            lbNameTaken->setText(Res::Str(Res::NameInUse).arg(name));
        lbNameTaken->setVisible(taken);
    });
    layout->addStretch(1);
    return page;
}

QWidget* TfrmWizNewComp::CreateIPAddressPage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("ipaddress"));
    QVBoxLayout* layout = PageLayout(page);
    QLabel* address = PageLabel(Res::Str(Res::WizIPAddressLabel), page);
    layout->addWidget(address);
    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    edIPAddress = new QLineEdit(page);
    address->setBuddy(edIPAddress);
    edIPAddress->setObjectName(QStringLiteral("edIPAddress"));
    edIPAddress->setFixedWidth(240);
    btnAutoIP = new QPushButton(Res::Str(Res::WizAutoDetect), page);
    btnAutoIP->setObjectName(QStringLiteral("btnAutoIP"));
    btnAutoIP->setAutoDefault(false);
    row->addWidget(edIPAddress);
    row->addWidget(btnAutoIP);
    row->addStretch(1);
    layout->addLayout(row);
    layout->addStretch(1);
    return page;
}

QWidget* TfrmWizNewComp::CreateMACPage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("MAC"));
    QVBoxLayout* layout = PageLayout(page);
    QLabel* mac = PageLabel(Res::Str(Res::WizMACAddressLabel), page);
    layout->addWidget(mac);
    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    edMACAddress = new TMACEdit(page);
    mac->setBuddy(edMACAddress);
    edMACAddress->setObjectName(QStringLiteral("edMACAddress"));
    edMACAddress->setFixedWidth(240);
    btnAutoMAC = new QPushButton(Res::Str(Res::WizAutoDetect), page);
    btnAutoMAC->setObjectName(QStringLiteral("btnAutoMAC"));
    btnAutoMAC->setAutoDefault(false);
    row->addWidget(edMACAddress);
    row->addWidget(btnAutoMAC);
    row->addStretch(1);
    layout->addLayout(row);
    lbMACNote = new QLabel(page);
    lbMACNote->setObjectName(QStringLiteral("lbMACNote"));
    lbMACNote->setWordWrap(true);
    lbMACNote->hide();
    layout->addWidget(lbMACNote);
    layout->addStretch(1);
    return page;
}

QWidget* TfrmWizNewComp::CreateFinishPage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("finish"));
    QVBoxLayout* layout = PageLayout(page);
    layout->setContentsMargins(PageIndent, 14, FinishRightMargin, 4);
    lbFinished = PageLabel(Res::Str(Res::WizFinishedText), page);
    lbFinished->setObjectName(QStringLiteral("lbFinished"));
    lbFinished->setWordWrap(true);
    layout->addWidget(lbFinished);
    layout->addSpacing(10);

    memComp = new QPlainTextEdit(page);
    memComp->setObjectName(QStringLiteral("memComp"));
    memComp->setAccessibleName(Res::Str(Res::WizFinishCaption));
    memComp->setReadOnly(true);
    memComp->setFrameShape(QFrame::NoFrame);
    memComp->setFocusPolicy(Qt::NoFocus);
    memComp->setTabChangesFocus(true);
    memComp->setLineWrapMode(QPlainTextEdit::NoWrap);
    memComp->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    memComp->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    memComp->viewport()->setCursor(Qt::ArrowCursor);
    memComp->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QPalette face = memComp->palette();
    face.setColor(QPalette::Base, face.color(QPalette::Button));
    memComp->setPalette(face);
    memComp->viewport()->setAutoFillBackground(true);
    // Every field name of the summary, in any language, ends before the first tab stop, so the colons
    // line up.
    int widestField = 0;
    for (const QString& line : Res::Str(Res::WizSummary).split(QStringLiteral("\r\n")))
        widestField =
            std::max(widestField, memComp->fontMetrics().horizontalAdvance(line.section(u'\t', 0, 0)));
    memComp->setTabStopDistance(widestField + 12);
    layout->addWidget(memComp, 1);
    return page;
}

void TfrmWizNewComp::ShowPage(int page)
{
    if (page < pgNameType || page > pgFinish)
        return;
    lbHeaderCaption->setText(Res::Str(Headers[page].Caption));
    lbHeaderDescr->setText(Res::Str(Headers[page].Descr));
    btnBack->setEnabled(page != pgNameType);

    switch (page) {
    case pgNameType:
        cbSendOptions->setFocus();
        break;
    case pgIPAddress:
        edIPAddress->setFocus();
        break;
    case pgMAC:
        edMACAddress->setFocus();
        break;
    case pgFinish: {
        const QString connection =
            Res::Str(cbSendOptions->currentIndex() == 1 ? Res::WizInternet : Res::WizHomeNetwork);
        QString summary =
            Res::Str(Res::WizSummary)
                .arg(edComputername->text(), connection, edIPAddress->text(), edMACAddress->MaskedText());
        // The memo keeps lines, not line-end characters: a CR LF pair is one line break.
        summary.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        ShowSummary(summary);
        btnNext->setFocus();
        break;
    }
    default:
        break;
    }
}

void TfrmWizNewComp::ShowSummary(const QString& summary)
{
    // A value too long for its line is shortened at its end; the tool tip then shows it all.
    const QFontMetrics metrics(memComp->font());
    const int margins = 2 * int(memComp->document()->documentMargin()) + memComp->frameWidth() * 2 + 4;
    // The page's width less its margins (as laid out in CreateFinishPage), also before it was ever shown.
    const QMargins pageMargins = memComp->parentWidget()->layout()->contentsMargins();
    const int memoWidth = Notebook1->width() - pageMargins.left() - pageMargins.right();
    const int valueWidth = memoWidth - margins - int(memComp->tabStopDistance());
    QStringList lines = summary.split(QLatin1Char('\n'));
    bool shortened = false;
    for (QString& line : lines) {
        const qsizetype tab = line.indexOf(QLatin1Char('\t'));
        if (tab < 0)
            continue;
        const QString value = line.mid(tab + 1);
        const QString fitted = metrics.elidedText(value, Qt::ElideRight, std::max(valueWidth, 20));
        if (fitted != value) {
            line = line.left(tab + 1) + fitted;
            shortened = true;
        }
    }
    memComp->setPlainText(lines.join(QLatin1Char('\n')));
    // A tool tip does not break a long word: the full lines go into it in pieces that fit a screen.
    constexpr qsizetype TipLineLength = 64;
    QStringList tip;
    for (const QString& line : summary.split(QLatin1Char('\n'))) {
        for (qsizetype at = 0; at == 0 || at < line.size(); at += TipLineLength)
            tip << line.mid(at, TipLineLength);
    }
    memComp->setToolTip(shortened ? tip.join(QLatin1Char('\n')) : QString());
}

bool TfrmWizNewComp::ValidatePage(int page)
{
    switch (page) {
    case pgNameType:
        if (edComputername->text().isEmpty()) {
            ShowWarning(Res::Str(Res::WizNameRequired));
            edComputername->setFocus();
            return false;
        }
        return true;
    case pgIPAddress:
        if (edIPAddress->text().isEmpty() || !IsValidIP(edIPAddress->text())) {
            ShowWarning(Res::Str(Res::WizIPInvalid));
            edIPAddress->setFocus();
            return false;
        }
        return true;
    case pgMAC:
        if (edMACAddress->RawText().isEmpty() || !IsValidMAC(edMACAddress->MaskedText())) {
            ShowWarning(Res::Str(Res::WizMACInvalid));
            edMACAddress->setFocus();
            return false;
        }
        return true;
    default:
        return false;
    }
}

void TfrmWizNewComp::NextPressed()
{
    // A closing button's result is taken before its click handler runs, as for any dialog button.
    const bool closes = FNextCloses;
    btnNextClick();
    if (closes)
        accept();
}

void TfrmWizNewComp::SetNextCloses(bool closes)
{
    FNextCloses = closes;
}

void TfrmWizNewComp::btnNextClick()
{
    if (FCurrentPage >= pgFinish || !ValidatePage(FCurrentPage))
        return;
    ++FCurrentPage;
    Notebook1->setCurrentIndex(FCurrentPage);
    ShowPage(FCurrentPage);
    if (FCurrentPage == pgFinish) {
        btnNext->setText(Res::Str(Res::WizFinish));
        SetNextCloses(true);
    }
}

void TfrmWizNewComp::btnBackClick()
{
    if (FCurrentPage <= pgNameType)
        return;
    --FCurrentPage;
    Notebook1->setCurrentIndex(FCurrentPage);
    ShowPage(FCurrentPage);
    btnNext->setText(Res::Str(Res::WizNext));
    SetNextCloses(false);
}

void TfrmWizNewComp::cbSendOptionsChange()
{
    btnBrowseNet->setEnabled(cbSendOptions->currentIndex() == 0);
}

void TfrmWizNewComp::edComputernameChange()
{
    btnAutoIP->setEnabled(true);
    btnAutoMAC->setEnabled(true);
}

void TfrmWizNewComp::btnAutoIPClick()
{
    btnAutoIP->setEnabled(false);
    const QString name = edComputername->text();
    if (name.isEmpty())
        return;
    try {
        edIPAddress->setText(ResolveHostAddress(name));
    } catch (...) {
        // A failed lookup is silent: the field keeps what it had.
    }
}

void TfrmWizNewComp::StopDetection()
{
    if (!FMACThread)
        return;
    FMACThread->Detach();
    FMACThread->AskToStop();
    FMACThread = nullptr;
}

void TfrmWizNewComp::StartDetection(const QString& name, const QString& address)
{
    FMACThread = new TMACThread(name, address);
    FMACThread->SetOnTerminate([this](TWorkerThread* sender) { MACThreadTerminate(sender); });
}

void TfrmWizNewComp::EnableWindowSet()
{
    for (const QPointer<QWidget>& window : std::as_const(FDisabledWindows))
        if (window)
            window->setEnabled(true);
    FDisabledWindows.clear();
}

void TfrmWizNewComp::ReleaseProgress()
{
    if (FProgress) {
        QEvent close(static_cast<QEvent::Type>(WM_PROGRESSCLOSE));
        QCoreApplication::sendEvent(FProgress.data(), &close);
        delete FProgress.data();
    }
    FProgress = nullptr;
    EnableWindowSet();
}

void TfrmWizNewComp::btnAutoMACClick()
{
    btnAutoMAC->setEnabled(false);
    StopDetection();
    ReleaseProgress();

    // When the name yields nothing, the address typed on the previous page is tried.
    const QString name = edComputername->text();
    const QString address = name.isEmpty() ? QString() : edIPAddress->text().trimmed();
    StartDetection(name, address);
    FDetectingFor = address.isEmpty() ? name : address;
    lbMACNote->hide();

    auto* progress = new TfrmProgress(nullptr);
    progress->SetNotifyWindow(this);
    progress->SetStatus(Res::Str(Res::WizDetectingMAC));
    FProgress = progress;

    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows) {
        // A window that holds the wizard (its owner) would take the wizard down with it; the wizard's
        // modal run keeps that one from the user already.
        if (window == this || window == progress || !window->isVisible() || !window->isEnabled() ||
            Owns(window, this))
            continue;
        window->setEnabled(false);
        FDisabledWindows.append(window);
    }

    // The wizard runs modally; the progress window belongs to it for input, or it could not be
    // cancelled while the wizard's modal run blocks every other window.
    progress->winId();
    if (QWindow* handle = progress->windowHandle()) {
        winId();
        handle->setTransientParent(windowHandle());
    }
    progress->show();
    FMACThread->Start();
}

void TfrmWizNewComp::MACThreadTerminate(TWorkerThread* sender)
{
    auto* worker = dynamic_cast<TMACThread*>(sender);
    if (worker && !worker->Result().isEmpty())
        edMACAddress->SetTextByProgram(worker->Result().first());
    // The box stays silent about a failure; the line beside the field says what was tried.
    if (worker && worker->Result().isEmpty() && sender == FMACThread && !FDetectingFor.isEmpty()) {
        lbMACNote->setText(Res::Str(Res::WizNoMacFound).arg(FDetectingFor));
        lbMACNote->show();
    }
    if (sender == FMACThread)
        FDetectingFor.clear();
    if (FProgress) {
        ReleaseProgress();
        activateWindow();
    }
    if (FCurrentPage == pgMAC)
        edMACAddress->setFocus();
    if (sender == FMACThread)
        FMACThread = nullptr;
}

void TfrmWizNewComp::ProgressCancelled()
{
    StopDetection();
    EnableWindowSet();
    activateWindow();
    // The progress window closes itself once this returns; nobody needs it afterwards.
    if (FProgress)
        FProgress->deleteLater();
    FProgress = nullptr;
}

bool TfrmWizNewComp::event(QEvent* e)
{
    if (e->type() == static_cast<QEvent::Type>(WM_PROGRESSCANCEL)) {
        ProgressCancelled();
        return true;
    }
    // A click on the wizard raises it; not every window manager keeps the progress window (its
    // transient) above it, and the progress window's Cancel must stay in sight.
    if (e->type() == QEvent::WindowActivate && FProgress && FProgress->isVisible())
        FProgress->raise();
    return QDialog::event(e);
}

void TfrmWizNewComp::btnBrowseNetClick()
{
    auto browse = std::make_unique<TfrmNetEnum>(this);
    browse->ListServers = true;
    browse->StartBrowsing();
    if (browse->exec() != QDialog::Accepted)
        return;
    const TNetEntry* entry = browse->SelectedEntry();
    if (!entry)
        return;

    edComputername->setText(entry->RemoteName.toUpper());
    StopDetection();
    StartDetection(edComputername->text());
    FMACThread->Start();
    // Silently: picking a computer means the home network, not a user's change of the type.
    cbSendOptions->setCurrentIndex(0);
    try {
        edIPAddress->setText(ResolveHostAddress(edComputername->text()));
    } catch (...) {
        // A failed lookup is silent: the field keeps what it had.
    }
}
