// Qt's own texts (print dialog, edit menus) in the user's language.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLocale>
#include <QTemporaryDir>
#include <QTranslator>

#include "app/Application.h"

namespace {

QString Tr(const char* context, const char* text) { return QCoreApplication::translate(context, text); }

TEST(QtTranslations, JapaneseLocaleGetsJapaneseDialogsAndOthersKeepEnglish) {
    struct Case {
        const char* context;
        const char* english;
        const char* japanese;
    };
    // The edit fields' context menu and the print dialog's title and button.
    const Case texts[] = {
        {"QLineEdit", "&Undo", "元に戻す(&U)"},
        {"QLineEdit", "Select All", "すべてを選択"},
        {"QPrintDialog", "Print", "印刷"},
    };
    QTranslator* ja = InstallQtTranslations(QLocale(QLocale::Japanese, QLocale::Japan), QtTranslationsFolder());
    ASSERT_NE(ja, nullptr) << QtTranslationsFolder().toStdString() << " lacks qt_ja.qm (qt6-translations-l10n)";
    for (const Case& t : texts) EXPECT_EQ(Tr(t.context, t.english), QString::fromUtf8(t.japanese)) << t.english;
    QCoreApplication::removeTranslator(ja);
    delete ja;

    // No catalogue in the folder, or none for the language: nothing changes.
    QTemporaryDir empty;
    ASSERT_TRUE(empty.isValid());
    EXPECT_EQ(InstallQtTranslations(QLocale(QLocale::Japanese, QLocale::Japan), empty.path()), nullptr);
    EXPECT_EQ(InstallQtTranslations(QLocale(QLocale::Swahili, QLocale::Kenya), QtTranslationsFolder()), nullptr);
    for (const Case& t : texts) EXPECT_EQ(Tr(t.context, t.english), QString::fromUtf8(t.english)) << t.english;
}

}  // namespace
