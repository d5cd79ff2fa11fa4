#pragma once
// A worker thread that is never started: the trace steps report progress and
// poll its stop flag, and the tests read what it sent.
#include "trace/common_thread.h"

class CIdleWorker : public CCommonThread {
protected:
    DWORD Run() override { return 0; }
};
