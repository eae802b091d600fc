// The toolkit's text and image notations, and the language files the programs ship with.
#include "HtmlText.h"
#include "LanguageStore.h"
#include "SkinImage.h"
#include "TestWindow.h"

#include <QDir>
#include <QImage>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>
#include <set>

using namespace DuiLib;

TEST(HtmlText, ConvertsTheSubsetAndEscapesEverythingElse) {
    EXPECT_EQ(htmlToRichText("<b>bold</b><i>it</i>"), "<b>bold</b><i>it</i>");
    EXPECT_EQ(htmlToRichText("<c #12abEF>x</c>"), "<span style=\"color:#12abEF\">x</span>");
    EXPECT_EQ(htmlToRichText("<c red>x</c>"), "<span>x</span>") << "only #rrggbb colours";
    EXPECT_EQ(htmlToRichText("a<n>b"), "a<br/>b");
    EXPECT_EQ(htmlToRichText("<a \"><script>\">x</a>"),
              "<a href=\"&quot;\">&lt;script&gt;&quot;&gt;x</a>");
    EXPECT_EQ(htmlToRichText("1 < 2 & 3 > 2"), "1 &lt; 2 &amp; 3 &gt; 2");
    EXPECT_EQ(htmlToRichText("<img src=x onerror=y>"), "&lt;img src=x onerror=y&gt;");
    EXPECT_EQ(htmlToRichText("&lt;kept&gt;"), "&lt;kept&gt;");
    EXPECT_EQ(htmlToPlainText("<f 1><c #ffffff>Cam &amp; Co</c></f><n>2"), "Cam & Co\n2");
    // An unterminated tag is text, and a huge spacing is bounded.
    EXPECT_EQ(htmlToPlainText("<b"), "<b");
    EXPECT_LE(htmlToRichText("<x 100000>").size(), 200u);
}

TEST(SkinImage, ParsesSpriteCellsAndRefusesMalformedRectangles) {
    const auto parsed = parseSkinImage("file='default.png' dest='0,0,32,32' source='129,0,172,41'");
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->file, "default.png");
    EXPECT_EQ(parsed->dest->width(), 32);
    EXPECT_EQ(parsed->source->left, 129);
    EXPECT_EQ(parsed->source->height(), 41);
    EXPECT_EQ(parseSkinImage("plain.png")->file, "plain.png");
    EXPECT_FALSE(parseSkinImage("").has_value());
    EXPECT_FALSE(parseSkinImage("file='a.png' dest='0,0,32'").has_value());
    EXPECT_FALSE(parseSkinImage("file='a.png' source='10,10,5,5'").has_value());
    EXPECT_FALSE(parseSkinImage("file='a.png' dest='0,0,99999,10'").has_value());
    EXPECT_FALSE(parseSkinImage("file='' dest='0,0,1,1'").has_value());
}

TEST(SkinImage, ButtonsShowTheSourceCellAtTheDestSize) {
    QTemporaryDir folder;
    QImage sheet(100, 40, QImage::Format_RGB32);
    sheet.fill(Qt::red);
    for (int y = 0; y < 40; ++y) {
        for (int x = 50; x < 100; ++x) {
            sheet.setPixel(x, y, qRgb(0, 0, 255));
        }
    }
    ASSERT_TRUE(sheet.save(folder.filePath("sheet.png")));
    const auto parsed = parseSkinImage("file='sheet.png' dest='0,0,20,16' source='50,0,100,40'");
    const QPixmap cell = loadImage(*parsed, folder.path().toStdString());
    ASSERT_FALSE(cell.isNull());
    EXPECT_EQ(cell.size(), QSize(20, 16));
    EXPECT_EQ(cell.toImage().pixel(10, 8), qRgb(0, 0, 255));
    EXPECT_TRUE(loadImage(*parseSkinImage("missing.png"), folder.path().toStdString()).isNull());
}

namespace {

std::set<std::string> keysIn(const std::string& file) {
    std::set<std::string> keys;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) {
            keys.insert(line);
        }
    }
    return keys;
}

} // namespace

// Every key the programs look up has a real text in every shipped language.
TEST(ShippedLanguages, EveryKeyHasATextInEveryLanguage) {
    const std::string folder = std::string(VISTARO_LANGUAGE_DIR);
    const std::set<std::string> keys = keysIn(folder + "/keys.txt");
    ASSERT_GT(keys.size(), 100u);
    for (const char* language : {"EN.xml", "RU.xml"}) {
        SCOPED_TRACE(language);
        LanguageStore store;
        ASSERT_TRUE(store.load(folder + "/" + language, 0));
        for (const std::string& key : keys) {
            std::string text;
            std::string caption;
            EXPECT_TRUE(store.find(key, text, caption)) << key;
            EXPECT_FALSE(text.empty()) << key;
        }
    }
}
