// The back end of programs that must never reach the desktop: the unit tests. Every facility is
// refused with NoDesktopBackEnd, so a unit test that asked for one fails, naming it, instead of
// talking to the display server, the accessibility bus or an engine; and a unit-test binary links
// none of their libraries.
#include "platform/desktop_backend.h"

#include <stdexcept>
#include <string>

namespace tavrolin {

namespace {

class NoDesktopBackEnd final : public std::logic_error {
public:
    explicit NoDesktopBackEnd(const char* facility)
        : std::logic_error(std::string("no desktop back end in this program: ") + facility +
                           " was asked for; hand the code under test a fake instead") {}
};

[[noreturn]] void refuse(const char* facility) {
    throw NoDesktopBackEnd(facility);
}

}  // namespace

SystemJournal systemJournal() {
    refuse("systemJournal()");
}

std::shared_ptr<AccessibilityCalls> systemAccessibilityCalls() {
    refuse("systemAccessibilityCalls()");
}

std::unique_ptr<AccessibilityBusStatus> makeSystemAccessibilityBusStatus() {
    refuse("makeSystemAccessibilityBusStatus()");
}

std::unique_ptr<Clipboard> makeSystemClipboard(std::function<void(const QString&, qsizetype)>) {
    refuse("makeSystemClipboard()");
}

std::unique_ptr<SyntheticInput> makeSystemSyntheticInput() {
    refuse("makeSystemSyntheticInput()");
}

DeferredSyntheticPointer makeSystemDeferredSyntheticPointer() {
    refuse("makeSystemDeferredSyntheticPointer()");
}

std::shared_ptr<WindowPinging> makeSystemWindowPing() {
    refuse("makeSystemWindowPing()");
}

std::shared_ptr<ProcessTable> makeSystemProcessTable() {
    refuse("makeSystemProcessTable()");
}

std::shared_ptr<UserKeyActivity> makeSystemUserKeyActivity() {
    refuse("makeSystemUserKeyActivity()");
}

std::shared_ptr<FrontApplicationProviding> defaultFrontApplicationProvider() {
    refuse("defaultFrontApplicationProvider()");
}

std::shared_ptr<FrontWindowActivating> makeSystemFrontWindowActivation() {
    refuse("makeSystemFrontWindowActivation()");
}

std::shared_ptr<GlobalMouseMonitoring> makeSystemGlobalMouseMonitoring() {
    refuse("makeSystemGlobalMouseMonitoring()");
}

std::shared_ptr<GlobalInputMonitoring> makeSystemGlobalInputMonitoring() {
    refuse("makeSystemGlobalInputMonitoring()");
}

std::shared_ptr<PrimarySelectionReading> makeSystemPrimarySelectionReader(std::shared_ptr<GlobalInputMonitoring>) {
    refuse("makeSystemPrimarySelectionReader()");
}

std::unique_ptr<KeyboardGrabbing> makeSystemKeyboardGrab() {
    refuse("makeSystemKeyboardGrab()");
}

bool anyOwnKeyboardGrabActive() {
    refuse("anyOwnKeyboardGrabActive()");
}

std::unique_ptr<GlobalKeyGrabbing> makeSystemGlobalKeyGrabber() {
    refuse("makeSystemGlobalKeyGrabber()");
}

std::shared_ptr<KeyboardLayoutReading> systemKeyboardLayoutReader() {
    refuse("systemKeyboardLayoutReader()");
}

std::shared_ptr<WindowListProviding> systemWindowList() {
    refuse("systemWindowList()");
}

std::shared_ptr<ScreenCapturing> systemScreenCapture() {
    refuse("systemScreenCapture()");
}

std::shared_ptr<ScreenCapturePermission> systemScreenCapturePermission() {
    refuse("systemScreenCapturePermission()");
}

void markAsOverlayWindow(quint64) {
    refuse("markAsOverlayWindow()");
}

std::shared_ptr<CompositingManagerDetecting> systemCompositingManagerDetector() {
    refuse("systemCompositingManagerDetector()");
}

void syncWithDisplayServer() {
    refuse("syncWithDisplayServer()");
}

std::unique_ptr<LanguageRecognizer> makeSystemLanguageRecognizer() {
    refuse("makeSystemLanguageRecognizer()");
}

std::unique_ptr<OnDeviceTranslationEngine> makeSystemTranslationEngine() {
    refuse("makeSystemTranslationEngine()");
}

std::optional<QString> systemTranslationPackageForPair(const QString&, const QString&) {
    refuse("systemTranslationPackageForPair()");
}

std::shared_ptr<TextRecognitionEngine> makeSystemTextRecognitionEngine() {
    refuse("makeSystemTextRecognitionEngine()");
}

std::unique_ptr<SpellingDictionary> loadSystemSpellingDictionary(const QByteArray&, const QByteArray&) {
    refuse("loadSystemSpellingDictionary()");
}

std::shared_ptr<SpeechModelProviding> makeSystemSpeechModels() {
    refuse("makeSystemSpeechModels()");
}

std::unique_ptr<AudioInputSource> makeSystemAudioInputSource() {
    refuse("makeSystemAudioInputSource()");
}

std::shared_ptr<DictationAuthorizing> makeSystemDictationAuthorization() {
    refuse("makeSystemDictationAuthorization()");
}

std::shared_ptr<const ZipArchiveWriter> makeSystemZipArchiveWriter() {
    refuse("makeSystemZipArchiveWriter()");
}

std::shared_ptr<HttpClient> systemHttpClient() {
    refuse("systemHttpClient()");
}

std::shared_ptr<PowerAssertionProviding> makeSystemSleepAssertions() {
    refuse("makeSystemSleepAssertions()");
}

std::shared_ptr<PowerAssertionProviding> makeDisplaySleepAssertions() {
    refuse("makeDisplaySleepAssertions()");
}

std::unique_ptr<SystemEventMonitoring> makeSystemEventMonitor() {
    refuse("makeSystemEventMonitor()");
}

}  // namespace tavrolin
