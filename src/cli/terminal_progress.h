#pragma once
// A worker's progress on the terminal. The calling thread receives the
// progress messages and shows them on stderr: one line redrawn in place on a
// terminal, a line per step when stderr is a pipe or a file.
//
// Ctrl-C sets the worker's stop flag, so the run ends with RUN_STOPPED (the
// caller then writes nothing); a second Ctrl-C ends the process at once.
// Where the shell started us with SIGINT ignored (a background job), it
// stays ignored.
#include "platform/win_types.h"

class CCommonThread;

// Starts the worker with the terminal as its receiver, runs it to its end
// and waits for its thread. Answers the run's result code, RUN_NOT_REPORTED
// when the thread could not be started. totalSteps: the step texts the run
// will announce, shown as "step / total".
[[nodiscard]] DWORD RunWithTerminalProgress(CCommonThread& worker, int totalSteps);
