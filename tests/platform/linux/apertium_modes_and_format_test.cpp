#include "platform/linux/apertium_translation_engine.h"
#include "support/async.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

QString utf8(const char* text) {
    return QString::fromUtf8(text);
}

TEST(ApertiumBatchFormat, EveryTextSurvivesTheRoundTrip) {
    QString controls;
    for (char16_t c = 0; c < 0x20; ++c) {
        controls += QChar(c);
    }
    controls += QChar(0x7f);
    const QStringList texts{
        "",
        "plain",
        "a < b && c > d",
        "]]> <![CDATA[ x ]]>",
        "<p>forged</p></p><p>",
        "&amp; &lt; &#0; &#x41; &nbsp; & ; &",
        controls,
        utf8("שלום עולם, مرحبا بالعالم"),
        utf8("emoji 😀 and a lone ") + QChar(0x00e9),
        "line one\nline two\r\n\ttabbed",
        QString(100000, u'x'),
    };
    const auto decoded = ApertiumTranslationEngine::decodeBatch(ApertiumTranslationEngine::encodeBatch(texts));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded, texts);
}

TEST(ApertiumBatchFormat, EncodedTextsCannotForgeBoundaries) {
    const QByteArray encoded = ApertiumTranslationEngine::encodeBatch({"<p>x</p>", "y"});
    EXPECT_EQ(encoded, "<p>&lt;p&gt;x&lt;/p&gt;</p><p>y</p>");
    EXPECT_EQ(ApertiumTranslationEngine::encodeBatch({QString(QChar(0)) + "a" + QChar(1)}), "<p>&#0;a&#1;</p>");
}

struct DecodeCase {
    const char* output;
    std::optional<QStringList> expected;
};

class ApertiumDecode : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(ApertiumDecode, Segments) {
    EXPECT_EQ(ApertiumTranslationEngine::decodeBatch(QByteArray(GetParam().output)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Outputs, ApertiumDecode,
                         ::testing::Values(DecodeCase{"", QStringList{}},
                                           DecodeCase{"<p> Hola</p>\n<p>mundo</p>\n", QStringList{" Hola", "mundo"}},
                                           DecodeCase{"<p>a &#x1F600; &#128512; b</p>", QStringList{utf8("a 😀 😀 b")}},
                                           // Entities that are not ours stay as they are; broken ones too.
                                           DecodeCase{"<p>&nbsp; &#xD800; &#99999999; &bogus &#;</p>",
                                                      QStringList{"&nbsp; &#xD800; &#99999999; &bogus &#;"}},
                                           DecodeCase{"<p>unterminated", std::nullopt},
                                           DecodeCase{"<p>a<p>b</p>", std::nullopt}));

class ApertiumModes : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        QDir(dir.path()).mkpath("data/modes");
        for (const char* mode :
             {"eng-spa", "spa-eng_US", "spa-eng", "es-pt", "pt-es_BR", "rus-ukr", "eng-cat-debug", "deu-eng_x"}) {
            QFile file(dir.path() + "/data/modes/" + mode + ".mode");
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        }
        executable = dir.path() + "/apertium";
        QFile script(executable);
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\nexit 0\n");
        script.close();
        script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    ApertiumTranslationEngine engine(const QString& binary) {
        return ApertiumTranslationEngine({binary, dir.path() + "/data", std::chrono::seconds(5)});
    }

    QTemporaryDir dir;
    QString executable;
};

TEST_F(ApertiumModes, PairsFindTheirModeByTwoOrThreeLetterNames) {
    auto apertium = engine(executable);
    EXPECT_EQ(apertium.installedMode("en", "es"), QString("eng-spa"));
    EXPECT_EQ(apertium.installedMode("en-US", "es_MX"), QString("eng-spa"));
    EXPECT_EQ(apertium.installedMode("spa", "eng"), QString("spa-eng"));  // not the variant
    EXPECT_EQ(apertium.installedMode("es", "pt"), QString("es-pt"));
    EXPECT_EQ(apertium.installedMode("pt", "es"), QString("pt-es_BR"));  // only a variant
    EXPECT_EQ(apertium.installedMode("de", "en"), QString("deu-eng_x"));
    EXPECT_EQ(apertium.installedMode("ru", "uk"), QString("rus-ukr"));
    EXPECT_EQ(apertium.installedMode("uk", "ru"), std::nullopt);
    EXPECT_EQ(apertium.installedMode("en", "ca"), std::nullopt);  // a debug mode is no direction
    EXPECT_EQ(apertium.installedMode("en", "en"), std::nullopt);
    EXPECT_EQ(apertium.installedMode("", ""), std::nullopt);
}

TEST_F(ApertiumModes, StatusFollowsModesPackagesAndTheEngine) {
    auto apertium = engine(executable);
    auto status = [&](const char* from, const char* to) { return test::await(apertium.status(from, to)); };
    EXPECT_EQ(status("en", "es"), OnDeviceTranslationStatus::installed);
    EXPECT_EQ(status("uk", "ru"), OnDeviceTranslationStatus::supported);
    EXPECT_EQ(status("es", "it"), OnDeviceTranslationStatus::supported);
    EXPECT_EQ(status("fr", "es"), OnDeviceTranslationStatus::supported);
    EXPECT_EQ(status("en", "fr"), OnDeviceTranslationStatus::unsupported);
    EXPECT_EQ(status("ja", "en"), OnDeviceTranslationStatus::unsupported);

    auto missing = engine(dir.path() + "/no-such-apertium");
    EXPECT_FALSE(missing.isEngineInstalled());
    EXPECT_EQ(test::await(missing.status("en", "es")), OnDeviceTranslationStatus::unsupported);
    EXPECT_EQ(test::await(missing.status("uk", "ru")), OnDeviceTranslationStatus::unsupported);
}

TEST_F(ApertiumModes, TranslateRefusesPairsWithoutAMode) {
    auto apertium = engine(executable);
    try {
        test::await(apertium.translate("en", "de", {{"Hello", "0"}}));
        FAIL() << "no error";
    } catch (const OnDeviceTranslationError& error) {
        EXPECT_EQ(error.kind(), OnDeviceTranslationError::Kind::pairNotInstalled);
    }
    // Nothing to translate: no process, no error.
    EXPECT_TRUE(test::await(apertium.translate("en", "de", {})).empty());
}

TEST(ApertiumPackages, PackagedPairsOfTheProgramsLanguages) {
    EXPECT_EQ(ApertiumTranslationEngine::packageForPair("en", "es"), QString("apertium-eng-spa"));
    EXPECT_EQ(ApertiumTranslationEngine::packageForPair("spa", "eng"), QString("apertium-eng-spa"));
    EXPECT_EQ(ApertiumTranslationEngine::packageForPair("uk", "ru"), QString("apertium-rus-ukr"));
    EXPECT_EQ(ApertiumTranslationEngine::packageForPair("pt-BR", "es"), QString("apertium-es-pt"));
    EXPECT_EQ(ApertiumTranslationEngine::packageForPair("en", "de"), std::nullopt);
    EXPECT_EQ(ApertiumTranslationEngine::packageForPair("es", "es"), std::nullopt);
}

}  // namespace
}  // namespace tavrolin
