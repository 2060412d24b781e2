#include "core/text_language_detector.h"

#include <gtest/gtest.h>

using namespace tavrolin;

// The desktop's recognizer on real sentences, without boosting.
TEST(TextLanguageDetectorEngine, RecognisesSentencesInManyLanguages) {
    struct Case {
        const char* text;
        AppLanguage expected;
    };
    const Case cases[] = {
        {"The weather is lovely today, so we are going for a long walk in the park.", AppLanguage::english},
        {"Das Wetter ist heute wunderschön, deshalb machen wir einen langen Spaziergang im Park.", AppLanguage::german},
        {"Il fait très beau aujourd'hui, alors nous allons faire une longue promenade dans le parc.", AppLanguage::french},
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
        EXPECT_EQ(TextLanguageDetector::detectAppLanguage(QString::fromUtf8(c.text), {}), c.expected) << c.text;
    }
}

TEST(TextLanguageDetectorEngine, HandlesWhatTheRecognizerCannotPlace) {
    // Digits and punctuation name no language; a Swedish sentence names none of the 20.
    EXPECT_EQ(TextLanguageDetector::detectAppLanguage("12345 - 678 !!!", {AppLanguage::english}), std::nullopt);
    EXPECT_EQ(TextLanguageDetector::detectAppLanguage(
                  "Vädret är underbart idag, så vi ska ta en lång promenad i parken med hunden.", {}),
              std::nullopt);
    // A short greeting still gets an answer, and the user's language is favoured where it can be.
    EXPECT_TRUE(TextLanguageDetector::detectAppLanguage("Hello", {AppLanguage::english}).has_value());
}
