#ifndef QTTESTWATCHDOG_H
#define QTTESTWATCHDOG_H

// QtTest starts its watchdog thread after a test's initTestCase_data() and
// before its initTestCase(). In a process that has run the OpenCL runtime,
// that thread's Qt bookkeeping is now and then still allocated at exit with
// nothing pointing to it, and the leak check of a sanitizer build fails the
// test for memory that only QtTest ever held.
//
// A test that meets this calls watchdogStarting() from its
// initTestCase_data() and watchdogStarted() first thing in initTestCase():
// what the main thread allocates in between (QtTest's own set-up) is not
// reported as leaked. Everything the test itself allocates still is.
void watchdogStarting();
void watchdogStarted();

#endif
