#pragma once
// Ctrl-C (SIGINT) and SIGTERM as something a loop waits for. The handler only writes a byte
// to a pipe, so whichever thread of the process the signal reaches (the library has threads of
// its own), the waiting loop wakes at once. One object at a time; it restores the default
// actions when it goes.
class CStopSignal
{
public:
    CStopSignal();
    ~CStopSignal();
    CStopSignal(const CStopSignal&) = delete;
    CStopSignal& operator=(const CStopSignal&) = delete;

    // Waits at most nTimeoutMs; true once a stop signal has come (now or earlier).
    bool WaitFor(int nTimeoutMs);
    // The stop signal that came (SIGINT or SIGTERM), 0 while none has.
    int Signal() const;
    // Readable once a stop signal has come, for a loop that polls other descriptors too; -1
    // when the handlers could not be set (a signal then ends the program).
    int Handle() const;
};
