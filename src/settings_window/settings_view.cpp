#include "settings_window/settings_view.h"

#include "core/app_language.h"
#include "core/linux_wording.h"
#include "settings_window/anti_sleep_settings_view.h"
#include "settings_window/confirmation_dialog.h"
#include "settings_window/settings_layout.h"
#include "settings_window/shortcut_recorder.h"
#include "settings_window/translation_notice_popover.h"
#include "window_translation/translation_setup_notice_view.h"

#include <QComboBox>
#include <QFontDatabase>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <cmath>

namespace tavrolin {

using namespace settings_style;

namespace {

struct PaneTexts {
    const char* title;
    const char* subtitle;
};

// In pane order.
constexpr PaneTexts kPaneTexts[] = {
    {"Translation", "Choose your native language and your second language."},
    {"Dictation", "Voice transcription language and preferences."},
    {"Overlays", "Screenshot translation overlay behavior and timing"},
    {"Shortcuts", "Keep frequently used actions fast without crowding the rest of the settings."},
    {"Anti-Sleep", "Prevent your Mac from sleeping and the screen from locking on a schedule."},
    {"Privacy", "Startup and network-backed behavior that most people change rarely."},
    {"About", "Reference details for the current build and device."},
};

QLabel* footnote(const QString& text, QWidget* parent) {
    QLabel* result = label(text, 11, QFont::Normal, true, parent);
    result->setWordWrap(true);
    return result;
}

QWidget* paneStack(QWidget* parent, QVBoxLayout*& column) {
    auto* pane = new QWidget(parent);
    column = new QVBoxLayout(pane);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(18);
    return pane;
}

}  // namespace

SettingsView::SettingsView(const AppSettings& settings, std::function<void()> onCancel, SaveCallback onSave,
                           std::function<void()> onExportDiagnostics,
                           std::function<void(bool)> onShortcutRecordingChanged, SettingsViewServices services,
                           QWidget* parent)
    : QWidget(parent),
      draftSettings_(settings),
      onCancel_(std::move(onCancel)),
      onSave_(std::move(onSave)),
      onExportDiagnostics_(std::move(onExportDiagnostics)),
      onShortcutRecordingChanged_(std::move(onShortcutRecordingChanged)),
      services_(std::move(services)) {
    setObjectName(QStringLiteral("settingsView"));
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    body_ = new QWidget(this);
    auto* bodyColumn = new QVBoxLayout(body_);
    bodyColumn->setContentsMargins(0, 0, 0, 0);
    bodyColumn->setSpacing(0);
    auto* panes = new QHBoxLayout;
    panes->setSpacing(0);
    sidebar_ = new SettingsSidebar(selectedPane_, body_);
    connect(sidebar_, &SettingsSidebar::paneSelected, this, &SettingsView::selectPane);
    panes->addWidget(sidebar_);
    auto* line = new QFrame(body_);
    line->setFrameShape(QFrame::VLine);
    line->setFrameShadow(QFrame::Plain);
    line->setForegroundRole(QPalette::Mid);
    panes->addWidget(line);
    scroll_ = new QScrollArea(body_);
    scroll_->setObjectName(QStringLiteral("paneScroll"));
    scroll_->setWidgetResizable(true);
    // Tab goes from the sidebar straight to the pane's controls.
    scroll_->setFocusPolicy(Qt::NoFocus);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    panes->addWidget(scroll_, 1);
    bodyColumn->addLayout(panes, 1);
    auto* footerLine = new QFrame(body_);
    footerLine->setFrameShape(QFrame::HLine);
    footerLine->setFrameShadow(QFrame::Plain);
    footerLine->setForegroundRole(QPalette::Mid);
    bodyColumn->addWidget(footerLine);

    auto* footer = new QWidget(body_);
    auto* footerColumn = new QVBoxLayout(footer);
    footerColumn->setContentsMargins(24, 16, 24, 16);
    footerColumn->setSpacing(10);
    message_ = label(QString(), 12, QFont::Medium, false, footer);
    message_->setObjectName(QStringLiteral("saveMessage"));
    message_->setWordWrap(true);
    {
        QPalette red = message_->palette();
        red.setColor(QPalette::WindowText, QColor(Qt::red));
        message_->setPalette(red);
    }
    footerColumn->addWidget(message_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    cancelButton_ = new QPushButton(QStringLiteral("Cancel"), footer);
    cancelButton_->setObjectName(QStringLiteral("cancel"));
    cancelButton_->setAutoDefault(false);
    saveButton_ = new QPushButton(QStringLiteral("Save"), footer);
    saveButton_->setObjectName(QStringLiteral("save"));
    saveButton_->setAutoDefault(false);
    saveButton_->setDefault(true);
    connect(cancelButton_, &QPushButton::clicked, this, [this] {
        if (onCancel_) {
            onCancel_();
        }
    });
    connect(saveButton_, &QPushButton::clicked, this, &SettingsView::save);
    buttons->addWidget(cancelButton_);
    buttons->addWidget(saveButton_);
    footerColumn->addLayout(buttons);
    bodyColumn->addWidget(footer);
    root->addWidget(body_);

    rebuildPane();
}

SettingsView::~SettingsView() {
    closeNoticePopover();
    // The grabs paused for a recording row come back when the window goes.
    setRecording(false);
}

void SettingsView::selectPane(SettingsPane pane) {
    if (pane == selectedPane_) {
        return;
    }
    selectedPane_ = pane;
    sidebar_->setSelectedPane(pane);
    rebuildPane();
}

void SettingsView::rebuildPane() {
    closeNoticePopover();
    // A row being destroyed does not always lose the focus first: end its recording here.
    setRecording(false);
    refreshers_.clear();
    targetPicker_.clear();
    messageTargetPicker_.clear();
    const PaneTexts& texts = kPaneTexts[static_cast<int>(selectedPane_)];
    // The Anti-Sleep subtitle names the machine.
    auto* holder = new QWidget;
    auto* margins = new QVBoxLayout(holder);
    margins->setContentsMargins(28, 28, 28, 28);
    paneContent_ = buildPaneContent(selectedPane_);
    margins->addWidget(new SettingsPage(QString::fromUtf8(texts.title), linuxWording(std::string_view(texts.subtitle)),
                                        selectedPane_, paneContent_, holder));
    delete scroll_->takeWidget();
    scroll_->setWidget(holder);
    // A new pane joins the end of the focus chain: put it between the sidebar and the footer.
    QWidget* previous = sidebar_->row(allSettingsPanes.back());
    for (QWidget* child : holder->findChildren<QWidget*>()) {
        if (child->focusPolicy() & Qt::TabFocus) {
            QWidget::setTabOrder(previous, child);
            previous = child;
        }
    }
    QWidget::setTabOrder(previous, cancelButton_);
    QWidget::setTabOrder(cancelButton_, saveButton_);
    refresh();
    // A stored notice shows again when its picker comes back.
    for (const auto placement :
         {SettingsLanguageDownloadPlacement::target, SettingsLanguageDownloadPlacement::messageTarget}) {
        if (notice(placement) && languagePicker(placement) && isVisible()) {
            showNoticePopover(placement);
            break;
        }
    }
}

QWidget* SettingsView::buildPaneContent(SettingsPane pane) {
    switch (pane) {
    case SettingsPane::translation:
        return translationPane();
    case SettingsPane::dictation:
        return dictationPane();
    case SettingsPane::overlays:
        return overlaysPane();
    case SettingsPane::shortcuts:
        return shortcutsPane();
    case SettingsPane::antiSleep:
        return antiSleepPane();
    case SettingsPane::privacy:
        return privacyPane();
    case SettingsPane::about:
        return aboutPane();
    }
    return new QWidget;
}

void SettingsView::refresh() {
    for (const auto& refresher : refreshers_) {
        refresher();
    }
    const std::optional<QString> validation = draftSettings_.validationError();
    const std::optional<QString> shown = saveError_ ? saveError_ : validation;
    message_->setText(shown.value_or(QString()));
    message_->setVisible(shown.has_value());
    saveButton_->setEnabled(!validation.has_value());
}

void SettingsView::modifyDraft(const std::function<void(AppSettings&)>& change) {
    const AppSettings before = draftSettings_;
    change(draftSettings_);
    if (draftSettings_ != before) {
        saveError_.reset();
    }
    if (draftSettings_.onlineFeaturesEnabled != before.onlineFeaturesEnabled) {
        if (!draftSettings_.onlineFeaturesEnabled) {
            // Languages that need the server are replaced so the copy stays valid.
            draftSettings_ = draftSettings_.sanitized();
            draftSettings_.telemetryEnabled = false;
        } else {
            draftSettings_.telemetryEnabled = true;
        }
    }
    refresh();
    Q_EMIT draftChanged();
}

AppSettings SettingsView::keepCustomDraftSettings(const AppSettings& defaults) const {
    AppSettings result = draftSettings_;
    result.setShortcuts(defaults.shortcuts());
    return result;
}

void SettingsView::save() {
    if (const std::optional<QString> validation = draftSettings_.validationError()) {
        saveError_ = validation;
        refresh();
        return;
    }
    const QPointer<SettingsView> self(this);
    std::optional<QString> result = onSave_ ? onSave_(draftSettings_) : std::nullopt;
    if (!self) {
        return;
    }
    saveError_ = std::move(result);
    refresh();
}

void SettingsView::setOnlineFeaturesToggle(bool on) {
    if (on) {
        modifyDraft([](AppSettings& settings) { settings.onlineFeaturesEnabled = true; });
        return;
    }
    if (!draftSettings_.onlineFeaturesEnabled || showOnlineFeaturesAlert_) {
        refresh();
        return;
    }
    showOnlineFeaturesAlert_ = true;
    refresh();  // the switch springs back on while the question is open
    showOverlay(false);
}

void SettingsView::requestResetAll() {
    if (overlay_) {
        return;
    }
    showResetAllConfirmation_ = true;
    showOverlay(true);
}

void SettingsView::showOverlay(bool resetShortcuts) {
    closeNoticePopover();
    body_->setEnabled(false);
    const QPointer<SettingsView> self(this);
    const auto onClose = [self, resetShortcuts] {
        if (!self) {
            return;
        }
        if (resetShortcuts) {
            self->showResetAllConfirmation_ = false;
        } else {
            self->showOnlineFeaturesAlert_ = false;
        }
        self->closeOverlay();
    };
    if (resetShortcuts) {
        overlay_ = ResetShortcutsConfirmationDialog::show(this, onClose, [self] {
            if (self) {
                self->modifyDraft(
                    [&](AppSettings& settings) { settings = self->keepCustomDraftSettings(AppSettings()); });
            }
        });
    } else {
        overlay_ = DisableOnlineFeaturesDialog::show(this, onClose, [self] {
            if (self) {
                self->modifyDraft([](AppSettings& settings) {
                    settings.onlineFeaturesEnabled = false;
                    settings = settings.sanitized();
                });
            }
        });
    }
}

void SettingsView::closeOverlay() {
    if (overlay_) {
        overlay_->deleteLater();
        overlay_.clear();
    }
    body_->setEnabled(true);
    refresh();
}

void SettingsView::keyPressEvent(QKeyEvent* event) {
    if (!handleWindowKey(event)) {
        QWidget::keyPressEvent(event);
    }
}

bool SettingsView::handleWindowKey(QKeyEvent* event) {
    if (overlay_) {
        return false;
    }
    const auto modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (event->key() == Qt::Key_Escape && modifiers == Qt::NoModifier) {
        cancelButton_->click();
        return true;
    }
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && modifiers == Qt::NoModifier) {
        if (saveButton_->isEnabled()) {
            save();
        }
        return true;
    }
    return false;
}

void SettingsView::setRecording(bool recording) {
    if (recording_ == recording) {
        return;
    }
    recording_ = recording;
    if (onShortcutRecordingChanged_) {
        onShortcutRecordingChanged_(recording);
    }
}

// ---- language pickers and their notices

QComboBox* SettingsView::languagePicker(SettingsLanguageDownloadPlacement placement) const {
    return placement == SettingsLanguageDownloadPlacement::target ? targetPicker_.data() : messageTargetPicker_.data();
}

std::optional<TranslationDownloadNotice>& SettingsView::notice(SettingsLanguageDownloadPlacement placement) {
    return placement == SettingsLanguageDownloadPlacement::target ? targetNotice_ : messageTargetNotice_;
}

bool SettingsView::isCurrentLanguagePair(const TranslationLanguagePair& pair,
                                         SettingsLanguageDownloadPlacement placement) const {
    const AppLanguage target = placement == SettingsLanguageDownloadPlacement::target
                                   ? draftSettings_.targetLanguage
                                   : draftSettings_.messageTargetLanguage;
    return pair == TranslationLanguagePair{AppLanguage::automatic, target};
}

void SettingsView::languageChosen(SettingsLanguageDownloadPlacement placement) {
    setNotice(placement, std::nullopt);
    const AppLanguage target = placement == SettingsLanguageDownloadPlacement::target
                                   ? draftSettings_.targetLanguage
                                   : draftSettings_.messageTargetLanguage;
    const TranslationLanguagePair pair{AppLanguage::automatic, target};
    if (pair.isValidSelection() && services_.localTranslationSetupSupport) {
        // Runs on its own; it touches the view only while it still exists.
        checkLanguageDownload(QPointer<SettingsView>(this), services_.localTranslationSetupSupport, pair, placement);
    }
}

QCoro::Task<void> SettingsView::checkLanguageDownload(QPointer<SettingsView> view,
                                                      std::shared_ptr<TranslationSetupSupport> support,
                                                      TranslationLanguagePair pair,
                                                      SettingsLanguageDownloadPlacement placement) {
    std::optional<TranslationDownloadNotice> result = co_await support->downloadNotice(pair);
    if (!view) {
        co_return;  // the window went while the check ran
    }
    // Only the answer for the language still chosen counts.
    if (view->isCurrentLanguagePair(pair, placement)) {
        view->setNotice(placement, std::move(result));
    }
    Q_EMIT view->languageCheckFinished();
}

void SettingsView::setNotice(SettingsLanguageDownloadPlacement placement,
                             std::optional<TranslationDownloadNotice> value) {
    notice(placement) = std::move(value);
    if (notice(placement)) {
        showNoticePopover(placement);
    } else if (popover_ && popover_->property("placement").toInt() == static_cast<int>(placement)) {
        closeNoticePopover();
    }
}

void SettingsView::dismissNotice(SettingsLanguageDownloadPlacement placement) {
    notice(placement).reset();
    if (popover_ && popover_->property("placement").toInt() == static_cast<int>(placement)) {
        closeNoticePopover();
    }
}

void SettingsView::showNoticePopover(SettingsLanguageDownloadPlacement placement) {
    QComboBox* picker = languagePicker(placement);
    if (!picker || !notice(placement) || !picker->isVisible()) {
        return;
    }
    closeNoticePopover();
    const QPointer<SettingsView> self(this);
    auto* popover = new TranslationNoticePopover(
        *notice(placement), services_.openTranslationSetup,
        [self, placement] {
            if (self && !self->closingPopover_) {
                self->notice(placement).reset();
            }
        },
        this);
    popover->setProperty("placement", static_cast<int>(placement));
    const QPoint below = picker->mapToGlobal(QPoint(0, picker->height()));
    popover->move(below);
    popover_ = popover;
    popover->show();
}

void SettingsView::closeNoticePopover() {
    if (!popover_) {
        return;
    }
    closingPopover_ = true;
    static_cast<TranslationNoticePopover*>(popover_.data())->closeByOwner();
    closingPopover_ = false;
    popover_.clear();
}

// ---- panes

namespace {

// A pop-up list of languages reading and writing one field of the working copy.
struct LanguagePickerBinding {
    std::function<AppLanguage(const AppSettings&)> read;
    std::function<void(AppSettings&, AppLanguage)> write;
};

}  // namespace

static QComboBox* addLanguagePicker(SettingsView* view, QWidget* parent, QVBoxLayout* stack, const QString& title,
                                    LanguagePickerBinding binding, std::vector<std::function<void()>>& refreshers,
                                    std::function<void()> onSelectionChanged) {
    stack->addWidget(label(title, 12, QFont::Medium, true, parent));
    auto* picker = new QComboBox(parent);
    picker->setAccessibleName(title);
    picker->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    stack->addWidget(picker);
    refreshers.push_back([view, picker, read = binding.read] {
        const AppSettings& draft = view->draftSettings();
        const std::vector<AppLanguage> languages =
            AppLanguages::filteredCases(AppLanguages::targetCases(), draft.onlineFeaturesEnabled);
        const QSignalBlocker blocker(picker);
        bool same = picker->count() == int(languages.size());
        for (int index = 0; same && index < picker->count(); ++index) {
            same = picker->itemData(index).toString() == rawValue(languages[std::size_t(index)]);
        }
        if (!same) {
            picker->clear();
            for (AppLanguage language : languages) {
                picker->addItem(displayName(language), rawValue(language));
            }
        }
        picker->setCurrentIndex(picker->findData(rawValue(read(draft))));
    });
    QObject::connect(picker, qOverload<int>(&QComboBox::activated), view,
                     [view, picker, write = binding.write, onSelectionChanged](int index) {
                         const auto language = fromRawValue<AppLanguage>(picker->itemData(index).toString());
                         if (!language) {
                             return;
                         }
                         view->modifyDraft([&](AppSettings& settings) { write(settings, *language); });
                         if (onSelectionChanged) {
                             onSelectionChanged();
                         }
                     });
    return picker;
}

QWidget* SettingsView::translationPane() {
    QVBoxLayout* column = nullptr;
    QWidget* pane = paneStack(this, column);

    auto* native = new SettingsCard(QStringLiteral("Native language"),
                                    QStringLiteral("Screenshots and windows are translated into this language."), pane);
    native->contentLayout()->setSpacing(6);
    targetPicker_ =
        addLanguagePicker(this, native, native->contentLayout(), QStringLiteral("Language"),
                          {[](const AppSettings& s) { return s.targetLanguage; },
                           [](AppSettings& s, AppLanguage l) { s.targetLanguage = l; }},
                          refreshers_, [this] { languageChosen(SettingsLanguageDownloadPlacement::target); });
    QLabel* nativeFootnote = footnote(QString(), native);
    nativeFootnote->setObjectName(QStringLiteral("nativeFootnote"));
    native->contentLayout()->addWidget(nativeFootnote);
    refreshers_.push_back([this, nativeFootnote] {
        nativeFootnote->setText(
            draftSettings_.onlineFeaturesEnabled
                ? QStringLiteral("Auto Detect works best when the screenshot contains enough readable text. If a local "
                                 "language pack is missing, Tavrolin can fall back to server translation.")
                : linuxWording(u"Online features are off, so translation uses only downloaded macOS translation "
                               u"languages. Some languages are unavailable in this mode."));
    });
    column->addWidget(native);

    auto* second = new SettingsCard(
        QStringLiteral("Second language"),
        QStringLiteral("Your text is translated into this language when you use Write message."), pane);
    second->contentLayout()->setSpacing(6);
    messageTargetPicker_ =
        addLanguagePicker(this, second, second->contentLayout(), QStringLiteral("Language"),
                          {[](const AppSettings& s) { return s.messageTargetLanguage; },
                           [](AppSettings& s, AppLanguage l) { s.messageTargetLanguage = l; }},
                          refreshers_, [this] { languageChosen(SettingsLanguageDownloadPlacement::messageTarget); });
    second->contentLayout()->addWidget(
        footnote(QStringLiteral("The source language of your message is detected automatically."), second));
    column->addWidget(second);
    return pane;
}

QWidget* SettingsView::dictationPane() {
    QVBoxLayout* column = nullptr;
    QWidget* pane = paneStack(this, column);
    auto* language = new SettingsCard(
        QStringLiteral("Dictation language"),
        QStringLiteral("The language spoken during voice dictation in the Dictation Scratchpad."), pane);
    language->contentLayout()->setSpacing(6);
    // Shows the native language while none is set; a choice is always stored. No notice, no check.
    QComboBox* picker =
        addLanguagePicker(this, language, language->contentLayout(), QStringLiteral("Language"),
                          {[](const AppSettings& s) { return s.dictationLanguage.value_or(s.targetLanguage); },
                           [](AppSettings& s, AppLanguage l) { s.dictationLanguage = l; }},
                          refreshers_, {});
    picker->setObjectName(QStringLiteral("dictationPicker"));
    language->contentLayout()->addWidget(
        footnote(QStringLiteral("If none is selected, your Native language is used by default."), language));
    column->addWidget(language);

    auto* improve =
        new SettingsCard(QStringLiteral("Improve on stop"),
                         QStringLiteral("Automatically improve transcribed text when you stop dictating."), pane);
    auto* row = new SettingsToggleRow(QStringLiteral("Auto Improve"),
                                      QStringLiteral("Run the Improve action automatically each time dictation stops."),
                                      improve);
    row->setObjectName(QStringLiteral("autoImprove"));
    improve->contentLayout()->addWidget(row);
    connect(row->toggle(), &QCheckBox::toggled, this,
            [this](bool on) { modifyDraft([on](AppSettings& s) { s.autoImproveOnDictationStop = on; }); });
    refreshers_.push_back([this, row] {
        const QSignalBlocker blocker(row->toggle());
        row->toggle()->setChecked(draftSettings_.autoImproveOnDictationStop);
        row->toggle()->setEnabled(draftSettings_.onlineFeaturesEnabled);
    });
    column->addWidget(improve);
    return pane;
}

QWidget* SettingsView::overlaysPane() {
    QVBoxLayout* column = nullptr;
    QWidget* pane = paneStack(this, column);
    // A slider row: an integer slider (at `scale` steps per second) and its value text.
    const auto sliderRow = [this](QWidget* parent, QVBoxLayout* stack, int minimum, int maximum, int scale,
                                  double AppSettings::*field, int decimals, const QString& name) {
        auto* row = new QHBoxLayout;
        row->setSpacing(14);
        auto* slider = new QSlider(Qt::Horizontal, parent);
        slider->setObjectName(name);
        slider->setRange(minimum * scale, maximum * scale);
        slider->setSingleStep(1);
        slider->setPageStep(1);
        row->addWidget(slider, 1);
        QLabel* value = label(QString(), 12, QFont::Medium, true, parent);
        QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        mono.setPointSize(12);
        value->setFont(mono);
        value->setFixedWidth(44);
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        value->setObjectName(name + QStringLiteral("Value"));
        row->addWidget(value);
        stack->addLayout(row);
        connect(slider, &QSlider::valueChanged, this, [this, field, scale](int position) {
            modifyDraft([&](AppSettings& s) { s.*field = double(position) / scale; });
        });
        refreshers_.push_back([this, slider, value, field, scale, decimals] {
            const double seconds = draftSettings_.*field;
            const QSignalBlocker blocker(slider);
            slider->setValue(int(std::lround(seconds * scale)));
            value->setText(QString::number(seconds, 'f', decimals) + QStringLiteral("s"));
        });
    };

    auto* popup = new SettingsCard(QStringLiteral("Selection popup"),
                                   QStringLiteral("Show a translate button when you select text in other apps."), pane);
    auto* popupRow = new SettingsToggleRow(
        QStringLiteral("Show translate button on selection"),
        QStringLiteral("Displays a small floating button near selected text in other applications. Works only when the "
                       "selected text appears to be in a foreign language."),
        popup);
    popup->contentLayout()->addWidget(popupRow);
    connect(popupRow->toggle(), &QCheckBox::toggled, this,
            [this](bool on) { modifyDraft([on](AppSettings& s) { s.selectionPopupEnabled = on; }); });
    refreshers_.push_back([this, popupRow] {
        const QSignalBlocker blocker(popupRow->toggle());
        popupRow->toggle()->setChecked(draftSettings_.selectionPopupEnabled);
    });
    popup->contentLayout()->addWidget(settingsDivider(popup, 8));
    sliderRow(popup, popup->contentLayout(), 3, 15, 1, &AppSettings::selectionPopupAutoDismissDelay, 0,
              QStringLiteral("popupDelay"));
    popup->contentLayout()->addWidget(
        footnote(QStringLiteral("How long the popup button stays visible after selecting text."), popup));
    column->addWidget(popup);

    auto* dismiss =
        new SettingsCard(QStringLiteral("Dismiss delay"),
                         QStringLiteral("Minimum display time before keyboard or mouse dismissal is accepted."), pane);
    sliderRow(dismiss, dismiss->contentLayout(), 0, 3, 2, &AppSettings::overlayMinimumDisplayDuration, 1,
              QStringLiteral("dismissDelay"));
    dismiss->contentLayout()->addWidget(footnote(
        QStringLiteral("Minimum time the overlay stays visible after it appears, so it doesn't disappear while "
                       "you are still releasing the shortcut keys."),
        dismiss));
    column->addWidget(dismiss);
    return pane;
}

QWidget* SettingsView::shortcutsPane() {
    QVBoxLayout* column = nullptr;
    QWidget* pane = paneStack(this, column);
    struct Group {
        const char* title;
        const char* subtitle;
        std::vector<HotKeyAction> actions;
    };
    const Group groups[] = {
        {"Translation",
         "Translate selection or active window, and write messages in another language.",
         {HotKeyAction::captureAndTranslateActiveWindow, HotKeyAction::translateMessage, HotKeyAction::flipLanguage}},
        {"Dictation", "Open a floating scratchpad for voice transcription.", {HotKeyAction::openDictationScratchpad}},
        {"Text Editing",
         "Edit, rewrite, or create prompts for the focused text in place.",
         {HotKeyAction::editText, HotKeyAction::writeText, HotKeyAction::createPrompt}},
    };
    for (const Group& group : groups) {
        auto* card = new ShortcutGroupCard(QString::fromUtf8(group.title), QString::fromUtf8(group.subtitle), pane);
        bool first = true;
        for (HotKeyAction action : group.actions) {
            if (!first) {
                card->contentLayout()->addWidget(settingsDivider(card));
            }
            first = false;
            auto* row = new HotKeyEditorRow(action, draftSettings_.shortcut(action), services_.keyboard, card);
            card->contentLayout()->addWidget(row);
            connect(row, &HotKeyEditorRow::shortcutChanged, this,
                    [this](HotKeyAction changed, const HotKeyShortcut& value) {
                        modifyDraft([&](AppSettings& s) { s.setShortcut(changed, value); });
                    });
            connect(row, &HotKeyEditorRow::recordingChanged, this, [this](bool recording) {
                // Focus moves from one row to the next: the old one ends before the new one starts.
                setRecording(recording);
            });
            refreshers_.push_back([this, row, action] {
                if (row->field()->shortcut() != draftSettings_.shortcut(action)) {
                    row->setShortcut(draftSettings_.shortcut(action));
                }
            });
        }
        column->addWidget(card);
    }
    auto* footer = new QHBoxLayout;
    footer->setSpacing(12);
    QLabel* hint = footnote(QStringLiteral("Shortcuts are saved automatically when you press them."), pane);
    hint->setWordWrap(false);
    footer->addWidget(hint);
    footer->addStretch();
    auto* reset = new QPushButton(QStringLiteral("Reset All"), pane);
    reset->setObjectName(QStringLiteral("resetAll"));
    reset->setAutoDefault(false);
    connect(reset, &QPushButton::clicked, this, &SettingsView::requestResetAll);
    footer->addWidget(reset);
    column->addLayout(footer);
    return pane;
}

QWidget* SettingsView::antiSleepPane() {
    auto* view = new AntiSleepSettingsView(
        draftSettings_.antiSleepSchedule,
        [this](const AntiSleepSchedule& schedule) {
            modifyDraft([&](AppSettings& s) { s.antiSleepSchedule = schedule; });
        },
        this);
    refreshers_.push_back([this, view] { view->setSchedule(draftSettings_.antiSleepSchedule); });
    return view;
}

QWidget* SettingsView::privacyPane() {
    QVBoxLayout* column = nullptr;
    QWidget* pane = paneStack(this, column);
    auto* startup =
        new SettingsCard(QStringLiteral("Startup"), linuxWording(u"Keep Tavrolin ready in the menu bar."), pane);
    auto* launch = new SettingsToggleRow(
        QStringLiteral("Launch Tavrolin when you log in"),
        linuxWording(u"Uses macOS Login Items when Tavrolin is running from its app bundle."), startup);
    launch->setObjectName(QStringLiteral("launchAtLogin"));
    startup->contentLayout()->addWidget(launch);
    connect(launch->toggle(), &QCheckBox::toggled, this,
            [this](bool on) { modifyDraft([on](AppSettings& s) { s.launchAtLoginEnabled = on; }); });
    column->addWidget(startup);

    auto* online = new SettingsCard(QStringLiteral("Online features"),
                                    QStringLiteral("Controls network-backed capabilities and diagnostics."), pane);
    auto* allow = new SettingsToggleRow(
        QStringLiteral("Allow online features"),
        QStringLiteral("Required for server translation fallback, text editing, writing, automatic app updates, and "
                       "online-exclusive language pairs."),
        online);
    allow->setObjectName(QStringLiteral("onlineFeatures"));
    online->contentLayout()->addWidget(allow);
    connect(allow->toggle(), &QCheckBox::toggled, this, [this](bool on) { setOnlineFeaturesToggle(on); });
    online->contentLayout()->addWidget(settingsDivider(online));
    auto* telemetry = new SettingsToggleRow(
        QStringLiteral("Send anonymous usage statistics"),
        QStringLiteral("Does not include screenshot content, OCR text, translations, prompts, or window context. Only "
                       "action type, timing, and app environment."),
        online);
    telemetry->setObjectName(QStringLiteral("telemetry"));
    online->contentLayout()->addWidget(telemetry);
    connect(telemetry->toggle(), &QCheckBox::toggled, this,
            [this](bool on) { modifyDraft([on](AppSettings& s) { s.telemetryEnabled = on; }); });
    column->addWidget(online);
    refreshers_.push_back([this, launch, allow, telemetry] {
        const QSignalBlocker a(launch->toggle()), b(allow->toggle()), c(telemetry->toggle());
        launch->toggle()->setChecked(draftSettings_.launchAtLoginEnabled);
        allow->toggle()->setChecked(onlineFeaturesToggle());
        telemetry->toggle()->setChecked(draftSettings_.telemetryEnabled);
        telemetry->toggle()->setEnabled(draftSettings_.onlineFeaturesEnabled);
    });
    return pane;
}

QWidget* SettingsView::aboutPane() {
    QVBoxLayout* column = nullptr;
    QWidget* pane = paneStack(this, column);
    auto* card =
        new SettingsCard(QStringLiteral("App info"),
                         QStringLiteral("Useful when you need to report an issue or confirm the current build."), pane);
    const QPointer<SettingsView> self(this);
    card->contentLayout()->addWidget(new AboutFooterSection(
        [self] {
            if (self && self->onExportDiagnostics_) {
                self->onExportDiagnostics_();
            }
        },
        services_.deviceID ? services_.deviceID() : QString(),
        services_.appVersion ? services_.appVersion() : QString(), card));
    column->addWidget(card);
    return pane;
}

}  // namespace tavrolin
