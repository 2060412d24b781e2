#pragma once

// The in-memory stand-ins a demonstration gives the real focused-field services instead of
// another application's field, the front window and the user's settings. Each is made for one
// demonstration and cannot fail.

#include "core/app_settings_providing.h"
#include "language/active_window_text_providing.h"
#include "language/focused_text_field_accessing.h"

#include <QString>

namespace tavrolin {

// A pretend focused field holding the sample text. Every read answers the whole text with no
// element and no selection; a replacement sets the text.
class OnboardingFocusedTextAccessor final : public FocusedTextFieldAccessing {
public:
    explicit OnboardingFocusedTextAccessor(QString text) : text_(std::move(text)) {}

    const QString& text() const { return text_; }

    // Kept but never called: the pretend field never needs the clipboard.
    ClipboardFallbackCallback onWillUseClipboardFallback() const override { return onWillUseClipboardFallback_; }
    void setOnWillUseClipboardFallback(ClipboardFallbackCallback callback) override {
        onWillUseClipboardFallback_ = std::move(callback);
    }

    QCoro::Task<FocusedTextFieldSnapshot> readFocusedField() override;
    QCoro::Task<FocusedTextFieldSnapshot> readFocusedSelection(bool notifyClipboardFallback) override;
    QCoro::Task<void> replaceFocusedFieldText(QString newText, FocusedTextFieldSnapshot snapshot) override;
    // The arguments do not matter: the field is always there.
    QCoro::Task<FocusedTextFieldSnapshot> prepareFocusedFieldWithRetry(int retryCount, double retryDelay) override;

    FocusedTextFieldSnapshot snapshot() const;

private:
    QString text_;
    ClipboardFallbackCallback onWillUseClipboardFallback_;
};

// A pretend front window whose text is fixed: bounds (0, 0, 1, 1), no process.
class OnboardingActiveWindowTextProvider final : public ActiveWindowTextProviding {
public:
    explicit OnboardingActiveWindowTextProvider(QString text) : text_(std::move(text)) {}
    QCoro::Task<ActiveWindowTextSnapshot> readActiveWindowText() override;

private:
    QString text_;
};

// Fixed settings for the translating demonstrations.
class OnboardingStaticSettingsStore final : public AppSettingsProviding {
public:
    explicit OnboardingStaticSettingsStore(AppSettings settings) : settings_(std::move(settings)) {}
    AppSettings settings() const override { return settings_; }

    // The default shortcuts and switches with the two languages given: online features, usage
    // statistics, launch at login and the popup on, dictation language unset, the popup
    // delay 5 s, the overlay minimum 1.5 s, anti-sleep off from 9:00 to 18:00.
    static AppSettings fixedSettings(AppLanguage nativeLanguage, AppLanguage secondLanguage);

private:
    AppSettings settings_;
};

}  // namespace tavrolin
