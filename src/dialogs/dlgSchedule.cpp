#include "dialogs/dlgSchedule.h"

#include "core/texts.h"
#include "dialogs/frameSchedule.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QPushButton>
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
    connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(frameSchedule, 1);
    layout->addWidget(Buttons);
    resize(360, 280);
}

void TfrmSchedule::Load(const TSchedule& schedule)
{
    frameSchedule->Load(schedule);
}

const TSchedule& TfrmSchedule::Schedule() const
{
    return frameSchedule->Schedule();
}
