#include "app/StartOptions.h"

#include "QuellarVersion.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace quellar {

QString userWorkFolder(const QString& dataHome) {
    const QString base =
        QDir::isAbsolutePath(dataHome) ? dataHome : QDir::homePath() + QStringLiteral("/.local/share");
    return QDir::cleanPath(base + QStringLiteral("/quellar"));
}

StartOptions parseStartOptions(const QStringList& arguments, const QString& currentFolder,
                               const QString& dataHome) {
    StartOptions options;
    const QDir current(currentFolder);
    auto fail = [&](const QString& message) {
        options.action = StartOptions::Action::Fail;
        options.message = message;
        return options;
    };
    bool onlyFiles = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (onlyFiles || !arg.startsWith(u'-') || arg == u"-") {
            options.files.append(QDir::cleanPath(current.absoluteFilePath(arg)));
        } else if (arg == u"--") {
            onlyFiles = true;
        } else if (arg == u"--version" || arg == u"-v") {
            options.action = StartOptions::Action::ShowVersion;
            return options;
        } else if (arg == u"--help" || arg == u"-h") {
            options.action = StartOptions::Action::ShowHelp;
            return options;
        } else if (arg == u"--user-workdir") {
            options.workFolder = userWorkFolder(dataHome);
        } else if (arg == u"--workdir" || arg.startsWith(u"--workdir=")) {
            QString folder;
            if (arg == u"--workdir") {
                if (i + 1 >= arguments.size())
                    return fail(QStringLiteral("选项 “--workdir” 缺少取值（工作文件夹）"));
                folder = arguments[++i];
            } else {
                folder = arg.mid(int(qstrlen("--workdir=")));
            }
            if (folder.isEmpty()) return fail(QStringLiteral("选项 “--workdir” 的取值是空的"));
            options.workFolder = QDir::cleanPath(current.absoluteFilePath(folder));
        } else {
            return fail(QStringLiteral("不认识的选项 “%1”").arg(arg));
        }
    }
    return options;
}

Status enterWorkFolder(const QString& folder) {
    const QFileInfo info(folder);
    if (info.exists() && !info.isDir())
        return Status::ioError(
            QStringLiteral("工作文件夹 %1 不能使用：同名的文件已存在，它不是文件夹").arg(folder));
    if (!info.exists() && !QDir().mkpath(folder))
        return Status::ioError(QStringLiteral("工作文件夹 %1 无法创建：%2")
                                   .arg(folder, QString::fromLocal8Bit(std::strerror(errno))));
    if (::chdir(QFile::encodeName(folder).constData()) != 0)
        return Status::ioError(QStringLiteral("无法进入工作文件夹 %1：%2")
                                   .arg(folder, QString::fromLocal8Bit(std::strerror(errno))));
    return Status::ok();
}

QString startUsageText() {
    return QStringLiteral(
        "用法：quellar [选项] [文件1 [文件2]]\n"
        "\n"
        "打开 Quellar 窗口；给出的工作簿（.xlsx、.xlsm、.xls、.xml、.csv）作为文件一和文件二打开。\n"
        "\n"
        "选项：\n"
        "  --workdir 文件夹    在这个文件夹中工作（不存在时创建）\n"
        "  --user-workdir      在每个用户自己的工作文件夹中工作：$XDG_DATA_HOME/quellar\n"
        "                      （默认 ~/.local/share/quellar）；桌面菜单启动时使用\n"
        "  -v, --version       显示版本号\n"
        "  -h, --help          显示本说明\n"
        "\n"
        "工作文件 1.xml、2.xml、3.xml、对比报告 report.htm 和条件页面 tj_select.htm、tj_sum.htm\n"
        "写在工作文件夹中；不给 --workdir 时就是启动时的当前文件夹。\n");
}

QString startVersionText() {
    return QStringLiteral("quellar " QUELLAR_VERSION);
}

} // namespace quellar
