#include "core/linux_wording.h"

#include <array>

namespace tavrolin {

namespace {

// Keep rows grouped by subsystem; the replacement must stay true on a Linux desktop (X11,
// AT-SPI, Apertium for translation on the device).
constexpr LinuxRewording kLinuxRewordings[] = {
    // --- Core model: workflow error messages and recovery suggestions ---
    {"The active window from %1 could not be matched to a ScreenCaptureKit window.",
     "The active window from %1 could not be matched to a window on the X11 display."},
    {"%1 to %2 translation is not installed on this Mac yet.",
     "%1 to %2 translation is not installed on this computer yet."},
    {"Open macOS Settings > General > Language & Region > Translation Languages, then download "
     "the source and target languages.",
     "Install the Apertium language pair package for the source and target languages with your "
     "package manager (for example apertium-eng-spa), then try again."},
    {"%1 to %2 translation is not supported on this Mac.", "%1 to %2 translation is not supported on this computer."},
    {"Open macOS Settings > General > Language & Region > Translation Languages, download %1 and "
     "%2, then try translating again.",
     "Install the Apertium language pair package for %1 and %2 with your package manager, then "
     "try translating again."},
    {"macOS did not report a frontmost app to capture.", "The desktop did not report a frontmost app to capture."},
    {"Open System Settings > Privacy & Security > Screen & System Audio Recording, enable "
     "Tavrolin, then try the capture again.",
     "Make sure Tavrolin runs in an X11 session that allows reading the screen, then try the "
     "capture again."},
    {"ScreenCaptureKit returned an empty screenshot.", "The X11 screen capture returned an empty screenshot."},
    {"Window translation requires macOS 26 or newer.",
     "Translation on this computer requires the Apertium translation engine."},
    {"Update the Mac to macOS 26 or newer to use window translation.",
     "Install the apertium package with your package manager to translate on this computer."},
    {"Open System Settings > Privacy & Security > Accessibility, enable Tavrolin, then try the "
     "shortcut again.",
     "Turn on assistive technologies in your desktop's accessibility settings (the AT-SPI bus), "
     "then try the shortcut again."},

    // Shortcut modifiers: the stored flags keep their names; a user reads the keys of this
    // keyboard (Alt is Mod1, Super is Mod4).
    {"Option", "Alt"},
    {"Command", "Super"},
    {"\u2325", "\u2387"},  // ⌥ -> ⎇
    {"\u2318", "\u2756"},  // ⌘ -> ❖

    // --- Application shell ---
    {"Check out Tavrolin \u2014 instant screenshot & text translation on macOS.",
     "Check out Tavrolin \u2014 instant screenshot & text translation on Linux."},
    // Alerts: %1 is the shortcut text, or the source and target language names.
    {"Tavrolin needs Accessibility access to read and replace text in other apps.\n\nOpen System Settings > "
     "Privacy & Security > Accessibility, turn on Tavrolin, then try the shortcut again.",
     "Tavrolin needs Accessibility access to read and replace text in other apps.\n\nOpen your desktop's "
     "accessibility settings, turn on assistive technologies (the AT-SPI accessibility bus), then try the "
     "shortcut again."},
    {"macOS showed the permission prompt because screen capture is not set up yet.\n\nTo finish setup:\n 1. "
     "Open System Settings > Privacy & Security > Screen & System Audio Recording\n 2. Turn on Tavrolin\n 3. If "
     "macOS asks, quit and reopen Tavrolin\n 4. Press %1 again",
     "The desktop refused screen capture because it is not set up yet.\n\nTo finish setup:\n 1. Log in to an "
     "X11 session (screen capture needs no permission there)\n 2. Quit and reopen Tavrolin\n 3. Press %1 again"},
    {"Screen Recording access was granted, but macOS usually needs the app to restart once before capture starts "
     "working.\n\nPlease:\n 1. Quit Tavrolin\n 2. Open it again\n 3. Press %1 again",
     "Screen capture was set up, but the app needs to restart once before capture starts working.\n\nPlease:\n "
     "1. Quit Tavrolin\n 2. Open it again\n 3. Press %1 again"},
    {"Tavrolin could not reach the translation server.\n\nTo translate without the server, open macOS Settings > "
     "General > Language & Region > Translation Languages, then click Download next to:\n\u2022 %1\n\u2022 "
     "%2\n\nAfter the languages are downloaded, try the translation again.",
     "Tavrolin could not reach the translation server.\n\nTo translate without the server, install the Apertium "
     "language pair packages with your package manager for:\n\u2022 %1\n\u2022 %2\n\nAfter the languages "
     "are installed, try the translation again."},
    {"Tavrolin found %1, but macOS can\u2019t translate it to %2 yet because those languages are not "
     "downloaded.\n\nOpen macOS Settings > General > Language & Region > Translation Languages, then click "
     "Download next to:\n\u2022 %1\n\u2022 %2",
     "Tavrolin found %1, but this computer can\u2019t translate it to %2 yet because those languages are not "
     "installed.\n\nInstall the Apertium language pair packages with your package manager for:\n\u2022 "
     "%1\n\u2022 %2"},
    {"macOS needs one more confirmation before Tavrolin can open automatically when you log in.\n\nOpen System "
     "Settings > General > Login Items and make sure Tavrolin is allowed to open at login.",
     "Your desktop needs one more confirmation before Tavrolin can open automatically when you log in.\n\nOpen "
     "your desktop's startup applications settings and make sure Tavrolin is allowed to open at login."},
    {"Open System Settings > General > Login Items and check whether Tavrolin is allowed to open at "
     "login.",
     "Check that the folder ~/.config/autostart can be written and that your desktop's startup "
     "applications allow Tavrolin to open at login."},

    // --- Language services ---
    // Translation setup notices: installing data for the device's engine means installing an
    // Apertium language pair package (the notice then names the packages and the command).
    {"Translation Languages Need Downloading", "Translation Languages Need Installing"},
    {"Some Translation Languages May Need Downloading", "Some Translation Languages May Need Installing"},
    {"Download %1 and %2 in macOS Settings > General > Language & Region > Translation "
     "Languages to use this translation pair.",
     "Install the Apertium language data for %1 and %2 with your package manager to use this "
     "translation pair."},
    {"Download %1 and the source languages you translate from in macOS Settings > General > "
     "Language & Region > Translation Languages.",
     "Install the Apertium language data for %1 and the source languages you translate from "
     "with your package manager."},
    {"Some detected source languages may require additional Translation Language downloads "
     "before translating into %1.",
     "Some detected source languages may need additional Apertium language data installed "
     "before translating into %1."},

    // --- Window translation ---
    // The setup notice's button: the device's engine gets its language data from a package the
    // user installs, and the button opens the step that explains it.
    {"Download Languages", "Install Languages"},

    // --- Focused-text workflows ---

    // --- Selection translation popup ---

    // --- Dictation scratchpad ---
    // Permission lines: a Linux desktop keeps such decisions, where it has any, in its own
    // privacy settings.
    {"\U0001F6AB Microphone permission denied. Enable it in System Settings \u2192 Privacy & Security.",
     "\U0001F6AB Microphone permission denied. Enable it in your desktop's privacy settings."},
    {"\U0001F6AB Speech Recognition permission denied. Enable it in System Settings \u2192 Privacy & Security.",
     "\U0001F6AB Speech Recognition permission denied. Enable it in your desktop's privacy settings."},
    {"\U0001F6AB Microphone access denied. Enable it in System Settings \u2192 Privacy & Security.",
     "\U0001F6AB Microphone access denied. Enable it in your desktop's privacy settings."},
    {"\U0001F6AB Speech Recognition access denied. Enable it in System Settings \u2192 Privacy & Security.",
     "\U0001F6AB Speech Recognition access denied. Enable it in your desktop's privacy settings."},

    // --- Settings window and anti-sleep ---
    {"Online features are off, so translation uses only downloaded macOS translation languages. Some "
     "languages are unavailable in this mode.",
     "Online features are off, so translation uses only the Apertium language pairs installed on this "
     "computer. Some languages are unavailable in this mode."},
    {"Keep Tavrolin ready in the menu bar.", "Keep Tavrolin ready in the system tray."},
    {"Uses macOS Login Items when Tavrolin is running from its app bundle.",
     "Adds Tavrolin to your desktop's startup applications when it runs from its installed location."},
    {"Prevent your Mac from sleeping and the screen from locking on a schedule.",
     "Prevent your computer from sleeping and the screen from locking on a schedule."},
    {"Keep Mac awake", "Keep computer awake"},
    {"Prevent your Mac from sleeping and the screen from locking during a scheduled time range.",
     "Prevent your computer from sleeping and the screen from locking during a scheduled time range."},
    {"When enabled, your Mac will stay awake and the screen will not lock during the scheduled hours.",
     "When enabled, your computer will stay awake and the screen will not lock during the scheduled hours."},
    {"Keeping your Mac awake will consume more power when running on battery.",
     "Keeping your computer awake will consume more power when running on battery."},

    // --- Onboarding ---
    {"Finish macOS setup once.", "Finish your desktop setup once."},
    {"macOS permissions", "Desktop permissions"},

    // --- Updates and diagnostics ---
    {"Download the new DMG and replace Tavrolin in Applications.",
     "Download the new release and install it over the installed copy of Tavrolin."},
};

QString utf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

QString linuxWording(QStringView original) {
    for (const auto& row : kLinuxRewordings) {
        if (original == utf8(row.original)) {
            return utf8(row.replacement);
        }
    }
    return original.toString();
}

QString linuxWording(std::string_view originalUtf8) {
    return linuxWording(QStringView(utf8(originalUtf8)));
}

std::span<const LinuxRewording> linuxRewordings() {
    return kLinuxRewordings;
}

}  // namespace tavrolin
