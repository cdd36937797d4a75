#pragma once

// The Firebird client library catches SIGINT and SIGTERM from the first attach on: its
// handler (chained in front of any handler the program installed earlier) wakes a thread
// of the library that shuts every attachment of the process down, without ending the
// process. Every later call then fails with "connection shutdown.", so a program that
// asks the operator about unsaved work before it ends can no longer save it.
//
// The library lets a program refuse a shutdown it starts on a signal. After the call
// below a signal leaves the attachments alone and reaches only the program's own handler,
// installed before or after the first attach: before, the library's handler calls it;
// after, it replaces the library's. The shutdown at exit is not refused.

// Registers the refusal; more calls do nothing more. False when the client library would
// not take it: a signal then still shuts the attachments down.
bool LeaveSignalsToProgram();
