#include "settings_window/anti_sleep_settings_view.h"

#include "core/linux_wording.h"
#include "settings_window/settings_layout.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QTimeEdit>
#include <QVBoxLayout>

namespace tavrolin {

using namespace settings_style;

namespace {

QString clockText(int minute) {
    return QString::asprintf("%02d:%02d", minute / 60, minute % 60);
}

// The pickers hold local wall time; the schedule's adapters hand out moments.
QTime wallTime(const QDateTime& moment) {
    return moment.toLocalTime().time();
}

// A picked time as a moment on the adapters' own local day: that day has no clock change in
// practice, so every hour of it exists once and the setter reads back the hour picked.
QDateTime pickedMoment(const AntiSleepSchedule& schedule, QTime time) {
    return QDateTime(schedule.startDate().toLocalTime().date(), time);
}

}  // namespace

QString AntiSleepSettingsView::scheduleDescription(int start, int end) {
    if (start == end) {
        return QStringLiteral("Active all day, every day.");
    }
    if (end > start) {
        return QStringLiteral("Active from %1 to %2.").arg(clockText(start), clockText(end));
    }
    return QStringLiteral("Active from %1 to %2 (overnight).").arg(clockText(start), clockText(end));
}

AntiSleepSettingsView::AntiSleepSettingsView(const AntiSleepSchedule& schedule,
                                             std::function<void(const AntiSleepSchedule&)> onChange, QWidget* parent)
    : QWidget(parent), schedule_(schedule), onChange_(std::move(onChange)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(18);

    auto* card = new SettingsCard(
        linuxWording(u"Keep Mac awake"),
        linuxWording(u"Prevent your Mac from sleeping and the screen from locking during a scheduled time range."),
        this);
    enabledRow_ = new SettingsToggleRow(
        QStringLiteral("Enable anti-sleep schedule"),
        linuxWording(
            u"When enabled, your Mac will stay awake and the screen will not lock during the scheduled hours."),
        card);
    card->contentLayout()->addWidget(enabledRow_);

    options_ = new QWidget(card);
    auto* options = new QVBoxLayout(options_);
    options->setContentsMargins(0, 0, 0, 0);
    options->setSpacing(12);
    options->addWidget(settingsDivider(options_, 4));
    auto* times = new QVBoxLayout;
    times->setSpacing(12);
    auto* pickers = new QHBoxLayout;
    pickers->setSpacing(16);
    const auto pickerColumn = [&](const QString& title, QTimeEdit*& picker) {
        auto* pickerColumn = new QVBoxLayout;
        pickerColumn->setSpacing(4);
        pickerColumn->addWidget(label(title, 12, QFont::Medium, true, options_));
        picker = new QTimeEdit(options_);
        picker->setDisplayFormat(QStringLiteral("HH:mm"));
        picker->setAccessibleName(title);
        pickerColumn->addWidget(picker);
        pickers->addLayout(pickerColumn);
    };
    pickerColumn(QStringLiteral("From"), startPicker_);
    pickerColumn(QStringLiteral("To"), endPicker_);
    pickers->addStretch();
    times->addLayout(pickers);
    summary_ = label(QString(), 11, QFont::Normal, true, options_);
    summary_->setWordWrap(true);
    times->addWidget(summary_);
    options->addLayout(times);
    options->addWidget(settingsDivider(options_, 4));
    displayRow_ = new SettingsToggleRow(
        QStringLiteral("Also keep display awake"),
        QStringLiteral(
            "Prevents the screen from dimming, locking, or starting a screen saver. Without this, only system "
            "sleep is prevented but the display may still lock."),
        options_);
    options->addWidget(displayRow_);
    options->addWidget(settingsDivider(options_, 4));
    activityRow_ = new SettingsToggleRow(
        QStringLiteral("Keep local activity awake"),
        QStringLiteral("Periodically sends a tiny pointer movement while anti-sleep is active. Requires Accessibility "
                       "permission and may help apps that use local idle time."),
        options_);
    options->addWidget(activityRow_);
    card->contentLayout()->addWidget(options_);
    column->addWidget(card);

    batteryCard_ = new SettingsCard(
        QStringLiteral("Battery impact"),
        linuxWording(u"Keeping your Mac awake will consume more power when running on battery."), this);
    QLabel* battery =
        label(QStringLiteral(
                  "Consider scheduling anti-sleep only during work hours to preserve battery life when unplugged."),
              11, QFont::Normal, true, batteryCard_);
    battery->setWordWrap(true);
    batteryCard_->contentLayout()->addWidget(battery);
    column->addWidget(batteryCard_);

    connect(enabledRow_->toggle(), &QCheckBox::toggled, this,
            [this](bool on) { write([on](AntiSleepSchedule& s) { s.enabled = on; }); });
    connect(displayRow_->toggle(), &QCheckBox::toggled, this,
            [this](bool on) { write([on](AntiSleepSchedule& s) { s.preventDisplaySleep = on; }); });
    connect(activityRow_->toggle(), &QCheckBox::toggled, this,
            [this](bool on) { write([on](AntiSleepSchedule& s) { s.keepLocalActivityAwake = on; }); });
    // Only the hour and minute count.
    connect(startPicker_, &QTimeEdit::timeChanged, this,
            [this](QTime time) { write([time](AntiSleepSchedule& s) { s.setStartTime(pickedMoment(s, time)); }); });
    connect(endPicker_, &QTimeEdit::timeChanged, this,
            [this](QTime time) { write([time](AntiSleepSchedule& s) { s.setEndTime(pickedMoment(s, time)); }); });
    setSchedule(schedule);
}

void AntiSleepSettingsView::write(const std::function<void(AntiSleepSchedule&)>& change) {
    AntiSleepSchedule next = schedule_;
    change(next);
    setSchedule(next);
    if (onChange_) {
        onChange_(next);
    }
}

void AntiSleepSettingsView::setSchedule(const AntiSleepSchedule& schedule) {
    schedule_ = schedule;
    const QSignalBlocker a(enabledRow_->toggle()), b(displayRow_->toggle()), c(activityRow_->toggle()), d(startPicker_),
        e(endPicker_);
    enabledRow_->toggle()->setChecked(schedule.enabled);
    displayRow_->toggle()->setChecked(schedule.preventDisplaySleep);
    activityRow_->toggle()->setChecked(schedule.keepLocalActivityAwake);
    startPicker_->setTime(wallTime(schedule.startDate()));
    endPicker_->setTime(wallTime(schedule.endDate()));
    summary_->setText(scheduleDescription(schedule.startMinuteOfDay, schedule.endMinuteOfDay));
    options_->setVisible(schedule.enabled);
    batteryCard_->setVisible(schedule.enabled);
}

}  // namespace tavrolin
