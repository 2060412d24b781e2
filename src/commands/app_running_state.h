#pragma once

#include "core/lifetime_token.h"
#include "window_translation/translation_preview_state.h"

#include <QImage>
#include <QRectF>
#include <QUuid>

#include <array>
#include <cstdint>
#include <optional>

namespace tavrolin {

// The window-translation overlay on screen.
struct OverlayTranslationContext {
    QUuid sessionID;
    QImage originalImage;
    QImage currentImage;
    QRectF windowBounds;
    std::optional<qint32> ownerPID;
    TranslationPreviewState translationState;
    std::optional<QUuid> retranslationRequestID;

    // Whether a re-translation result still belongs to what is on screen.
    bool matchesRetranslationRequest(const QUuid& sessionID, const QUuid& requestID) const {
        return this->sessionID == sessionID && retranslationRequestID && *retranslationRequestID == requestID;
    }
};

// What the delegate's workflows share while they run: which of them is in progress and the
// overlay on screen. A workflow's flag is set only by holding a WorkflowRun, which clears it on
// every way out, so no run can leave a command busy for good. Main thread only.
class AppRunningState {
public:
    enum class Workflow {
        messageTranslation,
        textEditing,
        textWriting,
        selectionTranslation,
        flipLanguage,
        createPrompt,
    };

    // One workflow's hold on its flag, from begin() until end() or its destruction. Outliving
    // the state is harmless.
    class WorkflowRun {
    public:
        WorkflowRun() = default;
        WorkflowRun(WorkflowRun&& other) noexcept;
        WorkflowRun& operator=(WorkflowRun&& other) noexcept;
        WorkflowRun(const WorkflowRun&) = delete;
        WorkflowRun& operator=(const WorkflowRun&) = delete;
        ~WorkflowRun() { end(); }
        void end();

    private:
        friend class AppRunningState;
        WorkflowRun(LifetimeToken<AppRunningState>::Weak state, Workflow workflow)
            : state_(std::move(state)), workflow_(workflow) {}
        LifetimeToken<AppRunningState>::Weak state_;
        Workflow workflow_ = Workflow::messageTranslation;
    };

    AppRunningState() = default;
    AppRunningState(const AppRunningState&) = delete;
    AppRunningState& operator=(const AppRunningState&) = delete;

    // Sets the flag until the answer ends. The caller has checked that the workflow may start.
    [[nodiscard]] WorkflowRun begin(Workflow workflow);
    bool isInProgress(Workflow workflow) const { return inProgress_[index(workflow)]; }
    bool isAnyInProgress() const;

    const std::optional<OverlayTranslationContext>& overlayTranslationContext() const { return overlay_; }
    // The overlay now on screen (or about to be), or none.
    void setOverlayTranslationContext(std::optional<OverlayTranslationContext> context) {
        overlay_ = std::move(context);
    }
    // Marks the overlay on screen as waiting for a new request; none when no overlay is on screen.
    std::optional<QUuid> beginRetranslation();
    // The overlay on screen while it still waits for that request, else null.
    OverlayTranslationContext* retranslationTarget(const QUuid& sessionID, const QUuid& requestID);

    // How many translated images have been put on screen: tells whether a newer one came while an
    // alert of an older overlay was open.
    std::uint64_t overlaysPresented() const { return overlaysPresented_; }
    void countOverlayPresented() { ++overlaysPresented_; }

private:
    static constexpr std::size_t workflowCount = 6;
    static std::size_t index(Workflow workflow) { return static_cast<std::size_t>(workflow); }

    std::array<bool, workflowCount> inProgress_{};
    std::optional<OverlayTranslationContext> overlay_;
    std::uint64_t overlaysPresented_ = 0;
    LifetimeToken<AppRunningState> lifetime_{this};
};

}  // namespace tavrolin
