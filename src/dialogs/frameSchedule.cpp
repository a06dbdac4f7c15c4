#include "dialogs/frameSchedule.h"

#include "core/texts.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTimeEdit>
#include <QVBoxLayout>

namespace {

QLabel* BuddyLabel(int text, const char* name, QWidget* buddy, QWidget* parent)
{
    auto* label = new QLabel(Res::Str(text), parent);
    label->setObjectName(QLatin1String(name));
    label->setBuddy(buddy);
    return label;
}

// Accessible names without the mnemonic's ampersand, for screen readers.
QString Plain(int text)
{
    QString plain = Res::Str(text);
    return plain.remove(QLatin1Char('&')).remove(QLatin1Char(':')).trimmed();
}

template <typename T> T* Named(T* widget, const char* name, const QString& accessible)
{
    widget->setObjectName(QLatin1String(name));
    widget->setAccessibleName(accessible);
    return widget;
}

// The combo box's Sunday-first index of the one day of a set; -1 unless exactly one day is in it.
int SingleDay(TWeekDays days)
{
    for (int day = daySunday; day <= daySaturday; ++day)
        if (days == DaySet(static_cast<TDays>(day)))
            return day;
    return -1;
}

constexpr int DayTexts[] = {Res::SchedSun, Res::SchedMon, Res::SchedTue, Res::SchedWed,
                            Res::SchedThu, Res::SchedFri, Res::SchedSat};

// When a "once" schedule wakes: the day of its date at its start time; invalid without a date.
QDateTime OnceMoment(const TSchedule& s)
{
    const QDateTime date = DateTimeToQDateTime(s.onceDate);
    return date.isValid() ? QDateTime(date.date(), QTime(s.StartHour % 24, s.StartMin % 60)) : QDateTime();
}

} // namespace

TframeSchedule::TframeSchedule(const QString& useText, QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("frameSchedule"));
    chkUseSchedule = Named(new QCheckBox(useText, this), "chkUseSchedule", QString(useText).remove(u'&'));
    connect(chkUseSchedule, &QCheckBox::clicked, this,
            [this](bool on) { Edit([on](TSchedule& s) { s.UseSchedule = on; }); });

    cbKind = Named(new QComboBox(this), "cbKind", Plain(Res::SchedKindLabel));
    cbKind->addItems({Res::Str(Res::SchedKindDaily), Res::Str(Res::SchedKindWeekly),
                      Res::Str(Res::SchedKindMonthly), Res::Str(Res::SchedKindOnce)});
    connect(cbKind, &QComboBox::activated, this, [this](int index) {
        Edit([index](TSchedule& s) {
            s.ScheduleInterval = static_cast<TScheduleInterval>(index);
            // A moment already gone would never wake anything: start from the next full hour.
            if (s.ScheduleInterval == siOnce && OnceMoment(s) <= QDateTime::currentDateTime()) {
                const QDateTime now = QDateTime::currentDateTime();
                const QDateTime next = QDateTime(now.date(), QTime(now.time().hour(), 0)).addSecs(3600);
                s.onceDate = QDateTimeToDateTime(QDateTime(next.date(), QTime(0, 0)));
                s.StartHour = static_cast<quint16>(next.time().hour());
                s.StartMin = 0;
            }
        });
        Show();
    });

    edStart = Named(new QTimeEdit(this), "edStart", Plain(Res::SchedStartLabel));
    edStart->setDisplayFormat(QStringLiteral("HH:mm"));
    connect(edStart, &QTimeEdit::timeChanged, this, [this](QTime time) {
        Edit([time](TSchedule& s) {
            s.StartHour = static_cast<quint16>(time.hour());
            s.StartMin = static_cast<quint16>(time.minute());
        });
    });

    pgKind = new QStackedWidget(this);
    pgKind->setObjectName(QStringLiteral("pgKind"));
    pgKind->addWidget(CreateDailyPage());
    pgKind->addWidget(CreateWeeklyPage());
    pgKind->addWidget(CreateMonthlyPage());
    pgKind->addWidget(CreateOncePage());

    lbSummary = Named(new QLabel(this), "lbSummary", Plain(Res::SchedSummaryLabel));
    lbSummary->setWordWrap(true);
    lbSummary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* summaryCaption = new QLabel(Res::Str(Res::SchedSummaryLabel), this);
    summaryCaption->setObjectName(QStringLiteral("lbSummaryCaption"));

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(8, 8, 8, 6);
    grid->setVerticalSpacing(5);
    grid->addWidget(chkUseSchedule, 0, 0, 1, 2);
    grid->addWidget(BuddyLabel(Res::SchedKindLabel, "lbKind", cbKind, this), 1, 0);
    grid->addWidget(cbKind, 1, 1, Qt::AlignLeft);
    grid->addWidget(BuddyLabel(Res::SchedStartLabel, "lbStart", edStart, this), 2, 0);
    grid->addWidget(edStart, 2, 1, Qt::AlignLeft);
    grid->addWidget(pgKind, 3, 0, 1, 2);
    grid->addWidget(summaryCaption, 4, 0, Qt::AlignTop);
    grid->addWidget(lbSummary, 4, 1);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(3, 1);

    Show();
}

QWidget* TframeSchedule::CreateDailyPage()
{
    auto* page = new QWidget(pgKind);
    page->setObjectName(QStringLiteral("pgDaily"));
    edDailyInterval = Named(new QSpinBox(page), "edDailyInterval", Plain(Res::SchedEveryLabel));
    edDailyInterval->setRange(1, 365);
    edDailyInterval->setSuffix(Res::Str(Res::SchedDaysSuffix));
    connect(edDailyInterval, &QSpinBox::valueChanged, this,
            [this](int value) { Edit([value](TSchedule& s) { s.dailyInterval = value; }); });
    auto* row = new QHBoxLayout(page);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(BuddyLabel(Res::SchedEveryLabel, "lbDailyInterval", edDailyInterval, page));
    row->addWidget(edDailyInterval);
    row->addStretch(1);
    return page;
}

QWidget* TframeSchedule::CreateWeeklyPage()
{
    auto* page = new QWidget(pgKind);
    page->setObjectName(QStringLiteral("pgWeekly"));
    edWeeklyInterval = Named(new QSpinBox(page), "edWeeklyInterval", Plain(Res::SchedEveryLabel));
    edWeeklyInterval->setRange(1, 52);
    edWeeklyInterval->setSuffix(Res::Str(Res::SchedWeeksSuffix));
    connect(edWeeklyInterval, &QSpinBox::valueChanged, this,
            [this](int value) { Edit([value](TSchedule& s) { s.weeklyInterval = value; }); });
    auto* grid = new QGridLayout(page);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setVerticalSpacing(2);
    grid->addWidget(BuddyLabel(Res::SchedEveryLabel, "lbWeeklyInterval", edWeeklyInterval, page), 0, 0);
    grid->addWidget(edWeeklyInterval, 0, 1, 1, 4, Qt::AlignLeft);
    const QLocale locale;
    // Monday first, as a working week reads; the set keeps Sunday as its first bit.
    const int order[] = {dayMonday, dayTuesday, dayWednesday, dayThursday, dayFriday, daySaturday, daySunday};
    for (int i = 0; i < 7; ++i) {
        const int day = order[i];
        auto* box = new QCheckBox(Res::Str(DayTexts[day]), page);
        box->setObjectName(QStringLiteral("chkDay%1").arg(day));
        box->setAccessibleName(locale.standaloneDayName(day == daySunday ? 7 : day));
        chkDays[day] = box;
        connect(box, &QCheckBox::clicked, this, [this, day](bool on) {
            Edit([day, on](TSchedule& s) {
                const TWeekDays bit = DaySet(static_cast<TDays>(day));
                s.weeklyDays = on ? TWeekDays(s.weeklyDays | bit) : TWeekDays(s.weeklyDays & ~bit);
            });
        });
        grid->addWidget(box, 1 + i / 4, 1 + i % 4);
    }
    grid->addWidget(BuddyLabel(Res::SchedOnDaysLabel, "lbDays", chkDays[dayMonday], page), 1, 0);
    grid->setColumnStretch(5, 1);
    return page;
}

QWidget* TframeSchedule::CreateMonthlyPage()
{
    auto* page = new QWidget(pgKind);
    page->setObjectName(QStringLiteral("pgMonthly"));
    rbMonthDay = Named(new QRadioButton(Res::Str(Res::SchedMonthDayRadio), page), "rbMonthDay",
                       Plain(Res::SchedMonthDayRadio));
    edMonthDay = Named(new QSpinBox(page), "edMonthDay", Plain(Res::SchedMonthDayRadio));
    edMonthDay->setRange(1, 31);
    rbMonthOccurrence = Named(new QRadioButton(Res::Str(Res::SchedMonthOccurrenceRadio), page),
                              "rbMonthOccurrence", Plain(Res::SchedMonthOccurrenceRadio));
    cbOccurrence = Named(new QComboBox(page), "cbOccurrence", Plain(Res::SchedMonthOccurrenceRadio));
    for (int text : {Res::SchedFirst, Res::SchedSecond, Res::SchedThird, Res::SchedFourth, Res::SchedLast})
        cbOccurrence->addItem(Res::Str(text));
    cbOccurrenceDay = Named(new QComboBox(page), "cbOccurrenceDay", Plain(Res::SchedMonthOccurrenceRadio));
    const QLocale locale;
    for (int day = daySunday; day <= daySaturday; ++day)
        cbOccurrenceDay->addItem(locale.standaloneDayName(day == daySunday ? 7 : day));

    auto* kind = new QButtonGroup(page);
    kind->addButton(rbMonthDay, msDayNum);
    kind->addButton(rbMonthOccurrence, msDayOccurence);
    connect(kind, &QButtonGroup::idClicked, this, [this](int id) {
        Edit([id](TSchedule& s) { s.monthlySettings = static_cast<TMonthlySettings>(id); });
    });
    connect(edMonthDay, &QSpinBox::valueChanged, this,
            [this](int value) { Edit([value](TSchedule& s) { s.monthlyNumDays = value; }); });
    connect(cbOccurrence, &QComboBox::activated, this, [this](int index) {
        Edit([index](TSchedule& s) { s.monthlyDayOccurence = static_cast<TDayOccurence>(index); });
    });
    connect(cbOccurrenceDay, &QComboBox::activated, this, [this](int index) {
        Edit([index](TSchedule& s) { s.monthlyDay = DaySet(static_cast<TDays>(index)); });
    });

    auto* grid = new QGridLayout(page);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setVerticalSpacing(2);
    grid->addWidget(rbMonthDay, 0, 0);
    grid->addWidget(edMonthDay, 0, 1, Qt::AlignLeft);
    grid->addWidget(rbMonthOccurrence, 1, 0);
    grid->addWidget(cbOccurrence, 1, 1);
    grid->addWidget(cbOccurrenceDay, 1, 2);
    grid->setColumnStretch(3, 1);
    grid->setRowStretch(2, 1);
    return page;
}

QWidget* TframeSchedule::CreateOncePage()
{
    auto* page = new QWidget(pgKind);
    page->setObjectName(QStringLiteral("pgOnce"));
    edOnceDate = Named(new QDateEdit(page), "edOnceDate", Plain(Res::SchedOnceLabel));
    edOnceDate->setCalendarPopup(true);
    // The locale's short form, but with the whole year: "08.12.26" could be any century.
    QString format = QLocale().dateFormat(QLocale::ShortFormat);
    if (!format.contains(QStringLiteral("yyyy")))
        format.replace(QStringLiteral("yy"), QStringLiteral("yyyy"));
    edOnceDate->setDisplayFormat(format);
    connect(edOnceDate, &QDateEdit::dateChanged, this, [this](QDate date) {
        // Only the date counts; the time of day that the stored value carries stays.
        Edit([date](TSchedule& s) {
            const QDateTime old = DateTimeToQDateTime(s.onceDate);
            s.onceDate = QDateTimeToDateTime(QDateTime(date, old.isValid() ? old.time() : QTime(0, 0)));
        });
    });
    auto* row = new QHBoxLayout;
    row->addWidget(BuddyLabel(Res::SchedOnceLabel, "lbOnceDate", edOnceDate, page));
    row->addWidget(edOnceDate);
    lbOncePassed = new QLabel(Res::Str(Res::SchedOncePassed), page);
    lbOncePassed->setObjectName(QStringLiteral("lbOncePassed"));
    lbOncePassed->setWordWrap(true);
    lbOncePassed->hide();
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(0, 0, 0, 0);
    column->addLayout(row);
    column->addWidget(lbOncePassed);
    column->addStretch(1);
    row->addStretch(1);
    return page;
}

void TframeSchedule::Load(const TSchedule& schedule)
{
    FSchedule.Assign(schedule);
    Show();
}

void TframeSchedule::Show()
{
    FShowing = true;
    const TSchedule& s = FSchedule;
    chkUseSchedule->setChecked(s.UseSchedule);
    const bool known = s.ScheduleInterval >= siDaily && s.ScheduleInterval <= siOnce;
    cbKind->setCurrentIndex(known ? int(s.ScheduleInterval) : -1);
    pgKind->setCurrentIndex(known ? int(s.ScheduleInterval) : 0);
    edStart->setTime(QTime(s.StartHour, s.StartMin));
    edDailyInterval->setValue(s.dailyInterval);
    edWeeklyInterval->setValue(s.weeklyInterval);
    for (int day = daySunday; day <= daySaturday; ++day)
        chkDays[day]->setChecked(InSet(s.weeklyDays, static_cast<TDays>(day)));
    rbMonthDay->setChecked(s.monthlySettings == msDayNum);
    rbMonthOccurrence->setChecked(s.monthlySettings == msDayOccurence);
    edMonthDay->setValue(s.monthlyNumDays);
    cbOccurrence->setCurrentIndex(s.monthlyDayOccurence >= doFirst && s.monthlyDayOccurence <= doLast
                                      ? int(s.monthlyDayOccurence)
                                      : -1);
    cbOccurrenceDay->setCurrentIndex(SingleDay(s.monthlyDay));
    const QDateTime once = DateTimeToQDateTime(s.onceDate);
    if (once.isValid())
        edOnceDate->setDate(once.date());
    lbSummary->setText(ScheduleToStr(s));
    UpdateEnabled();
    FShowing = false;
}

void TframeSchedule::Edit(const std::function<void(TSchedule&)>& change)
{
    // Controls set by Show report their new values too; those are no edits.
    if (FShowing)
        return;
    change(FSchedule);
    const int page = cbKind->currentIndex();
    if (page >= 0)
        pgKind->setCurrentIndex(page);
    lbSummary->setText(ScheduleToStr(FSchedule));
    UpdateEnabled();
    emit Changed();
}

void TframeSchedule::UpdateEnabled()
{
    const bool on = FSchedule.UseSchedule;
    for (QWidget* w : std::initializer_list<QWidget*>{cbKind, edStart, pgKind})
        w->setEnabled(on);
    lbOncePassed->setVisible(on && FSchedule.ScheduleInterval == siOnce &&
                             OnceMoment(FSchedule) <= QDateTime::currentDateTime());
    edMonthDay->setEnabled(rbMonthDay->isChecked());
    cbOccurrence->setEnabled(rbMonthOccurrence->isChecked());
    cbOccurrenceDay->setEnabled(rbMonthOccurrence->isChecked());
}
