#include "platform/linux/apertium_stream_format.h"

#include "platform/linux/apertium_pipeline.h"

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

TEST(ApertiumStreamFormat, EveryTextSurvivesTheRoundTrip) {
    QString controls;
    for (char16_t c = 0; c < 0x20; ++c) {
        controls += QChar(c);
    }
    controls += QChar(0x7f);
    QString longText;
    while (longText.size() < 100000) {
        longText += QString::fromUtf8("The [cat] sleeps $5 ^on^ the \\ sofa/chair <b>{x}</b> @home *now*.\n");
    }
    longText.truncate(100000);
    const QStringList texts{
        "",
        "plain words",
        "[ ] ^ $ @ / < > { } \\ *",
        "\\[ already \\] escaped \\\\",
        "[][\n] a forged block end",
        "[&#0;] a forged reference",
        controls,
        QString::fromUtf8("שלום עולם, مرحبا بالعالم"),
        QString::fromUtf8("emoji 😀👍🏽 and é"),
        "line one\nline two\r\n\ttabbed\n\n",
        longText,
    };
    for (const QString& text : texts) {
        EXPECT_EQ(unescapeApertiumStream(escapeApertiumStream(text)), text) << text.left(60).toStdString();
    }
}

TEST(ApertiumStreamFormat, NothingRawReachesTheStream) {
    QString text = QStringLiteral("a");
    text += QChar(0);
    text += QStringLiteral("b");
    text += QChar(7);
    text += QStringLiteral("[c]\nd*");
    const QByteArray stream = escapeApertiumStream(text);
    EXPECT_EQ(stream, QByteArray("a[&#0;]b[&#7;]\\[c\\][\n]d\\*"));
    EXPECT_FALSE(stream.contains('\0'));
    for (const char c : stream) {
        const auto byte = static_cast<unsigned char>(c);
        EXPECT_TRUE(byte >= 0x20 || byte == '\n') << int(byte);
    }
    // Every special character is escaped, and nothing else is.
    EXPECT_EQ(escapeApertiumStream(u"[]^$@/<>{}\\*"), QByteArray("\\[\\]\\^\\$\\@\\/\\<\\>\\{\\}\\\\\\*"));
    EXPECT_EQ(escapeApertiumStream(u"&#0; +~#"), QByteArray("&#0; +~#"));
    EXPECT_EQ(escapeApertiumStream(u""), QByteArray());
}

TEST(ApertiumStreamFormat, AnswersAsApertiumWritesThem) {
    // A raw '*' or '^' left by the stages is text; blanks of the stream are what they hold.
    EXPECT_EQ(unescapeApertiumStream("2*3 un\\\\b \\^x\\$"), "2*3 un\\b ^x$");
    EXPECT_EQ(unescapeApertiumStream("Hola.[\n][\n]Adi\xc3\xb3s.[]"), QString::fromUtf8("Hola.\n\nAdiós."));
    EXPECT_EQ(unescapeApertiumStream("a[&#7;]b[&#55296;]c[&#99999999;]"),
              QString("a") + QChar(7) + "b&#55296;c&#99999999;");
    // Text outside a superblank is never read as a reference.
    EXPECT_EQ(unescapeApertiumStream("&#0;"), "&#0;");
    // A superblank without its end keeps what it holds.
    EXPECT_EQ(unescapeApertiumStream("end[\n"), "end\n");
    EXPECT_EQ(unescapeApertiumStream("x\\"), "x\\");
}

TEST(ApertiumModeStages, EveryStageFlushesAtNulAndUnknownWordsStayUnmarked) {
    const auto stages = nullFlushStages(
        "lt-proc -w '/data/a b.automorf.bin' | cg-proc -w '/data/x.rlx.bin' |"
        " apertium-tagger -g $2 '/data/x.prob' | apertium-pretransfer |"
        " apertium-transfer -b \"/data/t1x\" /data/t1x.bin | lrx-proc -z -m /data/lex.bin |"
        " apertium-interchunk /data/t2x /data/t2x.bin | apertium-postchunk /data/t3x /data/t3x.bin |"
        " lt-proc $1 /data/gen.bin | /usr/bin/lt-proc -p /data/pgen.bin\n");
    ASSERT_TRUE(stages);
    ASSERT_EQ(stages->size(), 10u);
    EXPECT_EQ(stages->at(0), (ApertiumStage{"lt-proc", {"-z", "-w", "/data/a b.automorf.bin"}}));
    EXPECT_EQ(stages->at(2), (ApertiumStage{"apertium-tagger", {"-z", "-g", "/data/x.prob"}}));
    EXPECT_EQ(stages->at(3), (ApertiumStage{"apertium-pretransfer", {"-z"}}));
    EXPECT_EQ(stages->at(4).arguments, QStringList({"-z", "-b", "/data/t1x", "/data/t1x.bin"}));
    EXPECT_EQ(stages->at(5).arguments, QStringList({"-z", "-m", "/data/lex.bin"}));
    EXPECT_EQ(stages->at(8), (ApertiumStage{"lt-proc", {"-z", "-n", "/data/gen.bin"}}));
    EXPECT_EQ(stages->at(9).program, "/usr/bin/lt-proc");
}

TEST(ApertiumModeStages, AnythingButAPlainPipelineIsLeftToTheApertiumCommand) {
    for (const char* text : {
             "",
             "   \n",
             "lt-proc a.bin |",
             "| lt-proc a.bin",
             "lt-proc a.bin || apertium-pretransfer",
             "lt-proc a.bin | apertium-destxt",  // takes no -z
             "lt-proc a.bin | sh -c 'rm -rf /'",
             "lt-proc a.bin; apertium-pretransfer",
             "lt-proc a.bin > /tmp/out",
             "lt-proc $(cat x) a.bin",
             "lt-proc `x` a.bin",
             "lt-proc $HOME/a.bin",
             "lt-proc \"$HOME/a.bin\"",
             "lt-proc $12 a.bin",
             "lt-proc 'unterminated",
             "lt-proc a.bin & apertium-pretransfer",
         }) {
        EXPECT_EQ(nullFlushStages(QString::fromUtf8(text)), std::nullopt) << text;
    }
}

}  // namespace
}  // namespace tavrolin
