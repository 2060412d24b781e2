#include "core/text_language_detector.h"
#include "platform/desktop_backend.h"

#include <gtest/gtest.h>
#include <set>

using namespace tavrolin;

namespace {

std::optional<AppLanguage> detect(const QString& text, const std::set<AppLanguage>& boosted) {
    static const std::unique_ptr<LanguageRecognizer> recognizer = makeSystemLanguageRecognizer();
    return TextLanguageDetector::detectAppLanguage(text, boosted, *recognizer);
}

}  // namespace

// The desktop's recognizer on real sentences, without boosting.
TEST(TextLanguageDetectorEngine, RecognisesSentencesInManyLanguages) {
    struct Case {
        const char* text;
        AppLanguage expected;
    };
    const Case cases[] = {
        {"The weather is lovely today, so we are going for a long walk in the park.", AppLanguage::english},
        {"Das Wetter ist heute wunderschön, deshalb machen wir einen langen Spaziergang im Park.", AppLanguage::german},
        {"Il fait très beau aujourd'hui, alors nous allons faire une longue promenade dans le parc.",
         AppLanguage::french},
        {"Hoy hace un tiempo precioso, así que vamos a dar un largo paseo por el parque.", AppLanguage::spanish},
        {"Oggi il tempo è bellissimo, quindi andiamo a fare una lunga passeggiata nel parco.", AppLanguage::italian},
        {"Hoje o tempo está lindo, por isso vamos dar um longo passeio no parque.", AppLanguage::portuguese},
        {"Dzisiaj jest piękna pogoda, więc idziemy na długi spacer po parku.", AppLanguage::polish},
        {"Bugün hava çok güzel, bu yüzden parkta uzun bir yürüyüşe çıkıyoruz.", AppLanguage::turkish},
        {"Het weer is vandaag prachtig, dus we gaan een lange wandeling maken in het park.", AppLanguage::dutch},
        {"Cuaca hari ini sangat indah, jadi kami akan berjalan-jalan lama di taman.", AppLanguage::indonesian},
        {"Hôm nay trời rất đẹp, vì vậy chúng tôi sẽ đi dạo một vòng dài trong công viên.", AppLanguage::vietnamese},
        {"מזג האוויר היום נפלא, אז אנחנו הולכים לטיול ארוך בפארק.", AppLanguage::hebrew},
        {"Сегодня прекрасная погода, поэтому мы идём на долгую прогулку в парк.", AppLanguage::russian},
        {"Сьогодні чудова погода, тому ми йдемо на довгу прогулянку в парк.", AppLanguage::ukrainian},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(detect(QString::fromUtf8(c.text), {}), c.expected) << c.text;
    }
}

TEST(TextLanguageDetectorEngine, HandlesWhatTheRecognizerCannotPlace) {
    // Digits and punctuation name no language; a Swedish sentence names none of the 20.
    EXPECT_EQ(detect("12345 - 678 !!!", {AppLanguage::english}), std::nullopt);
    EXPECT_EQ(detect("Vädret är underbart idag, så vi ska ta en lång promenad i parken med hunden.", {}), std::nullopt);
    // A short greeting still gets an answer.
    EXPECT_EQ(detect("Hello", {AppLanguage::english}), AppLanguage::english);
    EXPECT_EQ(detect("Hello", {}), AppLanguage::english);
}

// Short messages are where the user's own languages decide: a word that fits one of them is
// read in it, and a word that fits none keeps the recognizer's answer.
TEST(TextLanguageDetectorEngine, TheUsersLanguagesDecideShortTexts) {
    struct Case {
        const char* text;
        std::set<AppLanguage> boosted;
        AppLanguage expected;
    };
    const Case cases[] = {
        {"Dank je", {AppLanguage::dutch}, AppLanguage::dutch},
        {"Dank je", {AppLanguage::dutch, AppLanguage::english}, AppLanguage::dutch},
        {"Tak", {AppLanguage::polish}, AppLanguage::polish},
        {"Ciao", {AppLanguage::indonesian}, AppLanguage::indonesian},
        // Without the favoured language the recognizer's own answer stands.
        {"Dank je", {AppLanguage::english}, AppLanguage::german},
        {"Ciao", {AppLanguage::english}, AppLanguage::italian},
        // The recognizer's own answer comes first when it is one of the user's languages.
        {"Hello", {AppLanguage::dutch, AppLanguage::english}, AppLanguage::english},
        {"Thanks", {AppLanguage::dutch, AppLanguage::english}, AppLanguage::english},
        // Words that fit none of the user's languages are not pulled into one.
        {"Bonjour", {AppLanguage::english, AppLanguage::dutch}, AppLanguage::french},
        {"Merci beaucoup", {AppLanguage::english}, AppLanguage::french},
        // Longer texts are the recognizer's to decide.
        {"Guten Morgen, wie geht es dir heute?", {AppLanguage::english, AppLanguage::dutch}, AppLanguage::german},
        {"Good morning, how are you today?", {AppLanguage::german}, AppLanguage::english},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(detect(QString::fromUtf8(c.text), c.boosted), c.expected) << c.text;
    }
}
