#include "app/CQuellarApp.h"

#include "app/CQuellarDlg.h"
#include "app/StartOptions.h"
#include "app/ToolIcons.h"
#include "forms/CHtmlView2.h"

#include "QuellarVersion.h"

#include <QDir>
#include <QFont>
#include <QFontDatabase>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QStyleFactory>
#include <QTranslator>

#include <cstdio>

namespace quellar {

CQuellarApp::Prepared::Prepared() {
    CHtmlView2::prepareProcess();
}

CQuellarApp::CQuellarApp(int& argc, char** argv)
    : app_(argc, argv) {
    QApplication::setApplicationName(QStringLiteral("Quellar"));
    // Settings (recent files, the window's place, the dialogs' last choices) go to
    // ~/.config/quellar/Quellar.conf.
    QApplication::setOrganizationName(QStringLiteral("quellar"));
    QApplication::setApplicationVersion(QStringLiteral(QUELLAR_VERSION));
    QApplication::setWindowIcon(toolIcon(IconKind::Application));
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) QApplication::setStyle(fusion);
    installFonts();
    installTranslations();
}

bool CQuellarApp::installTranslations() {
    // Qt's own texts (the buttons of message boxes, the file dialog, the standard context
    // menus of text boxes) in Chinese like the rest of the window. The catalogue comes
    // with Qt's translations package; without it those texts stay in English.
    auto* translator = new QTranslator(QCoreApplication::instance());
    const QStringList folders = {QLibraryInfo::path(QLibraryInfo::TranslationsPath),
                                 QStringLiteral("/usr/share/qt6/translations")};
    for (const QString& folder : folders)
        if (translator->load(QStringLiteral("qtbase_zh_CN"), folder)) {
            QCoreApplication::installTranslator(translator);
            return true;
        }
    delete translator;
    return false;
}

void CQuellarApp::installFonts() {
    const QStringList families = QFontDatabase::families();
    auto firstInstalled = [&](const QStringList& wanted) {
        for (const QString& family : wanted)
            if (families.contains(family)) return family;
        return QString();
    };
    const QString serif =
        firstInstalled({QStringLiteral("Noto Serif CJK SC"), QStringLiteral("AR PL UMing CN"),
                        QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Zen Hei")});
    const QString sans =
        firstInstalled({QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Zen Hei"),
                        QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Droid Sans Fallback")});
    if (!serif.isEmpty()) {
        for (const char16_t* name : {u"宋体", u"新宋体", u"SimSun", u"NSimSun", u"仿宋", u"FangSong", u"楷体",
                                     u"KaiTi", u"仿宋_GB2312", u"楷体_GB2312"})
            if (!families.contains(QString::fromUtf16(name)))
                QFont::insertSubstitution(QString::fromUtf16(name), serif);
    }
    if (!sans.isEmpty()) {
        for (const char16_t* name :
             {u"黑体", u"SimHei", u"微软雅黑", u"Microsoft YaHei", u"等线", u"DengXian"})
            if (!families.contains(QString::fromUtf16(name)))
                QFont::insertSubstitution(QString::fromUtf16(name), sans);
        QFont ui(sans);
        ui.setPointSizeF(9.5);
        QApplication::setFont(ui);
    }
    // Excel's default fonts have metric-compatible stand-ins (same advance of every glyph),
    // so that a column holds as much text as it does in Excel. Other Latin fonts fall back
    // to a sans font of similar width.
    const QString carlito = firstInstalled({QStringLiteral("Carlito")});
    const QString caladea = firstInstalled({QStringLiteral("Caladea")});
    const QString latin = firstInstalled(
        {QStringLiteral("Liberation Sans"), QStringLiteral("Carlito"), QStringLiteral("DejaVu Sans")});
    auto substitute = [&](const char* name, const QString& standIn) {
        if (!standIn.isEmpty() && !families.contains(QLatin1String(name)))
            QFont::insertSubstitution(QLatin1String(name), standIn);
    };
    substitute("Calibri", carlito.isEmpty() ? latin : carlito);
    substitute("Calibri Light", carlito.isEmpty() ? latin : carlito);
    substitute("Cambria", caladea);
    for (const char* name : {"Arial", "Tahoma", "Verdana"})
        substitute(name, latin);
}

int CQuellarApp::run() {
    // Qt has taken its own options (-platform, -style ...) out of the arguments by now.
    const StartOptions options = parseStartOptions(QApplication::arguments().mid(1), QDir::currentPath(),
                                                   qEnvironmentVariable("XDG_DATA_HOME"));
    Status status = options.action == StartOptions::Action::Fail
                        ? Status::invalidInput(options.message + QStringLiteral("\n\n") + startUsageText())
                        : Status::ok();
    if (status.isOk() && !options.workFolder.isEmpty()) status = enterWorkFolder(options.workFolder);
    if (!status.isOk()) {
        std::fprintf(stderr, "quellar：%s\n", status.message().toUtf8().constData());
        QMessageBox::critical(nullptr, QStringLiteral("Quellar"), status.message());
        return 2;
    }
    CQuellarDlg window;
    window.show();
    // Workbooks named on the command line open as file 1 and file 2.
    for (int which = 1; which <= std::min<int>(2, int(options.files.size())); ++which)
        window.openWorkbook(which, options.files[which - 1]);
    return QApplication::exec();
}

} // namespace quellar
