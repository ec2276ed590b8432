#include "app/programarguments.h"
#include "app/startup.h"
#include "app/tapplication.h"
#include "engine/standarddescriptors.h"

#include <QByteArray>
#include <QLibraryInfo>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

// The folders where the toolkit looks for its window-system plugins, as it does: beside the
// program, in each folder of QT_PLUGIN_PATH, in its own plugin folder, and in
// QT_QPA_PLATFORM_PLUGIN_PATH.
std::vector<std::string> PlatformPluginFolders() {
    std::vector<std::string> folders;
    const QByteArray installed = QLibraryInfo::path(QLibraryInfo::PluginsPath).toLocal8Bit();
    folders.push_back(installed.toStdString() + "/platforms");
    for (const QByteArray& folder : qgetenv("QT_PLUGIN_PATH").split(':'))
        if (!folder.isEmpty())
            folders.push_back(folder.toStdString() + "/platforms");
    if (const QByteArray folder = qgetenv("QT_QPA_PLATFORM_PLUGIN_PATH"); !folder.isEmpty())
        folders.push_back(folder.toStdString());
    char program[4096];
    if (const ssize_t length = ::readlink("/proc/self/exe", program, sizeof program - 1); length > 0) {
        std::string path(program, static_cast<std::size_t>(length));
        folders.push_back(path.substr(0, path.rfind('/')) + "/platforms");
    }
    return folders;
}

std::string WorkingFolder() {
    std::vector<char> buffer(4096);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr && errno == ERANGE)
        buffer.resize(buffer.size() * 2);
    return buffer.data();
}

} // namespace

int main(int argc, char* argv[]) {
    if (!veltrane::OpenStandardDescriptors())
        return 1;
    if (const auto status = veltrane::AnswerBeforeWindows(argc, argv, PlatformPluginFolders()))
        return *status;
    // Only the arguments before a "--" are the toolkit's to read; it takes its own options out.
    const std::vector<std::string> afterDashes = veltrane::ArgumentsAfterDashes(argc, argv);
    int toolkitArgc = veltrane::ToolkitArgumentCount(argc, argv);
    // The desktop entry that the window belongs to, for its icon and name in docks and task bars.
    QGuiApplication::setDesktopFileName(QStringLiteral(VELTRANE_APP_ID));
    veltrane::TApplication application(toolkitArgc, argv);
    std::string unknown;
    const auto files = veltrane::FileArguments(toolkitArgc, argv, afterDashes, WorkingFolder(), unknown);
    if (!files) {
        std::fprintf(stderr, "veltrane: unknown option %s (veltrane --help lists the options)\n", unknown.c_str());
        return 2;
    }
    std::vector<QByteArray> startFiles;
    for (const std::string& file : *files)
        startFiles.push_back(QByteArray::fromStdString(file));
    return veltrane::RunProgram(application, {}, startFiles);
}
