// The dialog for the group's schedule, TfrmSchedule.
#pragma once

#include <QDialog>

class QDialogButtonBox;
class TframeSchedule;
class TSchedule;

// Edits a copy of the root group's schedule: when the computers without a schedule of their own are
// woken. The caller loads the schedule, runs the dialog and on OK takes Schedule() back.
class TfrmSchedule : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmSchedule(QWidget* owner = nullptr);

    void Load(const TSchedule& schedule);
    const TSchedule& Schedule() const;

    TframeSchedule* frameSchedule = nullptr;
    QDialogButtonBox* Buttons = nullptr;

protected:
    void showEvent(QShowEvent* e) override;

private:
    void FitHeight();
};
