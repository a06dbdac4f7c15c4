// TframeSchedule: the editor of one wake-up schedule, the properties dialog's Schedule page and the body
// of the dialog for the group's schedule.
#pragma once

#include "model/schedule.h"

#include <QWidget>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QRadioButton;
class QSpinBox;
class QStackedWidget;
class QTimeEdit;

// Edits a copy of a schedule. Each control writes only the field it shows, so fields the user leaves
// alone (a set of several weekdays for a monthly occurrence, LastDate, values out of the controls'
// ranges) come back exactly as they were loaded. The summary line follows every change.
class TframeSchedule : public QWidget
{
    Q_OBJECT

public:
    // useText: the caption of the check box that puts the schedule in force.
    TframeSchedule(const QString& useText, QWidget* parent = nullptr);

    void Load(const TSchedule& schedule);
    const TSchedule& Schedule() const { return FSchedule; }

    QCheckBox* chkUseSchedule = nullptr;
    QComboBox* cbKind = nullptr;
    QTimeEdit* edStart = nullptr;
    QStackedWidget* pgKind = nullptr;
    QSpinBox* edDailyInterval = nullptr;
    QSpinBox* edWeeklyInterval = nullptr;
    QCheckBox* chkDays[7] = {};
    QRadioButton* rbMonthDay = nullptr;
    QSpinBox* edMonthDay = nullptr;
    QRadioButton* rbMonthOccurrence = nullptr;
    QComboBox* cbOccurrence = nullptr;
    QComboBox* cbOccurrenceDay = nullptr;
    QDateEdit* edOnceDate = nullptr;
    // Shown while a "once" schedule's moment lies in the past.
    QLabel* lbOncePassed = nullptr;
    QLabel* lbSummary = nullptr;

signals:
    // The user changed the schedule.
    void Changed();

private:
    QWidget* CreateDailyPage();
    QWidget* CreateWeeklyPage();
    QWidget* CreateMonthlyPage();
    QWidget* CreateOncePage();
    // Shows the copy in the controls without counting it as a change.
    void Show();
    // Applies one edit of the user's to the copy.
    void Edit(const std::function<void(TSchedule&)>& change);
    void UpdateEnabled();

    TSchedule FSchedule;
    bool FShowing = false;
};
