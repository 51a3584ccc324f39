#include "answering.h"

static int gAnswering;

// A look that removes nothing: the system delivers every message sent to the
// thread's windows before it reports what is queued, and the queue stays as
// it was. Both calls and the flag exist on Windows 95 and NT 4 as on today's
// Windows, whose test for a hung program is exactly such a look.
void AnswerSentMessages()
{
    ++gAnswering;
    MSG msg;
    ::PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE);
    --gAnswering;
}

// Wakes for sent messages only: queued input and posted messages do not end
// the wait, so a click given during the install does not turn it into a spin.
void WaitAnswering(DWORD ms)
{
    if (::MsgWaitForMultipleObjects(0, NULL, FALSE, ms, QS_SENDMESSAGE) == WAIT_OBJECT_0)
        AnswerSentMessages();
}

bool AnsweringSentMessages()
{
    return gAnswering > 0;
}
