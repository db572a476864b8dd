#pragma once

// Ends the process at once with the status: no window or thread is torn down
// first. Tests replace the handler; when it returns, so does endProcess.
namespace ProcessEnd {

using Handler = void (*)(int status);

void endProcess(int status);
void setHandler(Handler handler); // nullptr restores _exit

} // namespace ProcessEnd
