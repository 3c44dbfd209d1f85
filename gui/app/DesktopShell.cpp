#include "app/DesktopShell.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace quellar {
namespace {

// How long xdg-open is given to fail. It hands the file on and ends within a fraction of a
// second; one still running after this has started a program that keeps it waiting.
constexpr int kOpenerVerdictMs = 3000;

} // namespace

bool openDocument(const QString& path) {
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    // Qt's own "open" only says whether it could start xdg-open, not whether a program took
    // the file; running xdg-open here hears its verdict (exit status 3 or 4: nothing to open
    // it with).
    if (opener.isEmpty()) return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    auto* process = new QProcess(QCoreApplication::instance());
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->setStandardOutputFile(QProcess::nullDevice());
    QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
    process->start(opener, {path});
    if (!process->waitForStarted(kOpenerVerdictMs)) {
        process->deleteLater();
        return false;
    }
    if (!process->waitForFinished(kOpenerVerdictMs)) return true; // a program has it
    return process->exitStatus() == QProcess::NormalExit && process->exitCode() == 0;
}

bool ShowWorkbook(const QString& path) {
    return openDocument(path);
}

QString cannotOpenMessage(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    QString program = QStringLiteral("能打开这种文件的程序");
    if (suffix == QLatin1String("htm") || suffix == QLatin1String("html"))
        program = QStringLiteral("网页浏览器（例如 Firefox 或 Chromium）");
    else if (suffix == QLatin1String("xls") || suffix == QLatin1String("xlsx") ||
             suffix == QLatin1String("xml"))
        program = QStringLiteral("表格程序（例如 LibreOffice Calc）");
    else if (suffix == QLatin1String("chm"))
        program = QStringLiteral("CHM 帮助阅读器（例如 xchm）");
    return QStringLiteral("无法打开“%1”：系统里没有可以打开它的程序。\n\n请安装%2，"
                          "或者自己用别的程序打开这个文件：\n%3")
        .arg(QFileInfo(path).fileName(), program,
             QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()));
}

QString shippedHelpPage() {
    // Beside the program (the build copies it there), in an installed share folder, or in
    // the source tree the program was built from.
    const QString appDir = QCoreApplication::applicationDirPath();
    QStringList candidates = {appDir + QStringLiteral("/help/index.html"),
                              appDir + QStringLiteral("/../share/quellar/help/index.html")};
#ifdef QUELLAR_SOURCE_HELP_DIR
    candidates << QStringLiteral(QUELLAR_SOURCE_HELP_DIR "/index.html");
#endif
    for (const QString& candidate : candidates)
        if (QFileInfo::exists(candidate)) return QFileInfo(candidate).canonicalFilePath();
    return QString();
}

} // namespace quellar
