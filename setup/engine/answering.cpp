#include "answering.h"

#include <mmsystem.h>

static int gAnswering;
static DWORD gLastLookMs;

// How long the pauses go without a look when nothing is sent: far below the
// 5 s after which the system takes a program for hung, and long enough that
// the looks, each a call into the system that costs some 0.5 ms under Wine,
// do not add up over the install's six hundred pauses. A message that is
// sent ends a pause's wait at once, whenever the last look was.
static const DWORD kLookEveryMs = 100;

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
    gLastLookMs = timeGetTime();
}

// The multimedia timer's count, as the pauses' own fallback clock uses it; a
// count that went back (it wraps after 49 days) makes a look due.
void LookWhenDue()
{
    if (timeGetTime() - gLastLookMs >= kLookEveryMs)
        AnswerSentMessages();
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
