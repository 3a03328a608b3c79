#pragma once
// The entry routine: the application object, the windows, the event loop.
int RunTessaly(int argc, char** argv);

class QLocale;
class QString;
class QTranslator;
// Qt's own translations (dialogs, edit menus) for `locale` from `folder`, installed in the
// application; nullptr when there are none for it.
QTranslator* InstallQtTranslations(const QLocale& locale, const QString& folder);
// Where the system keeps Qt's translations (Debian: qt6-translations-l10n).
QString QtTranslationsFolder();
