#include "core/capture_workflow_error.h"
#include "language/system_translation_client.h"
#include "platform/desktop_backend.h"
#include "platform/linux/apertium_translation_engine.h"
#include "platform/linux/cld2_language_recognizer.h"
#include "support/async.h"
#include "support/qt_printers.h"

#include <QFile>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

using Availability = TranslationPairAvailability;

QStringList translate(SystemTranslationClient& client, const QStringList& texts, AppLanguage source,
                      AppLanguage target) {
    return test::await(client.translate(texts, source, target));
}

TEST(SystemTranslationOnDevice, EnglishToSpanish) {
    SystemTranslationClient client(makeSystemTranslationEngine(), makeSystemLanguageRecognizer());
    EXPECT_EQ(translate(client, {"I have a red car.", "Good morning."}, AppLanguage::english, AppLanguage::spanish),
              QStringList({"Tengo un coche rojo.", QString::fromUtf8("Buenos días.")}));
}

// Apertium keeps the spaces around a pronoun Spanish leaves out; the user's own spaces stay.
TEST(SystemTranslationOnDevice, AWordLeftOutLeavesOneSpace) {
    SystemTranslationClient client(makeSystemTranslationEngine(), makeSystemLanguageRecognizer());
    EXPECT_EQ(translate(client, {"Hello Anna, I have a red car.", "Hello Anna,  I have a red car."},
                        AppLanguage::english, AppLanguage::spanish),
              QStringList({"Hola Anna, tengo un coche rojo.", "Hola Anna,  tengo un coche rojo."}));
}

TEST(SystemTranslationOnDevice, RussianToUkrainian) {
    SystemTranslationClient client(makeSystemTranslationEngine(), makeSystemLanguageRecognizer());
    const auto out =
        translate(client, {QString::fromUtf8("Мы живём в большом доме."), QString::fromUtf8("Сегодня хорошая погода.")},
                  AppLanguage::russian, AppLanguage::ukrainian);
    EXPECT_EQ(out, QStringList(
                       {QString::fromUtf8("Ми живемо у великім домі."), QString::fromUtf8("Сьогодні хороша погода.")}));
}

// Apertium capitalises the first word of whatever it is given: a word or phrase selected inside a
// sentence keeps its lower-case start, a sentence its capital.
TEST(SystemTranslationOnDevice, ALowerCaseSelectionComesBackInLowerCase) {
    SystemTranslationClient client(makeSystemTranslationEngine(), makeSystemLanguageRecognizer());
    EXPECT_EQ(
        translate(client, {"is", "very", "the weather is nice", "Very"}, AppLanguage::english, AppLanguage::spanish),
        QStringList({"es", "muy", "el tiempo es bueno", "Muy"}));
}

TEST(SystemTranslationOnDevice, AutomaticSourceIsRecognisedAsEnglish) {
    SystemTranslationClient client(makeSystemTranslationEngine(), makeSystemLanguageRecognizer());
    const auto out = translate(client, {"", "The weather is nice today and the dog sleeps.", "The cat."},
                               AppLanguage::automatic, AppLanguage::spanish);
    ASSERT_EQ(out.size(), 3);
    EXPECT_EQ(out[0], "");
    EXPECT_TRUE(out[1].contains("perro")) << out[1].toStdString();
    EXPECT_TRUE(out[2].contains("gato")) << out[2].toStdString();
}

TEST(SystemTranslationOnDevice, AvailabilityOnThisMachine) {
    SystemTranslationClient client(makeSystemTranslationEngine(), makeSystemLanguageRecognizer());
    auto availability = [&](AppLanguage from, AppLanguage to) { return test::await(client.availability(from, to)); };
    EXPECT_EQ(availability(AppLanguage::english, AppLanguage::spanish), Availability::installed);
    EXPECT_EQ(availability(AppLanguage::spanish, AppLanguage::english), Availability::installed);
    EXPECT_EQ(availability(AppLanguage::russian, AppLanguage::ukrainian), Availability::installed);
    EXPECT_EQ(availability(AppLanguage::english, AppLanguage::german), Availability::unsupported);
    EXPECT_EQ(availability(AppLanguage::japanese, AppLanguage::english), Availability::unsupported);
    EXPECT_EQ(availability(AppLanguage::automatic, AppLanguage::spanish), Availability::unsupported);
    if (QFile::exists("/usr/share/apertium/modes/spa-ita.mode") ||
        QFile::exists("/usr/share/apertium/modes/es-it.mode")) {
        GTEST_SKIP() << "Spanish-Italian is installed here";
    }
    EXPECT_EQ(availability(AppLanguage::spanish, AppLanguage::italian), Availability::supported);
}

TEST(SystemTranslationOnDevice, MissingEngineAnswersUnsupportedAndFailsClearly) {
    SystemTranslationClient client(std::make_shared<ApertiumTranslationEngine>(
                                       ApertiumConfiguration{.executable = "/nonexistent/tavrolin/apertium"}),
                                   std::make_shared<Cld2LanguageRecognizer>());
    EXPECT_EQ(test::await(client.availability(AppLanguage::english, AppLanguage::spanish)), Availability::unsupported);
    try {
        translate(client, {"Hello"}, AppLanguage::english, AppLanguage::spanish);
        FAIL() << "no error";
    } catch (const CaptureWorkflowError& error) {
        EXPECT_EQ(error.errorCase(), CaptureWorkflowError::Case::translationRequiresMacOS26);
    }
}

TEST(SystemTranslationOnDevice, RequestBatchThroughTheDevice) {
    SystemTranslationClient client(makeSystemTranslationEngine(), makeSystemLanguageRecognizer());
    const auto responses =
        test::await(client.translate(QList<TranslationRequest>{{"a", "The house.", AppLanguage::english},
                                                               {"b", "", AppLanguage::english},
                                                               {"c", "The dog.", AppLanguage::english}},
                                     AppLanguage::spanish));
    EXPECT_EQ(responses, (QList<TranslationResponse>{{"a", "La casa."}, {"b", ""}, {"c", "El perro."}}));

    // Russian to Spanish has no installed direction: the batch fails as a whole although the
    // English group was translated first.
    try {
        test::await(client.translate(QList<TranslationRequest>{{"a", "The house.", AppLanguage::english},
                                                               {"b", QString::fromUtf8("Дом."), AppLanguage::russian}},
                                     AppLanguage::spanish));
        FAIL() << "no error";
    } catch (const OnDeviceTranslationError& error) {
        EXPECT_EQ(error.kind(), OnDeviceTranslationError::Kind::pairNotInstalled);
    }
}

}  // namespace
}  // namespace tavrolin
