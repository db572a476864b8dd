#pragma once

#include <QApplication>

// The application object: runs the main window modally and ends with it.
class ToolApp final : public QApplication
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ToolApp)

public:
    ToolApp(int& argc, char** argv);

    // Set-up and modal run of the main window; returns the exit status.
    int InitInstance();
};
