#include "app/programarguments.h"
#include "app/startup.h"
#include "app/tapplication.h"
#include "engine/standarddescriptors.h"

int main(int argc, char* argv[]) {
    if (!veltrane::OpenStandardDescriptors())
        return 1;
    if (const auto status = veltrane::AnswerBeforeWindows(argc, argv))
        return *status;
    // The desktop entry that the window belongs to, for its icon and name in docks and task bars.
    QGuiApplication::setDesktopFileName(QStringLiteral(VELTRANE_APP_ID));
    veltrane::TApplication application(argc, argv);
    return veltrane::RunProgram(application);
}
