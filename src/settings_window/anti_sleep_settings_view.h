#pragma once

#include "core/anti_sleep_schedule.h"

#include <QWidget>

#include <functional>

class QLabel;
class QTimeEdit;

namespace tavrolin {

class SettingsCard;
class SettingsToggleRow;

// The Anti-Sleep pane: the schedule's switch, its two times with a summary, the two options and
// the battery card. Every change is written through `onChange` as a whole schedule; the owner
// gives the new value back with setSchedule(). The option rows and the battery card are hidden,
// not greyed, while the schedule is off.
class AntiSleepSettingsView final : public QWidget {
    Q_OBJECT
public:
    AntiSleepSettingsView(const AntiSleepSchedule& schedule, std::function<void(const AntiSleepSchedule&)> onChange,
                          QWidget* parent = nullptr);

    void setSchedule(const AntiSleepSchedule& schedule);

    // "Active all day, every day.", "Active from 09:00 to 18:00." or "... (overnight).".
    static QString scheduleDescription(int startMinuteOfDay, int endMinuteOfDay);

    SettingsToggleRow* enabledRow() const { return enabledRow_; }
    SettingsToggleRow* displayRow() const { return displayRow_; }
    SettingsToggleRow* activityRow() const { return activityRow_; }
    QTimeEdit* startPicker() const { return startPicker_; }
    QTimeEdit* endPicker() const { return endPicker_; }
    QLabel* summaryLabel() const { return summary_; }
    SettingsCard* batteryCard() const { return batteryCard_; }
    QWidget* options() const { return options_; }

private:
    void write(const std::function<void(AntiSleepSchedule&)>& change);

    AntiSleepSchedule schedule_;
    std::function<void(const AntiSleepSchedule&)> onChange_;
    SettingsToggleRow* enabledRow_ = nullptr;
    SettingsToggleRow* displayRow_ = nullptr;
    SettingsToggleRow* activityRow_ = nullptr;
    QTimeEdit* startPicker_ = nullptr;
    QTimeEdit* endPicker_ = nullptr;
    QLabel* summary_ = nullptr;
    SettingsCard* batteryCard_ = nullptr;
    QWidget* options_ = nullptr;
};

}  // namespace tavrolin
