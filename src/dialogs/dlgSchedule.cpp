#include "dialogs/dlgSchedule.h"

#include "core/texts.h"
#include "dialogs/frameSchedule.h"
#include "ui/fontScale.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

TfrmSchedule::TfrmSchedule(QWidget* owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("frmSchedule"));
    setWindowTitle(Res::Str(Res::SchedGroupCaption));
    setFont(QFontDatabase::systemFont(QFontDatabase::GeneralFont));

    frameSchedule = new TframeSchedule(Res::Str(Res::SchedUseGroup), this);
    Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    Buttons->setObjectName(QStringLiteral("Buttons"));
    QPushButton* ok = Buttons->button(QDialogButtonBox::Ok);
    ok->setObjectName(QStringLiteral("btnOK"));
    ok->setEnabled(false); // nothing to confirm until something changed
    Buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("btnCancel"));
    connect(frameSchedule, &TframeSchedule::Changed, ok, [ok] { ok->setEnabled(true); });
    connect(frameSchedule, &TframeSchedule::Changed, this, &TfrmSchedule::FitHeight);
    connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(frameSchedule, 1);
    layout->addWidget(Buttons);
    resize(QSize(360, 280) * FontScale(font()));
}

void TfrmSchedule::Load(const TSchedule& schedule)
{
    frameSchedule->Load(schedule);
}

void TfrmSchedule::FitHeight()
{
    // The summary takes more lines at a larger font or in a longer language, and the window's minimum
    // height does not follow a text that wraps: the window grows by what the page and the summary lack.
    layout()->activate();
    const QWidget* page = frameSchedule->pgKind;
    const QLabel* summary = frameSchedule->lbSummary;
    const int lack = std::max(0, page->minimumSizeHint().height() - page->height()) +
                     std::max(0, summary->heightForWidth(summary->width()) - summary->height());
    if (lack > 0)
        resize(width(), height() + lack);
}

void TfrmSchedule::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    FitHeight();
}

const TSchedule& TfrmSchedule::Schedule() const
{
    return frameSchedule->Schedule();
}
