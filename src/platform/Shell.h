#pragma once

#include <QString>

namespace Shell {

// Hands a document to the desktop's program for it; does not wait.
bool openDocument(const QString& path);
// Starts a program detached; does not wait.
bool startProgram(const QString& path);

// Tests record what would have been opened instead of opening it.
using Hook = void (*)(const QString& path);
void setHook(Hook hook);

} // namespace Shell
