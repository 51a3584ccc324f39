// The setup keeps answering Windows while it installs. The install runs inside
// the installing page's creation, with no message loop; yet the messages that
// other threads and processes send to the setup's windows are answered
// whenever the install waits and between its stretches of work: the system's
// own test whether a program still responds, a task manager's close, the
// session's question whether it may end, a screen reader's text query. So
// Windows never takes the setup for hung ("Not Responding"), and nothing that
// sends to it waits for the install. Nothing else is taken: posted messages,
// clicks and keys stay queued until the install has returned.
#pragma once

#include <windows.h>

// Answers the messages sent to this thread's windows so far, and tells the
// system that the thread still looks at its queue. Takes no posted message
// and no input.
void AnswerSentMessages();

// Looks at the queue as AnswerSentMessages does when the last look is 100 ms
// old or more: often enough for the system, seldom enough to cost little.
void LookWhenDue();

// Waits up to ms milliseconds for a message sent to this thread's windows and
// answers it; returns early once it has answered some.
void WaitAnswering(DWORD ms);

// Whether the thread is answering sent messages in the middle of the install:
// a window's handling must then start no message loop of its own, which would
// take the queued input and posted messages before the install has returned.
bool AnsweringSentMessages();
