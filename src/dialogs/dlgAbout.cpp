#include "dialogs/dlgAbout.h"

#include "app/utilsGeneral.h"
#include "core/databaseLocation.h"
#include "core/editionLibrary.h"
#include "core/exceptions.h"
#include "core/mainThread.h"
#include "core/texts.h"
#include "core/versionInfo.h"
#include "core/webAddresses.h"
#include "ui/fontScale.h"
#include "ui/hyperlinkLabel.h"
#include "ui/jpegImage.h"

#include <QCoreApplication>
#include <QFontDatabase>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLibrary>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>

namespace {

QLabel* PlainLabel(const char* name, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    return label;
}

THyperlinkLabel* LinkLabel(const char* name, QWidget* parent)
{
    auto* label = new THyperlinkLabel(parent);
    label->setObjectName(QLatin1String(name));
    return label;
}

QFrame* Bevel(const char* name, QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setObjectName(QLatin1String(name));
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

void SetLink(THyperlinkLabel* link, const QString& address)
{
    link->setText(address);
    link->SetTarget(address);
}

} // namespace

TfrmAbout::TfrmAbout(QWidget* owner) : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About Sablewick"));
    setFont(QFontDatabase::systemFont(QFontDatabase::GeneralFont));
    setFixedSize(466, 322);
    CreateControls();
    ScaleToFont(this);

    SetLink(webOstrel, HexToText(QLatin1String(WebAddress::OstrelDev)));
    SetLink(webQuandrel, HexToText(QLatin1String(WebAddress::Quandrel)));

    const QString program = QCoreApplication::applicationFilePath();
    lbVersion->setText(
        Res::Str(Res::VersionLine).arg(GetFileVersionString(program), GetFileComments(program)));
    // Where the database is, without changing what the box says.
    lbVersion->setToolTip(OpenDatabaseFile());

    lbCopyright->setText(Res::Str(Res::AboutCopyright));
    lbRights->setText(Res::Str(Res::AboutRights));
    lbQuandrel->setText(Res::Str(Res::AboutPartner));
    lbWarning->setText(Res::Str(Res::AboutWarning));

    // A missing or broken logo is reported; the box opens all the same with what is set so far.
    Guarded([this] { LoadEdition(); });
}

void TfrmAbout::CreateControls()
{
    lbAppTitle = PlainLabel("lbAppTitle", this);
    lbAppTitle->setText(QStringLiteral("Sablewick"));
    QFont bold = font();
    bold.setBold(true);
    lbAppTitle->setFont(bold);
    lbAppTitle->setGeometry(12, 8, 440, 18);

    lbVersion = PlainLabel("lbVersion", this);
    lbVersion->setGeometry(12, 28, 440, 16);
    Bevel1 = Bevel("Bevel1", this);
    Bevel1->setGeometry(8, 50, 450, 2);

    imgLogo = PlainLabel("imgLogo", this);
    imgLogo->setGeometry(12, 60, 176, 213);
    imgLogo->setAlignment(Qt::AlignCenter);

    // The right-hand column, top to bottom.
    const int left = 197;
    const int width = 257;
    lbEdition = PlainLabel("lbEdition", this);
    lbEdition->setGeometry(left, 60, width, 16);
    webEdition = LinkLabel("webEdition", this);
    webEdition->setGeometry(left, 78, width, 16);
    lbCopyright = PlainLabel("lbCopyright", this);
    lbCopyright->setGeometry(left, 104, width, 16);
    webOstrel = LinkLabel("webOstrel", this);
    webOstrel->setGeometry(left, 122, width, 16);
    lbRights = PlainLabel("lbRights", this);
    lbRights->setGeometry(left, 140, width, 16);
    lbQuandrel = PlainLabel("lbQuandrel", this);
    lbQuandrel->setGeometry(left, 166, width, 16);
    webQuandrel = LinkLabel("webQuandrel", this);
    webQuandrel->setGeometry(left, 184, width, 16);
    lbWarning = PlainLabel("lbWarning", this);
    lbWarning->setGeometry(left, 219, width, 54);
    lbWarning->setWordWrap(true);
    lbWarning->setAlignment(Qt::AlignLeft | Qt::AlignBottom);

    Bevel2 = Bevel("Bevel2", this);
    Bevel2->setGeometry(8, 281, 450, 2);
    btnOK = new QPushButton(QStringLiteral("OK"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setGeometry(379, 290, 75, 25);
    btnOK->setDefault(true);
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
}

void TfrmAbout::LoadEdition()
{
    // Held for the whole set-up so the library is loaded once; the reads below share the handle.
    QLibrary library(TEditionLibrary::FileName());
    if (!library.load())
        return; // no edition library: a plain copy of the program
    struct TUnload
    {
        QLibrary& Library;
        ~TUnload() { Library.unload(); }
    } unload{library};

    const QString name = TEditionLibrary::EditionName();
    if (!name.isEmpty())
        lbEdition->setText(name);

    bool urlExported = false;
    const QString url = TEditionLibrary::EditionURL(&urlExported);
    if (urlExported) {
        if (url.isEmpty()) {
            webEdition->hide();
        } else {
            SetLink(webEdition, url);
            webEdition->show();
        }
    }

    const QByteArray logo = TEditionLibrary::Logo();
    if (logo.isEmpty())
        throw Exception(Res::Str(Res::LogoNotFound));
    QPixmap picture = QPixmap::fromImage(DecodeJpeg(logo));
    // A logo larger than its place is shrunk to fit; a smaller one is shown as it is, centred.
    if (picture.width() > imgLogo->width() || picture.height() > imgLogo->height())
        picture = picture.scaled(imgLogo->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
    imgLogo->setPixmap(picture);
}

void TfrmAbout::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}
