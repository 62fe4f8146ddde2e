#include "Translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <string>
#include <vector>

namespace translation {

namespace {

// Where the build puts the compiled translations among the resources.
constexpr char kResources[] = ":/i18n";

bool Load(QCoreApplication& app, const QString& file, const QString& folder) {
    auto* translator = new QTranslator(&app);
    if (translator->load(file, folder)) return QCoreApplication::installTranslator(translator);
    delete translator;
    return false;
}

}  // namespace

language::Language UserLanguage() {
    std::vector<std::string> wanted;
    for (const QString& tag : QLocale::system().uiLanguages()) wanted.push_back(tag.toStdString());
    return language::Preferred(wanted);
}

void Install(QCoreApplication& app, language::Language wanted) {
    if (wanted == language::Language::English) {
        Load(app, QStringLiteral("zantor_cfg_en"), QString::fromLatin1(kResources));
        return;
    }
    if (!Load(app, QStringLiteral("qtbase_pl"),
              QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        Load(app, QStringLiteral("qt_pl"), QString::fromLatin1(kResources));
    }
}

}  // namespace translation
