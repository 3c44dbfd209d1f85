#include "app/DesktopShell.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace quellar {
namespace {

// How long xdg-open is given to fail. It hands the file on and ends within a fraction of a
// second; one still running after this has started a program that keeps it waiting.
constexpr int kOpenerVerdictMs = 3000;

} // namespace

QString registeredProgram(const QString& path) {
    const QString query = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (query.isEmpty()) return {};
    QProcess process;
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(query, {QStringLiteral("query"), QStringLiteral("default"),
                          QMimeDatabase().mimeTypeForFile(path).name()});
    if (!process.waitForFinished(kOpenerVerdictMs) || process.exitCode() != 0) {
        process.kill();
        process.waitForFinished(kOpenerVerdictMs);
        return {};
    }
    const QString entry = QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
    const QString desktopFile =
        entry.isEmpty() ? QString() : QStandardPaths::locate(QStandardPaths::ApplicationsLocation, entry);
    QFile file(desktopFile);
    if (desktopFile.isEmpty() || !file.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
    // The [Desktop Entry] group's Name and the program its Exec line runs.
    QString name, command;
    bool inEntry = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(u'[')) inEntry = line == QLatin1String("[Desktop Entry]");
        if (!inEntry) continue;
        if (line.startsWith(QLatin1String("Name="))) name = line.mid(5).trimmed();
        if (line.startsWith(QLatin1String("Exec="))) command = line.mid(5).trimmed();
    }
    QStringList words = QProcess::splitCommand(command);
    // "env NAME=value program ...": the program is the first word that sets nothing.
    if (!words.isEmpty() && words.front() == QLatin1String("env")) words.removeFirst();
    while (!words.isEmpty() && words.front().contains(u'='))
        words.removeFirst();
    if (words.isEmpty()) return {};
    const QString program = words.front();
    const bool installed = QDir::isAbsolutePath(program) ? QFileInfo(program).isExecutable()
                                                         : !QStandardPaths::findExecutable(program).isEmpty();
    if (!installed) return {};
    return name.isEmpty() ? QFileInfo(program).fileName() : name;
}

DesktopOpening openDocument(const QString& path) {
    using Outcome = DesktopOpening::Outcome;
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    // Qt's own "open" only says whether it could start xdg-open, not whether a program took
    // the file; running xdg-open here hears its verdict.
    if (opener.isEmpty())
        return {QDesktopServices::openUrl(QUrl::fromLocalFile(path)) ? Outcome::Opened : Outcome::NoProgram,
                {}};
    auto* process = new QProcess(QCoreApplication::instance());
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->setStandardOutputFile(QProcess::nullDevice());
    QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
    process->start(opener, {path});
    if (!process->waitForStarted(kOpenerVerdictMs)) {
        process->deleteLater();
        return {Outcome::FailedToStart, QStringLiteral("xdg-open")};
    }
    if (!process->waitForFinished(kOpenerVerdictMs)) return {}; // a program has it
    if (process->exitStatus() == QProcess::NormalExit && process->exitCode() == 0) return {};
    // xdg-open says 3 when it found nothing to open the file with, but also when the program
    // it tried ended at once; 4 when the program it handed the file to failed. A program the
    // desktop has for the file, installed, that did not take it failed to start.
    const QString program = registeredProgram(path);
    if (!program.isEmpty()) return {Outcome::FailedToStart, program};
    if (process->exitStatus() == QProcess::NormalExit && process->exitCode() == 4)
        return {Outcome::FailedToStart, QStringLiteral("xdg-open")};
    return {Outcome::NoProgram, {}};
}

DesktopOpening ShowWorkbook(const QString& path) {
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

QString failedToStartMessage(const QString& path, const QString& program) {
    return QStringLiteral("无法打开“%1”：打开它的程序“%2”没有启动起来。\n\n请检查这个程序能否单独启动"
                          "（必要时重新安装它），或者自己用别的程序打开这个文件：\n%3")
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
