#include "app/ToolApp.h"

#include "app/MainDialog.h"
#include "app/QtPrompter.h"

ToolApp::ToolApp(int& argc, char** argv)
    : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Vintrel_Tool"));
}

int ToolApp::InitInstance()
{
    QtPrompter prompter;
    SystemClock clock;
    MainDialog::Services services;
    services.prompter = &prompter;
    services.clock = &clock;
    MainDialog window(services);
    prompter.setOwner(&window);
    // An accepted close request ends the process from inside the run; the
    // modal run returns only when set-up stopped early.
    if (window.OnInitDialog())
        window.exec();
    return 0;
}
