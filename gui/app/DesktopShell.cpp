#include "app/DesktopShell.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace quellar {

bool openDocument(const QString& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

bool ShowWorkbook(const QString& path) {
    return openDocument(path);
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
