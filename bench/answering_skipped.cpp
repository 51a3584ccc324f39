// The setup as it was before it answered Windows while it installs, for the
// install benchmark's build of setup.exe that takes this in place of the
// answering: the pauses sleep, and the queue is never looked at until the
// install has returned.
#include "answering.h"

void AnswerSentMessages()
{
}

void LookWhenDue()
{
}

void WaitAnswering(DWORD ms)
{
    Sleep(ms);
}

bool AnsweringSentMessages()
{
    return false;
}
